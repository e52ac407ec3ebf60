#include "velta36sim/civil_time.h"

#include <cstdio>

namespace velta36sim {

namespace {

bool IsLeap(int32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int32_t year, int32_t month)
{
    static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeap(year))
        return 29;
    return kDays[month - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int32_t& year, int32_t& month, int32_t& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int32_t>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

const int64_t kDaysTo2000 = 10957;   // 1970-01-01 .. 2000-01-01

}  // namespace

bool CivilTime::operator==(const CivilTime& other) const
{
    return year == other.year && month == other.month && day == other.day &&
           hour == other.hour && minute == other.minute && second == other.second;
}

bool IsValid(const CivilTime& t)
{
    if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12)
        return false;
    if (t.day < 1 || t.day > DaysInMonth(t.year, t.month))
        return false;
    return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
           t.second >= 0 && t.second < 60;
}

int64_t ToSeconds(const CivilTime& t)
{
    const int64_t days = DaysFromCivil(t.year, t.month, t.day) - kDaysTo2000;
    return ((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
}

CivilTime FromSeconds(int64_t seconds)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t;
    CivilFromDays(days + kDaysTo2000, t.year, t.month, t.day);
    t.hour = static_cast<int32_t>(rest / 3600);
    t.minute = static_cast<int32_t>(rest / 60 % 60);
    t.second = static_cast<int32_t>(rest % 60);
    return t;
}

int32_t ControllerWeekday(const CivilTime& t)
{
    // 1970-01-01 was a Thursday (controller digit 5).
    const int64_t days = DaysFromCivil(t.year, t.month, t.day);
    int64_t fromSunday = (days + 4) % 7;
    if (fromSunday < 0)
        fromSunday += 7;
    return static_cast<int32_t>(fromSunday) + 1;
}

std::string ToText(const CivilTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                  static_cast<int>(t.year), static_cast<int>(t.month), static_cast<int>(t.day),
                  static_cast<int>(t.hour), static_cast<int>(t.minute), static_cast<int>(t.second));
    return text;
}

}  // namespace velta36sim
