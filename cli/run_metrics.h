// `velta36 run --metrics FILE`: the metrics file kept up to date while the
// host runs. Written after every completed round, at most a few times a
// second and at least every few seconds (so the age of the last round
// keeps counting on a line that went quiet), and once more at the end.
#ifndef VELTA36_CLI_RUN_METRICS_H
#define VELTA36_CLI_RUN_METRICS_H

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "console.h"
#include "host_session.h"
#include "metrics_file.h"

namespace velta36cli {

class RunMetrics {
public:
    // Checks the path (InputError): before the session changes folder.
    explicit RunMetrics(const std::string& path);

    // An event of this data id was stored (as the run's tail reads it).
    void countStored(int64_t dataId);
    // Writes when due; `last` writes whatever is due.
    void update(HostSession& session, Console& console, bool last = false);
    // The last write failed (the run then ends with status 1).
    bool failed() const { return failed_; }

private:
    MetricsFile file_;
    std::map<int64_t, uint64_t> stored_;
    uint64_t roundsWritten_ = 0;
    std::chrono::steady_clock::time_point writtenAt_;
    bool written_ = false;
    bool failed_ = false;
};

}  // namespace velta36cli

#endif
