#include "progress_line.h"

namespace velta36cli {

namespace {

// The line follows events at most this often (and after each round).
const std::chrono::milliseconds kProgressEvery(100);

}  // namespace

ProgressLine::ProgressLine(Console& console, const velta36site::Site& site, std::optional<uint64_t> seeded)
    : console_(console), site_(site), seeded_(seeded)
{
}

void ProgressLine::onEventStored(const velta36site::DeviceIdentity&, const velta36site::StoredEvent&)
{
    ++stored_;
    behind_ = true;
    if (std::chrono::steady_clock::now() - shownAt_ >= kProgressEvery)
        show();
}

void ProgressLine::onRoundCompleted(const velta36site::DeviceIdentity&)
{
    if (behind_)
        show();
}

void ProgressLine::show()
{
    if (!console_.showsProgress())
        return;
    uint64_t rounds = 0;
    for (const velta36site::DeviceStatus& device : site_.status())
        rounds += device.progress.roundsCompleted;
    std::string text = "draining: " + std::to_string(stored_) + " events stored";
    if (seeded_)
        text += " of " + std::to_string(*seeded_);
    text += ", " + std::to_string(rounds) + " rounds";
    console_.progress(text);
    shownAt_ = std::chrono::steady_clock::now();
    behind_ = false;
}

}  // namespace velta36cli
