#include "iso_time.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace velta36up {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& out)
{
    if (at + count > text.size())
        return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::string IsoUtc(WallClock::time_point when)
{
    const std::time_t seconds = WallClock::to_time_t(when);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<WallClock::time_point> ParseIsoTime(const std::string& text)
{
    int year, month, day, hour, minute, second;
    if (!Digits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' || !Digits(text, 5, 2, month) ||
        text[7] != '-' || !Digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ') ||
        !Digits(text, 11, 2, hour) || text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' ||
        !Digits(text, 17, 2, second))
        return std::nullopt;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // The clock counts nanoseconds in 64 bits: about 1678 to 2262.
    if (year < 1970 || year > 2200)
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    int64_t micros = 0;
    if (text[at] == '.') {
        ++at;
        const std::size_t first = at;
        int64_t scale = 100000;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            micros += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == first || at - first > 9)
            return std::nullopt;
    }
    int64_t offsetSeconds = 0;
    if (at < text.size() && text[at] == 'Z' && at + 1 == text.size()) {
        // UTC
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':') {
        int oh, om;
        if (!Digits(text, at + 1, 2, oh) || !Digits(text, at + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (text[at] == '+' ? 1 : -1);
    } else {
        return std::nullopt;
    }
    if (month == 2 && day == 29 && !((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return std::nullopt;
    const int64_t seconds =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
    return WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
        std::chrono::seconds(seconds) + std::chrono::microseconds(micros)));
}

}  // namespace velta36up
