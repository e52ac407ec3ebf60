// Reading a day written YYYY-MM-DD, as card end dates are given. Header
// only and C++14: the plug-in's argument check and the tool's request
// builders read dates with this one function.
#ifndef VELTA36_CONTROL_CALENDAR_DATE_H
#define VELTA36_CONTROL_CALENDAR_DATE_H

#include <string>

namespace velta36 {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// True when the first ten characters of text are a real day written
// YYYY-MM-DD (digits but for '-' at offsets 4 and 7; month 01..12, a day
// the month has, 29 February only in leap years); the day is stored in
// date. Any year of four digits is read; what follows the ten characters
// is not looked at.
inline bool ReadCalendarDate(const std::string& text, CalendarDate& date)
{
    if (text.size() < 10)
        return false;
    int fields[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 10; ++i) {
        const char c = text[i];
        if (i == 4 || i == 7) {
            if (c != '-')
                return false;
            continue;
        }
        if (c < '0' || c > '9')
            return false;
        int& field = fields[i < 4 ? 0 : i < 7 ? 1 : 2];
        field = field * 10 + (c - '0');
    }
    const int year = fields[0], month = fields[1], day = fields[2];
    if (month < 1 || month > 12 || day < 1)
        return false;
    static const int kDaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDaysIn[month - 1] + (month == 2 && leap ? 1 : 0))
        return false;
    date.year = year;
    date.month = month;
    date.day = day;
    return true;
}

}  // namespace velta36

#endif
