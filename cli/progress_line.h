// The progress line of `run`: "draining: 120 events stored of 400, 17
// rounds, 85 events/s, about 4 s left" on a terminal, while events come.
// The rate counts from the first event stored; the estimate needs the
// events waiting, known only for the built-in simulated controller (a real
// controller does not say how many it holds).
#ifndef VELTA36_CLI_PROGRESS_LINE_H
#define VELTA36_CLI_PROGRESS_LINE_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

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
    std::string rateText(std::chrono::steady_clock::time_point now) const;

    Console& console_;
    const velta36site::Site& site_;
    std::optional<uint64_t> seeded_;
    uint64_t stored_ = 0;
    bool behind_ = false;   // events came since the line was shown
    std::chrono::steady_clock::time_point shownAt_;
    std::chrono::steady_clock::time_point firstAt_;
};

}  // namespace velta36cli

#endif
