#include "progress_line.h"

#include <cstdio>

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
    if (stored_++ == 0)
        firstAt_ = std::chrono::steady_clock::now();
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
    text += ", " + std::to_string(rounds) + " rounds" + rateText(std::chrono::steady_clock::now());
    console_.progress(text);
    shownAt_ = std::chrono::steady_clock::now();
    behind_ = false;
}

// ", 85 events/s, about 4 s left"; nothing until a rate can be told.
std::string ProgressLine::rateText(std::chrono::steady_clock::time_point now) const
{
    const double seconds = std::chrono::duration<double>(now - firstAt_).count();
    if (stored_ < 2 || seconds < 0.5)
        return "";
    const double rate = static_cast<double>(stored_ - 1) / seconds;
    char text[80];
    std::snprintf(text, sizeof(text), ", %.0f events/s", rate);
    std::string line = text;
    if (seeded_ && *seeded_ > stored_ && rate > 0) {
        std::snprintf(text, sizeof(text), ", about %.0f s left", static_cast<double>(*seeded_ - stored_) / rate);
        line += text;
    }
    return line;
}

}  // namespace velta36cli
