// The metrics file of `velta36 run --metrics FILE`, for Prometheus (node
// exporter's textfile collector, or anything that reads the text format):
// per device the rounds completed and timed out, the events stored and the
// saves that failed since the run began, the database fault state, the age
// of the last completed round, the door states, and whether the device's
// line is open (with the error while it cannot be).
//
// The file is replaced as a whole (written beside it, then renamed), so a
// reader never sees half of it.
#ifndef VELTA36_CLI_METRICS_FILE_H
#define VELTA36_CLI_METRICS_FILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velta36cli {

struct DeviceMetrics {
    std::string name;
    std::string port;
    int32_t address = 0;
    uint64_t roundsCompleted = 0;
    uint64_t roundsTimedOut = 0;
    uint64_t eventsStored = 0;
    uint64_t savesFailed = 0;
    bool databaseFault = false;
    std::optional<double> lastRoundAgeSeconds;   // none before the first round
    int32_t doors = 1;
    std::optional<bool> door1Open, door2Open;    // none until reported
    bool lineOpen = true;
    std::string lineError;                       // why the port cannot be opened
};

// The MQTT upstream's figures (`run --mqtt`), from Upstream::stats().
struct UpstreamMetrics {
    bool connected = false;
    uint64_t published = 0;      // event messages handed to the broker, resends included
    uint64_t acknowledged = 0;   // of them, acknowledged with success
    uint64_t backlog = 0;        // stored and not yet acknowledged
    std::optional<double> lastAckAgeSeconds;   // none before the first acknowledgement
    uint64_t commandsCarriedOut = 0;
    uint64_t commandsRefused = 0;
};

// The text format, each metric with its HELP and TYPE lines; samples that
// are not known yet (no round, no door report) are left out. The upstream's
// figures follow when there is one.
std::string MetricsText(const std::vector<DeviceMetrics>& devices,
                        const std::optional<UpstreamMetrics>& upstream = std::nullopt);

class MetricsFile {
public:
    // Checks that the file can be written where it goes (its folder exists
    // and takes a file); throws InputError with one line otherwise. A
    // relative path is taken from the current folder, now.
    explicit MetricsFile(const std::string& path);

    // Replaces the file; false, with the reason, when that failed (the old
    // file then stays as it was).
    bool write(const std::string& text, std::string& why);

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string temporary_;
};

}  // namespace velta36cli

#endif
