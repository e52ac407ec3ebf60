// A bare UniDataDevice of the velta36 record attached to a reference host
// whose every call is recorded: the generic layer's behaviour without the
// controller protocol or the event database.
#ifndef VELTA36_TESTS_DEVICE_RECORDING_DEVICE_H
#define VELTA36_TESTS_DEVICE_RECORDING_DEVICE_H

#include <functional>
#include <string>
#include <vector>

#include "refhost/device_host.h"
#include "refhost/memory_transport.h"
#include "uni_data_device.h"
#include "velta36_data.h"

class GenericDevice : public UniDataDevice<VELTA36_Data_t, ZRMSPDevice, 5045> {};

struct RecordingDevice {
    refhost::MemoryTransport line;
    refhost::DeviceHost host{&line};
    GenericDevice device;
    std::vector<refhost::HostEvent> events;
    // Runs before an event is recorded; throwing here makes the host
    // function throw.
    std::function<void(const refhost::HostEvent&)> fault;

    RecordingDevice()
    {
        host.attach(device);
        host.setObserver([this](const refhost::HostEvent& event) {
            if (fault)
                fault(event);
            events.push_back(event);
        });
    }

    std::vector<std::string> kinds() const
    {
        std::vector<std::string> names;
        for (const refhost::HostEvent& event : events)
            names.push_back(refhost::KindName(event.kind));
        return names;
    }

    const refhost::HostEvent* first(refhost::HostEvent::Kind kind) const
    {
        for (const refhost::HostEvent& event : events)
            if (event.kind == kind)
                return &event;
        return nullptr;
    }

    std::vector<unsigned char> recordBytes() const
    {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&device.record);
        return std::vector<unsigned char>(bytes, bytes + sizeof(device.record));
    }
};

#endif
