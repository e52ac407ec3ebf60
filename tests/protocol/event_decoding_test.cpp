// Event records as stored rows: every kind, the flag bytes in their order,
// card numbers, channels, the door-open alarm rule and its memory, bad tails,
// impossible dates and the log line.
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

namespace {

using boost::posix_time::second_clock;
using boost::posix_time::seconds;
using frames::Record;

class EventDecoding : public ::testing::Test {
protected:
    // Feeds one event reply and returns the rows it added.
    std::vector<EventRow> decode(const std::vector<std::string>& records)
    {
        const std::size_t before = rig.rows().size();
        rig.device->protocolState = PS_EVENT_READ;
        EXPECT_EQ(rig.feed(frames::EventReply(records)), 1);
        std::vector<EventRow> rows = rig.rows();
        rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(before));
        return rows;
    }

    EventRow decodeOne(const std::string& record)
    {
        const std::vector<EventRow> rows = decode({record});
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? EventRow() : rows[0];
    }

    void expectRow(const EventRow& row, int channel, int type, const std::string& card, const std::string& reason)
    {
        EXPECT_EQ(row.channel, channel);
        EXPECT_EQ(row.type, type);
        EXPECT_EQ(row.card, card);
        EXPECT_EQ(row.reason, reason);
        EXPECT_EQ(row.dataId, 77);
    }

    // Door-open record of kind 3 for door 1 or 2.
    static std::string DoorOpened(char door) { return Record(std::string("300") + door + "000001"); }

    ProtocolRig rig;
};

TEST_F(EventDecoding, GrantedSwipesTakeEntryExitAndStampTheAccess)
{
    const auto before = second_clock::local_time();
    EventRow row = decodeOne(Record("200:123400"));
    expectRow(row, 1, 1, "00001234", "刷卡进门成功");
    EXPECT_EQ(row.time, "2024-03-05 12:07:00");
    EXPECT_GE(rig.device->lastAccessTime[0], before);
    EXPECT_LE(rig.device->lastAccessTime[0], second_clock::local_time());
    EXPECT_TRUE(rig.device->lastAccessTime[1].is_not_a_date_time());
    EXPECT_EQ(rig.device->lastEventType[0], 1);

    // Any reader character but '0' is reader 2; the flag bytes are not read.
    row = decodeOne(Record("2X0;5678??"));
    expectRow(row, 2, 2, "00005678", "刷卡出门成功");
    EXPECT_FALSE(rig.device->lastAccessTime[1].is_not_a_date_time());
    EXPECT_EQ(rig.device->lastEventType[1], 2);
}

TEST_F(EventDecoding, CardRecordWithUnrecognisedDirection)
{
    // A granted card: code 6, which counts as an access.
    expectRow(decodeOne(Record("201:999900")), 1, 6, "00009999", "");
    EXPECT_EQ(rig.device->lastEventType[0], 6);
    // A card with restriction flags: code 0, no access.
    expectRow(decodeOne(Record("0110123400")), 2, 0, "10123400", "");
    EXPECT_EQ(rig.device->lastEventType[1], 0);
    // A flag reason without a type-setting bit keeps that code.
    expectRow(decodeOne(Record("00:;123402")), 1, 0, ":;123402", "错误的密码");
    // The tailgating bit sets its code whatever the direction said.
    expectRow(decodeOne(Record("00xy123401")), 1, 0, "xy123401", "防尾随限制");
}

// A refused card is judged alike whatever its direction bytes say: the door
// opened right after it is forced.
TEST_F(EventDecoding, opening_after_refused_card_with_odd_direction_is_an_alarm)
{
    for (const std::string& card : {std::string("010:123480"), std::string("0110123480")}) {
        SCOPED_TRACE(card);
        rig.device->lastEventType[1] = 0;
        const std::vector<EventRow> rows = decode({Record(card), DoorOpened('2')});
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].reason, "控制器不允许（有效期、信用度）");
        expectRow(rows[1], 2, 14, "00000000", "非法开门");
    }
}

TEST_F(EventDecoding, RestrictedCardReasonsFollowTheFlagBitsInOrder)
{
    struct Case {
        std::string head;
        int type;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"000:123400", 10, "刷卡进门成功"},
        {"010;123400", 11, "刷卡出门成功"},
        {"000:123410", 10, "防反潜限制"},
        {"000:123420", 10, "卡在读卡器上无效"},
        {"000:123440", 10, "site code not ok"},
        {"000:123480", 10, "控制器不允许（有效期、信用度）"},
        {"000:1234?0", 10, "防反潜限制"},
        {"000:1234<0", 10, "site code not ok"},
        {"000:123401", 0, "防尾随限制"},
        {"000:123402", 10, "错误的密码"},
        {"000:123404", 10, "门无应答"},
        {"010;123408", 15, "通行时区限制"},
        {"000:12340?", 0, "防尾随限制"},
        {"000:12340>", 10, "错误的密码"},
        {"000:123418", 15, "通行时区限制"},
        {"000:123484", 10, "门无应答"},
    };
    std::vector<std::string> records;
    for (const Case& c : cases)
        records.push_back(Record(c.head));
    const std::vector<EventRow> rows = decode(records);
    ASSERT_EQ(rows.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].head);
        expectRow(rows[i], cases[i].head[1] == '0' ? 1 : 2, cases[i].type, cases[i].head.substr(2), cases[i].reason);
    }
}

