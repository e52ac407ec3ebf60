// The progress line of `run`: "draining: 120 events stored of 400, 17
// rounds" on a terminal, while events come.
#ifndef VELTA36_CLI_PROGRESS_LINE_H
#define VELTA36_CLI_PROGRESS_LINE_H

#include <chrono>
#include <cstdint>
#include <optional>

#include "console.h"
#include "site.h"
#include "site_listener.h"

namespace velta36cli {

class ProgressLine : public velta36site::SiteListener {
public:
    // seeded: the events the built-in simulated controller started with.
    ProgressLine(Console& console, const velta36site::Site& site, std::optional<uint64_t> seeded);

    void onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row) override;
    void onRoundCompleted(const velta36site::DeviceIdentity& device) override;

private:
    void show();

    Console& console_;
    const velta36site::Site& site_;
    std::optional<uint64_t> seeded_;
    uint64_t stored_ = 0;
    bool behind_ = false;   // events came since the line was shown
    std::chrono::steady_clock::time_point shownAt_;
};

}  // namespace velta36cli

#endif
