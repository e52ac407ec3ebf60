// The published record and the host's time stamp, byte by byte: the host and
// its cache take both as raw bytes.
#include <cstddef>
#include <cstring>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "uni_data_device.h"
#include "velta36_data.h"

TEST(RecordLayout, ThirteenBytesWithoutPadding)
{
    EXPECT_EQ(13u, sizeof(VELTA36_Data_t));
    EXPECT_EQ(0u, offsetof(VELTA36_Data_t, id));
    EXPECT_EQ(4u, offsetof(VELTA36_Data_t, door1Open));
    EXPECT_EQ(5u, offsetof(VELTA36_Data_t, door2Open));
    EXPECT_EQ(6u, offsetof(VELTA36_Data_t, stamp));
    EXPECT_EQ(7u, sizeof(ttime));
}

TEST(RecordLayout, FieldsLandOnTheirBytes)
{
    VELTA36_Data_t record;
    std::memset(&record, 0, sizeof(record));
    record.id = 0xA1B2C3D4u;
    record.door1Open = 1;
    record.door2Open = 0;
    record.stamp = get_ttime(boost::posix_time::ptime(boost::gregorian::date(2030, 12, 31),
                                                      boost::posix_time::time_duration(23, 59, 58)));
    unsigned char bytes[13];
    std::memcpy(bytes, &record, sizeof(bytes));
    const unsigned char expected[13] = {0xD4, 0xC3, 0xB2, 0xA1, 1, 0, 0xEE, 0x07, 12, 31, 23, 59, 58};
    EXPECT_EQ(0, std::memcmp(expected, bytes, sizeof(bytes)));
}

TEST(TimeStamp, YearLittleEndianThenMonthDayHourMinuteSecond)
{
    const ttime stamp = get_ttime(boost::posix_time::ptime(boost::gregorian::date(2031, 2, 3),
                                                           boost::posix_time::time_duration(4, 5, 6)));
    unsigned char bytes[7];
    std::memcpy(bytes, &stamp, sizeof(bytes));
    const unsigned char expected[7] = {0xEF, 0x07, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(expected, bytes, sizeof(bytes)));
}

TEST(TimeStamp, SpecialTimesGiveZeroBytes)
{
    const unsigned char zero[7] = {0};
    for (const boost::posix_time::ptime& when :
         {boost::posix_time::ptime(), boost::posix_time::ptime(boost::posix_time::pos_infin),
          boost::posix_time::ptime(boost::posix_time::neg_infin)}) {
        const ttime stamp = get_ttime(when);
        EXPECT_EQ(0, std::memcmp(zero, &stamp, sizeof(zero)));
    }
}