TEST_F(EventDecoding, UnknownCardKeepsTheRawCardField)
{
    expectRow(decodeOne(Record("1101A2B3C4")), 2, 12, "01A2B3C4", "未知卡");
    EXPECT_EQ(rig.device->lastEventType[1], 12);
    EXPECT_TRUE(rig.device->lastAccessTime[1].is_not_a_date_time());
}

TEST_F(EventDecoding, ControllerRecordsCarryCodeZeroAndNoTracking)
{
    const std::vector<EventRow> rows = decode({Record("3000123440"), Record("3000000081"), Record("30000000<0"),
                                               Record("3000000010")});
    ASSERT_EQ(rows.size(), 4u);
    expectRow(rows[0], 0, 0, "00000000", "控制器断电");
    expectRow(rows[1], 0, 0, "00000000", "控制器上电");
    expectRow(rows[2], 0, 0, "00000000", "控制器断电");
    expectRow(rows[3], 0, 0, "00000000", "");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig.device->lastEventType[i], 0);
}

TEST_F(EventDecoding, ButtonsClosingsAndIgnoredCombinations)
{
    const std::vector<EventRow> rows = decode({
        Record("3003000001"),   // button 3 pressed
        Record("3004000000"),   // button 4 released: not an event
        Record("3001000000"),   // door 1 closed
        Record("3002000002"),   // door 2, unknown state
        Record("3005000001"),   // channel 5
        Record("4000000001"),   // unknown kind
        Record("3004000001"),   // button 4 pressed
    });
    ASSERT_EQ(rows.size(), 3u);
    expectRow(rows[0], 3, 3, "00000000", "按钮出门");
    expectRow(rows[1], 1, 9, "00000000", "告警结束");
    expectRow(rows[2], 4, 3, "00000000", "按钮出门");
    EXPECT_EQ(rig.device->lastEventType[0], 9);
    EXPECT_EQ(rig.device->lastEventType[1], 0);
    EXPECT_EQ(rig.device->lastEventType[2], 3);
    EXPECT_EQ(rig.device->lastEventType[3], 3);
}

TEST_F(EventDecoding, RecordsWithoutTheTailAreSkippedButTheBatchGoesOn)
{
    const std::vector<EventRow> rows = decode({Record("200:111100", "12", "07", "05", "03", "24", "8\r"),
                                               Record("200:222200", "12", "07", "05", "03", "24", "9\n"),
                                               Record("200:333300")});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].card, "00003333");
}

TEST_F(EventDecoding, LogLineShowsYearSince1900AndMonthFromZero)
{
    testing::internal::CaptureStdout();
    decode({Record("200:123400", "09", "41", "17", "03", "24", "8\r")});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "tm_year:124 tm_mon2 tm_mday:17 tm_min:41 tm_hour:9\n");
}

TEST_F(EventDecoding, ImpossibleDatesAreStoredWithoutATime)
{
    struct Case {
        const char* hour;
        const char* minute;
        const char* day;
        const char* month;
    };
    const std::vector<Case> cases = {{"12", "07", "05", "00"}, {"12", "07", "05", "13"}, {"12", "07", "32", "03"},
                                     {"24", "00", "05", "03"}, {"12", "60", "05", "03"}, {"12", "07", "30", "02"},
                                     {"1a", "07", "05", "03"}, {"12", "07", "00", "03"}};
    std::vector<std::string> records;
    for (const Case& c : cases)
        records.push_back(Record("200:123400", c.hour, c.minute, c.day, c.month));
    records.push_back(Record("3002000001", "23", "59", "29", "02", "24"));

    testing::internal::CaptureStdout();
    const std::vector<EventRow> rows = decode(records);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rows.size(), cases.size() + 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(rows[i].hasTime);
        expectRow(rows[i], 1, 1, "00001234", "刷卡进门成功");
    }
    // The numbers are printed as computed, even when they name no date.
    EXPECT_NE(log.find("tm_year:124 tm_mon12 tm_mday:5 tm_min:7 tm_hour:12\n"), std::string::npos);
    EXPECT_NE(log.find("tm_year:124 tm_mon1 tm_mday:30 tm_min:7 tm_hour:12\n"), std::string::npos);
    EXPECT_NE(log.find(" tm_hour:59\n"), std::string::npos);   // ('1' - '0') * 10 + ('a' - '0')
    // A leap day is a date; the batch went on after the bad ones.
    EXPECT_TRUE(rows.back().hasTime);
    EXPECT_EQ(rows.back().time, "2024-02-29 23:59:00");
    EXPECT_EQ(rows.back().type, 14);
}

