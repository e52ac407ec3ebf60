// The lines a device writes on standard output, told apart by device.
//
// A plug-in logs with std::cout, which the whole process shares; the
// devices of several lines write at the same time. While a
// DeviceLogCapture exists, every line written to std::cout on a thread
// that has a DeviceLogSink is handed to that sink, whole, and then passed
// on unchanged to wherever std::cout wrote before. Output of other threads
// passes through untouched. The host gives each line thread a sink and
// knows which device that thread is calling into.
#ifndef VELTA36_REFHOST_DEVICE_LOG_H
#define VELTA36_REFHOST_DEVICE_LOG_H

#include <functional>
#include <string>

namespace refhost {

// Installs the capture on std::cout for its lifetime (nested captures
// share one). Construct and destroy on the same thread, after and before
// anything else that swaps std::cout's buffer, in last-in first-out order.
class DeviceLogCapture {
public:
    DeviceLogCapture();
    ~DeviceLogCapture();
    DeviceLogCapture(const DeviceLogCapture&) = delete;
    DeviceLogCapture& operator=(const DeviceLogCapture&) = delete;
};

// For its lifetime, lines written to std::cout on the constructing thread
// go to `onLine` (without their line feed). A line left unfinished is
// handed over when the sink ends.
class DeviceLogSink {
public:
    using OnLine = std::function<void(const std::string&)>;
    explicit DeviceLogSink(OnLine onLine);
    ~DeviceLogSink();
    DeviceLogSink(const DeviceLogSink&) = delete;
    DeviceLogSink& operator=(const DeviceLogSink&) = delete;

    void take(const char* text, std::size_t length);
    void finish();

private:
    OnLine onLine_;
    std::string pending_;
    DeviceLogSink* outer_;
};

}  // namespace refhost

#endif
