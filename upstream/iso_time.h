// UTC times as the messages carry them: "2026-12-10T11:40:02Z".
#ifndef VELTA36_UPSTREAM_ISO_TIME_H
#define VELTA36_UPSTREAM_ISO_TIME_H

#include <chrono>
#include <optional>
#include <string>

namespace velta36up {

using WallClock = std::chrono::system_clock;

std::string IsoUtc(WallClock::time_point when);

// "YYYY-MM-DDThh:mm:ss", optionally ".digits", then "Z" or "+hh:mm" /
// "-hh:mm" (a space may stand for the 'T'). Nothing else.
std::optional<WallClock::time_point> ParseIsoTime(const std::string& text);

}  // namespace velta36up

#endif