TEST_F(EventDecoding, DoorOpenedWithoutAccessIsAnAlarmOnce)
{
    EventRow row = decodeOne(DoorOpened('1'));
    expectRow(row, 1, 14, "00000000", "非法开门");
    EXPECT_EQ(rig.device->lastEventType[0], 14);
    // An alarm already raised is not raised again.
    EXPECT_TRUE(decode({DoorOpened('1')}).empty());
    // Neither after code 13 nor after code 4.
    for (uint8_t last : {13, 4}) {
        rig.device->lastEventType[1] = last;
        EXPECT_TRUE(decode({DoorOpened('2')}).empty());
        EXPECT_EQ(rig.device->lastEventType[1], last);
    }
}

TEST_F(EventDecoding, DoorOpenedAfterAGrantedAccessIsCode5)
{
    // In one batch: the swipe stamps the access, the opening follows it.
    std::vector<EventRow> rows = decode({Record("200:123400"), DoorOpened('1'), DoorOpened('1')});
    ASSERT_EQ(rows.size(), 3u);
    expectRow(rows[1], 1, 5, "00000000", "");
    expectRow(rows[2], 1, 5, "00000000", "");
    EXPECT_EQ(rig.device->lastEventType[0], 5);

    // 30 seconds after a granted swipe, with the door already seen open.
    for (uint8_t last : {1, 2, 3, 5, 6}) {
        SCOPED_TRACE(static_cast<int>(last));
        rig.device->lastEventType[1] = last;
        rig.device->doorOpenSeen[1] = 1;
        rig.device->lastAccessTime[1] = second_clock::local_time() - seconds(30);
        rows = decode({DoorOpened('2')});
        ASSERT_EQ(rows.size(), 1u);
        expectRow(rows[0], 2, 5, "00000000", "");
    }
}

TEST_F(EventDecoding, DoorStandingOpenForAMinuteIsNoNewEvent)
{
    rig.device->doorOpenSeen[0] = 1;
    rig.device->lastEventType[0] = 1;
    rig.device->lastAccessTime[0] = second_clock::local_time() - seconds(60);
    EXPECT_TRUE(decode({DoorOpened('1')}).empty());
    // Seen open and never accessed counts as long ago.
    rig.device->doorOpenSeen[1] = 1;
    EXPECT_TRUE(decode({DoorOpened('2')}).empty());
    EXPECT_EQ(rig.device->lastEventType[1], 0);
    // Never seen open: an old access does not excuse the opening.
    rig.device->doorOpenSeen[0] = 0;
    rig.device->lastEventType[0] = 0;
    rig.device->lastAccessTime[0] = second_clock::local_time() - seconds(3600);
    expectRow(decodeOne(DoorOpened('1')), 1, 14, "00000000", "非法开门");
}

// The door was seen open, then closed; long after the last access it is
// forced open: a new alarm, not a door still standing open.
TEST_F(EventDecoding, forced_opening_after_door_was_seen_closed_raises_alarm)
{
    rig.device->doorOpenSeen[0] = 1;
    rig.device->lastAccessTime[0] = second_clock::local_time() - seconds(600);
    // Closed by a record: stored, and the door no longer counts as open.
    std::vector<EventRow> rows = decode({Record("3001000000"), DoorOpened('1')});
    ASSERT_EQ(rows.size(), 2u);
    expectRow(rows[1], 1, 14, "00000000", "非法开门");

    // Closed by a status reply: likewise.
    rig.device->doorOpenSeen[1] = 1;
    rig.device->lastAccessTime[1] = second_clock::local_time() - seconds(600);
    rig.device->doors = 2;
    rig.device->protocolState = PS_STATUS_READ;
    ASSERT_EQ(rig.feed(frames::DataFrame("03")), 1);
    EXPECT_EQ(rig.device->doorOpenSeen[1], 0);
    rows = decode({DoorOpened('2')});
    ASSERT_EQ(rows.size(), 1u);
    expectRow(rows[0], 2, 14, "00000000", "非法开门");
}

TEST_F(EventDecoding, ClosingRecordAfterAnAlarmEndsIt)
{
    const std::vector<EventRow> rows = decode({DoorOpened('2'), Record("3002000000"), DoorOpened('2')});
    ASSERT_EQ(rows.size(), 3u);
    expectRow(rows[0], 2, 14, "00000000", "非法开门");
    expectRow(rows[1], 2, 9, "00000000", "告警结束");
    // After the alarm end the next opening is an alarm again.
    expectRow(rows[2], 2, 14, "00000000", "非法开门");
}

}  // namespace
