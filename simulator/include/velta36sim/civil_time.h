// Calendar time as the controller keeps it: minutes resolution on the wire,
// seconds kept for the clock. Converted through a day count of our own so
// that nothing depends on the width of time_t or on the local time zone.
#ifndef VELTA36SIM_CIVIL_TIME_H
#define VELTA36SIM_CIVIL_TIME_H

#include <cstdint>
#include <string>

namespace velta36sim {

struct CivilTime {
    int32_t year = 2024;
    int32_t month = 1;    // 1..12
    int32_t day = 1;      // 1..31
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;

    bool operator==(const CivilTime& other) const;
    bool operator!=(const CivilTime& other) const { return !(*this == other); }
};

// True when the fields name a real date and time (years 2000..2099, the
// only ones the controller's two year digits can carry).
bool IsValid(const CivilTime& time);

// Seconds since 2000-01-01 00:00:00 and back.
int64_t ToSeconds(const CivilTime& time);
CivilTime FromSeconds(int64_t seconds);

// Day of the week the way the controller counts it: 1 = Sunday .. 7 = Saturday.
int32_t ControllerWeekday(const CivilTime& time);

// "YYYY-MM-DD hh:mm:ss", for messages and test output.
std::string ToText(const CivilTime& time);

}  // namespace velta36sim

#endif
