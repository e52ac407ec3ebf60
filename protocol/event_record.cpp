#include "event_record.h"

#include <boost/date_time/gregorian/gregorian_types.hpp>

namespace velta36 {
namespace {

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

int TwoDigitField(const unsigned char* field)
{
    return (field[0] - '0') * 10 + (field[1] - '0');
}

}  // namespace

RecordClock ReadRecordClock(const unsigned char* record)
{
    RecordClock clock;
    clock.year = 2000 + TwoDigitField(record + REC_YEAR);
    clock.month = TwoDigitField(record + REC_MONTH);
    clock.day = TwoDigitField(record + REC_DAY);
    clock.hour = TwoDigitField(record + REC_HOUR);
    clock.minute = TwoDigitField(record + REC_MINUTE);
    const int fields[5] = {REC_YEAR, REC_MONTH, REC_DAY, REC_HOUR, REC_MINUTE};
    clock.allDigits = true;
    for (int offset : fields)
        clock.allDigits = clock.allDigits && IsDigit(record[offset]) && IsDigit(record[offset + 1]);
    return clock;
}

boost::posix_time::ptime ToEventTime(const RecordClock& clock)
{
    using boost::gregorian::gregorian_calendar;
    // Checked here rather than left to the date library: it throws on a bad
    // day or month, and an hour of 24 would silently roll into the next day.
    const bool valid = clock.allDigits && clock.month >= 1 && clock.month <= 12 && clock.day >= 1 &&
                       clock.day <= gregorian_calendar::end_of_month_day(
                                        static_cast<unsigned short>(clock.year),
                                        static_cast<unsigned short>(clock.month)) &&
                       clock.hour <= 23 && clock.minute <= 59;
    if (!valid)
        return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    const boost::gregorian::date day(static_cast<unsigned short>(clock.year),
                                     static_cast<unsigned short>(clock.month),
                                     static_cast<unsigned short>(clock.day));
    return boost::posix_time::ptime(day, boost::posix_time::hours(clock.hour) +
                                             boost::posix_time::minutes(clock.minute));
}

bool HasRecordTail(const unsigned char* record)
{
    return record[REC_TAIL_MARK] == '8' && record[REC_TAIL_END] == '\n';
}

}  // namespace velta36
