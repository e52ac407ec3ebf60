// Layout of one 23-byte event record of the controller's event reply, and
// the reading of its fields. All fields are ASCII:
//   0 kind, 1 reader, 2..3 direction (kind 3: byte 3 is the channel digit),
//   4..7 card digits, 8 first flag byte, 9 second flag byte (kind 3: state),
//   10..11 hour, 12..13 minute, 14..15 day, 16 unused, 17..18 month,
//   19..20 year - 2000, 21 '8', 22 line feed.
#ifndef VELTA36_PROTOCOL_EVENT_RECORD_H
#define VELTA36_PROTOCOL_EVENT_RECORD_H

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace velta36 {

const int kRecordSize = 23;

enum RecordOffset {
    REC_KIND = 0,
    REC_READER = 1,
    REC_DIRECTION = 2,
    REC_CHANNEL = 3,
    REC_CARD = 4,
    REC_FLAGS_1 = 8,
    REC_FLAGS_2 = 9,
    REC_HOUR = 10,
    REC_MINUTE = 12,
    REC_DAY = 14,
    REC_MONTH = 17,
    REC_YEAR = 19,
    REC_TAIL_MARK = 21,
    REC_TAIL_END = 22
};

// The record's date and time fields as the controller wrote them. Each is
// (first digit - '0') * 10 + (second digit - '0'), computed even when the
// characters are not digits, so the values may lie outside any range.
struct RecordClock {
    int year;     // 2000 + the two year digits
    int month;
    int day;
    int hour;
    int minute;
    bool allDigits;   // every one of the ten characters is '0'..'9'
};

RecordClock ReadRecordClock(const unsigned char* record);

// The local date and time the fields name, seconds 0; not-a-date-time when
// they name none (month 00 or 13, 30 February, hour 24, minute 60, a
// character that is no digit, ...).
boost::posix_time::ptime ToEventTime(const RecordClock& clock);

// A record counts only when it ends with '8' and a line feed.
bool HasRecordTail(const unsigned char* record);

}  // namespace velta36

#endif
