// The door-status reply: one bit per door in the status character, the
// alarm end when a door closes after an alarm, the first open sighting.
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

namespace {

using boost::posix_time::second_clock;
using Calls = std::vector<std::string>;

int FeedStatus(ProtocolRig& rig, const std::string& payload)
{
    rig.device->protocolState = PS_STATUS_READ;
    return rig.feed(frames::DataFrame(payload));
}

TEST(DoorStatus, TwoDoorsReadBothBits)
{
    ProtocolRig rig(2);
    struct Case {
        char status;
        int door1Open;
        int door2Open;
    };
    for (const Case& c : {Case{'3', 0, 0}, Case{'0', 1, 1}, Case{'1', 0, 1}, Case{'2', 1, 0}, Case{'3', 0, 0}}) {
        SCOPED_TRACE(c.status);
        ASSERT_EQ(FeedStatus(rig, std::string("0") + c.status), 1);
        EXPECT_EQ(rig.device->record.door1Open, c.door1Open);
        EXPECT_EQ(rig.device->record.door2Open, c.door2Open);
    }
    // Seen closed last: neither door counts as standing open.
    EXPECT_EQ(rig.device->doorOpenSeen[0], 0);
    EXPECT_EQ(rig.device->doorOpenSeen[1], 0);
    EXPECT_TRUE(rig.rows().empty());
}

TEST(DoorStatus, OneDoorLeavesDoorTwoAlone)
{
    ProtocolRig rig(1);
    rig.device->record.door2Open = 1;
    rig.device->lastEventType[1] = 14;
    ASSERT_EQ(FeedStatus(rig, "00"), 1);
    EXPECT_EQ(rig.device->record.door1Open, 1);
    EXPECT_EQ(rig.device->record.door2Open, 1);
    EXPECT_EQ(rig.device->doorOpenSeen[1], 0);
    EXPECT_TRUE(rig.device->lastAccessTime[1].is_not_a_date_time());
    // Door 2 closed in the status, after an alarm on it: still nothing.
    ASSERT_EQ(FeedStatus(rig, "03"), 1);
    EXPECT_EQ(rig.device->record.door2Open, 1);
    EXPECT_EQ(rig.device->lastEventType[1], 14);
    EXPECT_TRUE(rig.rows().empty());
}

TEST(DoorStatus, ClosingAfterAnAlarmStoresTheAlarmEndOnce)
{
    for (uint8_t alarm : {14, 13}) {
        SCOPED_TRACE(static_cast<int>(alarm));
        ProtocolRig rig(2);
        rig.device->lastEventType[1] = alarm;
        const auto before = second_clock::local_time();
        ASSERT_EQ(FeedStatus(rig, "03"), 1);
        std::vector<EventRow> rows = rig.rows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].channel, 2);
        EXPECT_EQ(rows[0].type, 9);
        EXPECT_EQ(rows[0].card, "00000000");
        EXPECT_EQ(rows[0].reason, "");
        EXPECT_EQ(rows[0].dataId, 77);
        ASSERT_TRUE(rows[0].hasTime);
        const auto stored = boost::posix_time::time_from_string(rows[0].time);
        EXPECT_GE(stored, before);
        EXPECT_LE(stored, second_clock::local_time());
        EXPECT_EQ(rig.device->lastEventType[1], 9);
        EXPECT_EQ(rig.device->lastEventType[0], 0);

        ASSERT_EQ(FeedStatus(rig, "03"), 1);
        EXPECT_EQ(rig.rows().size(), 1u);
    }
}

TEST(DoorStatus, AlarmFromARecordEndsWithTheNextClosedStatus)
{
    ProtocolRig rig;
    rig.device->protocolState = PS_EVENT_READ;
    ASSERT_EQ(rig.feed(frames::EventReply({frames::Record("3001000001")})), 1);
    ASSERT_EQ(FeedStatus(rig, "01"), 1);
    const std::vector<EventRow> rows = rig.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].type, 14);
    EXPECT_EQ(rows[0].reason, "非法开门");
    EXPECT_EQ(rows[1].type, 9);
    EXPECT_EQ(rows[1].reason, "");
    EXPECT_EQ(rows[1].channel, 1);
}

TEST(DoorStatus, FirstOpenSightingOfEachOpeningStampsTheAccessTime)
{
    ProtocolRig rig;
    const auto before = second_clock::local_time();
    ASSERT_EQ(FeedStatus(rig, "00"), 1);
    EXPECT_EQ(rig.device->doorOpenSeen[0], 1);
    EXPECT_GE(rig.device->lastAccessTime[0], before);

    // Still open: the same opening, no new stamp.
    const auto old = before - boost::posix_time::hours(2);
    rig.device->lastAccessTime[0] = old;
    ASSERT_EQ(FeedStatus(rig, "00"), 1);
    EXPECT_EQ(rig.device->lastAccessTime[0], old);

    // Closed, then open again: a new opening.
    ASSERT_EQ(FeedStatus(rig, "01"), 1);
    EXPECT_EQ(rig.device->doorOpenSeen[0], 0);
    EXPECT_EQ(rig.device->lastAccessTime[0], old);
    ASSERT_EQ(FeedStatus(rig, "00"), 1);
    EXPECT_EQ(rig.device->doorOpenSeen[0], 1);
    EXPECT_GE(rig.device->lastAccessTime[0], before);
}

TEST(DoorStatus, status_reply_without_status_character_keeps_door_state)
{
    // 'A', checksum, '/' and 'A', one byte, checksum, '/': where the status
    // would be sits a checksum character ('`' would read as both doors open).
    for (const std::string& payload : {std::string(""), std::string("0")}) {
        ProtocolRig rig(2);
        rig.device->record.door2Open = 1;
        rig.device->lastEventType[0] = 14;
        ASSERT_EQ(FeedStatus(rig, payload), 1);
        EXPECT_EQ(rig.device->record.door1Open, 0);
        EXPECT_EQ(rig.device->record.door2Open, 1);
        EXPECT_EQ(rig.device->doorOpenSeen[0], 0);
        EXPECT_EQ(rig.device->doorOpenSeen[1], 0);
        EXPECT_EQ(rig.device->lastEventType[0], 14);
        EXPECT_TRUE(rig.rows().empty());
        // The round goes on as after any status reply.
        EXPECT_EQ(rig.calls(), (Calls{"Send @0q0;/"}));
        EXPECT_EQ(rig.device->protocolState, PS_EVENT_READ);
        EXPECT_EQ(rig.device->rxLength, 0);
    }
}

}  // namespace
