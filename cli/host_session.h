// One run of the host inside the tool: the devices from the configuration,
// the plug-in, the working folder with its event database, the built-in
// simulated controller when no port is given, and the scheduler over all
// lines.
#ifndef VELTA36_CLI_HOST_SESSION_H
#define VELTA36_CLI_HOST_SESSION_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "device_config.h"
#include "line_capture.h"
#include "refhost/plugin_loader.h"
#include "refhost/scheduler.h"
#include "refhost/serial_transport.h"
#include "simulated_line.h"

namespace velta36cli {

struct LineOptions {
    std::optional<std::string> port;
    std::optional<int32_t> baud;
    std::optional<int32_t> address;
    std::optional<std::string> config;
    std::string dir = ".";
    std::optional<std::string> plugin;
    bool trace = false;
    std::optional<std::string> capture;   // pcapng file of every chunk on the lines
    refhost::Rs485Settings rs485;
};

class HostSession {
public:
    // Everything up to, not including, starting the scheduler. Throws
    // InputError for bad input, std::runtime_error for what fails on the
    // system's side.
    HostSession(const LineOptions& options, const refhost::Scheduler::Options& schedule, Console& console,
                bool storesEvents);
    ~HostSession();

    refhost::Scheduler& scheduler() { return *scheduler_; }
    SimulatedLine* simulator() { return simulator_.get(); }
    const std::vector<DeviceSpec>& devices() const { return devices_; }
    // Where each device is, for messages: "/dev/ttyUSB0, address 1".
    std::string placeOf(std::size_t device) const;
    std::string doorsOf(std::size_t device) const;
    // What the device published last: its door bits (-1 before its first
    // round; bit 0 door 1 open, bit 1 door 2 open) and when.
    struct LastRound {
        int doors = -1;
        std::optional<std::chrono::steady_clock::time_point> at;
    };
    LastRound lastRoundOf(std::size_t device) const;
    std::string nameForDataId(int64_t dataId) const;
    // The capture asked for could not be written to the end.
    bool captureFailed() const { return capture_ && capture_->failed(); }

private:
    void onHostEvent(std::size_t device, const refhost::HostEvent& event);
    void onDatabaseChange(std::size_t device, const refhost::DatabaseHealth& health);
    void addCaptureInterface(std::size_t lineIndex, const LineSpec& line);
    void onLineTraffic(const refhost::TraceRecord& record, bool print);

    Console& console_;
    std::vector<DeviceSpec> devices_;
    std::unique_ptr<SimulatedLine> simulator_;
    std::shared_ptr<refhost::PluginLibrary> plugin_;
    std::unique_ptr<refhost::Scheduler> scheduler_;
    std::vector<std::string> places_;
    std::vector<int> doorState_;   // -1 unknown, else bit 0 door 1 open, bit 1 door 2 open
    std::vector<std::optional<std::chrono::steady_clock::time_point>> lastRoundAt_;
    mutable std::mutex doorMutex_;
    std::streambuf* savedCout_ = nullptr;
    std::unique_ptr<std::ostream> quiet_;
    std::unique_ptr<LineCapture> capture_;
    std::vector<uint32_t> captureInterfaces_;        // by line
    std::map<std::pair<std::size_t, std::string>, std::string> captureNotes_;   // (line, device) -> comment
};

}  // namespace velta36cli

#endif
