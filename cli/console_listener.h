// What `run` prints while the site runs: each event as it lands in the
// database, door states when they change, one line when a device's events
// stop being stored and one when they are stored again, one when a device
// stops answering (kSilentRounds timed out in a row) and one when it
// answers again, a port that cannot be opened (and once it opens), the
// outcome of each command it ran, and with --trace every frame on the
// lines (trace_frames.h), the timeouts, and the plug-in's own lines after
// "plug-in: ".
#ifndef VELTA36_CLI_CONSOLE_LISTENER_H
#define VELTA36_CLI_CONSOLE_LISTENER_H

#include <cstdint>
#include <vector>

#include "console.h"
#include "site.h"
#include "site_listener.h"
#include "trace_frames.h"

namespace velta36cli {

class ConsoleListener : public velta36site::SiteListener {
public:
    ConsoleListener(Console& console, const velta36site::Site& site);

    void onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row) override;
    void onDoorsChanged(const velta36site::DeviceIdentity& device, const velta36site::DoorStates& doors) override;
    void onRoundCompleted(const velta36site::DeviceIdentity& device) override;
    void onRoundTimedOut(const velta36site::DeviceIdentity& device) override;
    void onControlOutcome(const velta36site::DeviceIdentity& device, const velta36site::ControlRequest& request,
                          const velta36site::ControlOutcome& outcome) override;
    void onLineState(const velta36site::LineIdentity& line, bool open, const std::string& error) override;
    void onDatabaseFault(const velta36site::DeviceIdentity& device, const refhost::DatabaseHealth& health) override;
    void onTraffic(const refhost::TraceRecord& record) override;
    void onPluginLog(const velta36site::DeviceIdentity& device, const std::string& line) override;
    void onCaptureStopped(const std::string& why) override;

    // Event lines printed so far.
    uint64_t printed() const { return printed_; }

private:
    Console& console_;
    bool several_;
    bool trace_;
    TraceFrames frames_;
    uint64_t printed_ = 0;
    std::vector<uint32_t> timedOutInRow_;   // by device index
};

// Exchanges timed out in a row after which a device counts as silent.
const uint32_t kSilentRounds = 3;

}  // namespace velta36cli

#endif
