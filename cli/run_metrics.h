// `velta36 run --metrics FILE`: the metrics file kept up to date while the
// site runs, as a listener. Written after every completed round, at most a
// few times a second and at least every few seconds (so the age of the
// last round keeps counting on a line that went quiet), and once more at
// the end.
#ifndef VELTA36_CLI_RUN_METRICS_H
#define VELTA36_CLI_RUN_METRICS_H

#include <chrono>
#include <cstdint>
#include <functional>

#include "console.h"
#include "metrics_file.h"
#include "site.h"
#include "site_listener.h"

namespace velta36cli {

class RunMetrics : public velta36site::SiteListener {
public:
    // The file's path was checked when it was made (before the site
    // changed folder).
    RunMetrics(const MetricsFile& file, const velta36site::Site& site, Console& console);

    void onRoundCompleted(const velta36site::DeviceIdentity& device) override;
    void onTick() override;
    // The upstream's figures go into every write from now on.
    void addUpstream(std::function<UpstreamMetrics()> figures) { upstream_ = std::move(figures); }

    // Writes when due; `last` writes whatever is due. After Site::wait(),
    // the front end writes the last one.
    void update(bool last = false);
    // The last write failed (the run then ends with status 1).
    bool failed() const { return failed_; }

private:
    MetricsFile file_;
    const velta36site::Site& site_;
    Console& console_;
    std::function<UpstreamMetrics()> upstream_;
    uint64_t roundsWritten_ = 0;
    std::chrono::steady_clock::time_point writtenAt_;
    bool written_ = false;
    bool failed_ = false;
};

}  // namespace velta36cli

#endif
