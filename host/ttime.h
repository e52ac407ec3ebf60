// The host's 7-byte time stamp, carried verbatim in published data records.
#ifndef VELTA36_HOST_TTIME_H
#define VELTA36_HOST_TTIME_H

#include <boost/date_time/posix_time/posix_time_types.hpp>

// Layout (the reference host's choice): year as two bytes little-endian,
// then month (1-12), day (1-31), hour, minute, second. Not-a-date-time and
// the infinities give seven zero bytes.
struct ttime {
    unsigned char yearLow;
    unsigned char yearHigh;
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};

static_assert(sizeof(ttime) == 7, "ttime is exactly 7 bytes");

ttime get_ttime(const boost::posix_time::ptime& when);

#endif
