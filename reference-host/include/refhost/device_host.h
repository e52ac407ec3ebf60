// The host side of one device object: the line it sends on, the delay it
// asked for before its next frame, the thresholds it is checked against, and
// whoever subscribed to what it publishes. Every host operation a plug-in
// calls reports itself as a HostEvent to the subscriber, so tools print
// them and tests assert on their order and arguments.
#ifndef VELTA36_REFHOST_DEVICE_HOST_H
#define VELTA36_REFHOST_DEVICE_HOST_H

#include <functional>
#include <string>
#include <vector>

#include "refhost/transport.h"

class ZRMVDevice;

namespace refhost {

struct HostEvent {
    enum class Kind {
        Send,            // bytes: the frame
        Delay,           // number: milliseconds
        Reset,
        RefreshStatus,
        OpenPort,
        ClosePort,
        SendSP,          // number: data type, bytes: record, flag
        History,         // bytes: record
        CheckAOReport,   // name, value, result
        CheckThreshold,  // name, text, value, number (kind), result
        BatchCheck,      // number: rule count, result
        HostSettings,    // the host's own settings step ran
        Log              // text: a line the device wrote on standard output
                         // (from hosts that capture it, such as the scheduler)
    };
    Kind kind;
    std::string name;
    std::string text;
    std::vector<unsigned char> bytes;
    int number = 0;
    float value = 0.0f;
    bool flag = false;
    bool result = false;
};

const char* KindName(HostEvent::Kind kind);

class DeviceHost {
public:
    using Observer = std::function<void(const HostEvent&)>;

    explicit DeviceHost(Transport* transport = nullptr) : transport_(transport) {}

    // Binds the device to this host; the host must outlive the binding.
    void attach(ZRMVDevice& device);

    Transport* transport() const { return transport_; }
    void setTransport(Transport* transport) { transport_ = transport; }

    // The observer runs synchronously inside the device's call; an exception
    // it throws leaves the host function (and so the device's operation).
    void setObserver(Observer observer) { observer_ = std::move(observer); }
    void notify(const HostEvent& event) const;

    void requestDelay(int ms) { pendingDelayMs_ = ms; }
    int takeDelay()
    {
        const int ms = pendingDelayMs_;
        pendingDelayMs_ = 0;
        return ms;
    }

private:
    Transport* transport_;
    Observer observer_;
    int pendingDelayMs_ = 0;
};

}  // namespace refhost

#endif
