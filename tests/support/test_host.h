// TestHost: one VELTA36 attached to a reference host over an in-memory
// line, with every host call the device makes collected in order.
//
//   velta36test::TestHost rig;              // device constructed, attached
//   rig.configure(R"({"address": 5})");     // VELTA36::InitSetting
//   rig.device->RefreshStatus();            // frames land in rig.transport
//   rig.receive(velta36test::Ack());        // VELTA36::process
//   rig.sentTexts();  rig.events;  rig.eventsOf(Kind::Reset);
//
// The device opens "ZRMDevice.db" relative to the working directory: make a
// TempWorkDir (and CreateEventDatabase) before the TestHost, or use the
// DeviceTest fixture of device_test.h, which does both.
#ifndef VELTA36_TESTS_SUPPORT_TEST_HOST_H
#define VELTA36_TESTS_SUPPORT_TEST_HOST_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/json.h>

#include "refhost/device_host.h"
#include "refhost/memory_transport.h"
#include "json_parse.h"
#include "velta36.h"

namespace velta36test {

class TestHost {
public:
    using Kind = refhost::HostEvent::Kind;

    TestHost() : transport(), host(&transport), device(new VELTA36())
    {
        host.attach(*device);
        host.setObserver([this](const refhost::HostEvent& event) { events.push_back(event); });
    }

    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // VELTA36::InitSetting with a configuration object or its JSON text.
    int configure(const Json::Value& config) { return device->InitSetting(config); }
    int configure(const std::string& json) { return configure(ParseJson(json)); }
    int configure(const char* json) { return configure(ParseJson(json)); }

    // Hands one received chunk to VELTA36::process; returns its result.
    int receive(const std::string& chunk)
    {
        std::vector<unsigned char> bytes(chunk.begin(), chunk.end());
        return device->process(bytes.data(), static_cast<unsigned int>(bytes.size()));
    }

    // The frames sent so far, as text, in order.
    std::vector<std::string> sentTexts() const { return transport.sentTexts(); }

    // The collected host events of one kind, in order.
    std::vector<refhost::HostEvent> eventsOf(Kind kind) const
    {
        std::vector<refhost::HostEvent> found;
        for (const refhost::HostEvent& event : events) {
            if (event.kind == kind)
                found.push_back(event);
        }
        return found;
    }

    // Forgets the frames sent and the events collected so far.
    void clear()
    {
        transport.clearSent();
        events.clear();
    }

    refhost::MemoryTransport transport;
    refhost::DeviceHost host;
    std::unique_ptr<VELTA36> device;
    std::vector<refhost::HostEvent> events;   // every host call, in order
};

}  // namespace velta36test

#endif
