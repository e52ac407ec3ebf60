// Whole polling rounds against the reference host: every frame the device
// sends, the state after each reply, the host calls that end the round, the
// published record and the rows stored.
#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kStatusRequest = "@0{007;/";   // 40 30 7B 30 30 37 3B 2F
const std::string kEventRead = "@0q0;/";
const std::string kBatchAck = "@0v000:6/";       // 40 30 76 30 30 30 3A 36 2F
const std::string kBatchAckEnd = "@0v300:9/";
const Calls kRoundDone = {"SendSP 5045", "Reset", "BatchCheck", "History"};

class PollingRound : public ::testing::Test {
protected:
    // A later round: the clock was set before.
    void startRound()
    {
        rig.device->clockSet = 1;
        rig.device->RefreshStatus();
        ASSERT_EQ(rig.calls(), (Calls{"RefreshStatus", "Send " + kStatusRequest}));
        ASSERT_EQ(rig.device->protocolState, PS_STATUS_READ);
        rig.clear();
    }

    // Status reply with door 1 closed ('1') or open ('0').
    void answerStatus(const std::string& status)
    {
        ASSERT_EQ(rig.feed(frames::DataFrame("0" + status)), 1);
        ASSERT_EQ(rig.calls(), (Calls{"Send " + kEventRead}));
        ASSERT_EQ(rig.device->protocolState, PS_EVENT_READ);
        rig.clear();
    }

    // A batch of n records, acknowledged with "v0".
    void answerBatch(const std::vector<std::string>& records)
    {
        ASSERT_EQ(rig.feed(frames::EventReply(records)), 1);
        ASSERT_EQ(rig.calls(), (Calls{"Send " + kBatchAck}));
        ASSERT_EQ(rig.device->protocolState, PS_EVENT_ACK);
        ASSERT_EQ(rig.device->lastBatchCount, static_cast<int>(records.size()));
        rig.clear();
    }

    void expectPublished(unsigned char door1Open)
    {
        const auto published = rig.published();
        ASSERT_EQ(published.size(), 1u);
        const ttime stamp = get_ttime(rig.device->lastUpdate);
        const std::vector<unsigned char> expected = {77, 0, 0, 0, door1Open, 0,
                                                     stamp.yearLow, stamp.yearHigh, stamp.month, stamp.day,
                                                     stamp.hour, stamp.minute, stamp.second};
        EXPECT_EQ(published[0], expected);
        EXPECT_NE(stamp.yearLow | stamp.yearHigh, 0);
        EXPECT_TRUE(rig.device->dataReady);
    }

    ProtocolRig rig;
};

TEST_F(PollingRound, FirstRoundSetsTheClockThenEndsOnAnEmptyBatch)
{
    rig.device->RefreshStatus();
    const Calls calls = rig.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "RefreshStatus");
    const std::string clockSet = calls[1].substr(5);
    ASSERT_EQ(clockSet.size(), 20u);
    EXPECT_EQ(clockSet.substr(0, 4), "@001");
    EXPECT_EQ(clockSet, frames::Command(clockSet.substr(2, 13)));
    EXPECT_EQ(rig.device->protocolState, PS_TIME_SET);
    rig.clear();

    EXPECT_EQ(rig.feed(frames::Ack()), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kStatusRequest}));
    EXPECT_EQ(rig.device->protocolState, PS_STATUS_READ);
    rig.clear();

    answerStatus("1");
    EXPECT_EQ(rig.device->record.door1Open, 0);

    // 'A' and its checksum alone: no events.
    EXPECT_EQ(rig.feed("A``da/"), 0);
    Calls expected = {"Reset"};
    expected.insert(expected.end(), kRoundDone.begin(), kRoundDone.end());
    EXPECT_EQ(rig.calls(), expected);
    EXPECT_EQ(rig.device->lastBatchCount, 0);
    expectPublished(0);
    EXPECT_TRUE(rig.rows().empty());

    // The clock was acknowledged: the next round asks for the status.
    rig.clear();
    rig.device->RefreshStatus();
    EXPECT_EQ(rig.calls(), (Calls{"RefreshStatus", "Send " + kStatusRequest}));
}

// A controller that reports a power-on may have its clock started again
// from its default: the next round sets it again. A power-off record
// changes nothing.
TEST_F(PollingRound, PowerOnRecordSetsTheClockAgainNextRound)
{
    const struct {
        std::string record;
        bool clockNext;
    } rows[] = {{frames::Record("3000000040"), false}, {frames::Record("3000000080"), true}};
    for (const auto& row : rows) {
        startRound();
        answerStatus("1");
        answerBatch({row.record});
        rig.device->RefreshStatus();
        const std::vector<std::string> sent = rig.sentFrames();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].size(), row.clockNext ? 20u : kStatusRequest.size()) << row.record;
        EXPECT_EQ(rig.device->clockSet, row.clockNext ? 0 : 1);
        rig.clear();
    }
    EXPECT_EQ(rig.rows().size(), 2u);
    EXPECT_EQ(rig.rows()[1].reason, "控制器上电");
}

TEST_F(PollingRound, NineEventsAreAcknowledgedWithV0ThenV3)
{
    startRound();
    answerStatus("0");
    answerBatch(frames::Swipes(9));

    EXPECT_EQ(rig.feed(frames::Ack()), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kBatchAckEnd}));
    EXPECT_EQ(rig.device->protocolState, PS_EVENT_ACK_END);
    rig.clear();

    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), kRoundDone);
    EXPECT_EQ(rig.device->protocolState, PS_EVENT_ACK_END);
    expectPublished(1);

    const std::vector<EventRow> rows = rig.rows();
    ASSERT_EQ(rows.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(rows[i].dataId, 77);
        EXPECT_EQ(rows[i].card, "0000" + std::to_string(1000 + i));
        EXPECT_EQ(rows[i].type, 1);
        EXPECT_EQ(rows[i].channel, 1);
        EXPECT_EQ(rows[i].reason, "刷卡进门成功");
        EXPECT_EQ(rows[i].time, "2024-03-05 12:07:00");
    }
}

TEST_F(PollingRound, FullBatchesAreReadUntilAnEmptyOne)
{
    startRound();
    answerStatus("1");
    for (int batch = 0; batch < 2; ++batch) {
        answerBatch(frames::Swipes(10));
        EXPECT_EQ(rig.feed(frames::Ack()), 1);
        EXPECT_EQ(rig.calls(), (Calls{"Send " + kEventRead}));
        EXPECT_EQ(rig.device->protocolState, PS_EVENT_READ);
        rig.clear();
    }
    EXPECT_EQ(rig.feed(frames::EventReply({})), 0);
    Calls expected = {"Reset"};
    expected.insert(expected.end(), kRoundDone.begin(), kRoundDone.end());
    EXPECT_EQ(rig.calls(), expected);
    expectPublished(0);
    EXPECT_EQ(rig.rows().size(), 20u);
}

TEST_F(PollingRound, FullBatchThenPartialBatchClosesWithV3)
{
    startRound();
    answerStatus("1");
    answerBatch(frames::Swipes(10));
    ASSERT_EQ(rig.feed(frames::Ack()), 1);
    ASSERT_EQ(rig.calls(), (Calls{"Send " + kEventRead}));
    rig.clear();
    answerBatch(frames::Swipes(3));
    EXPECT_EQ(rig.feed(frames::Ack()), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kBatchAckEnd}));
    rig.clear();
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), kRoundDone);
    EXPECT_EQ(rig.rows().size(), 13u);
}

TEST_F(PollingRound, BytesAfterTheLastWholeRecordAreIgnored)
{
    startRound();
    answerStatus("1");
    std::vector<std::string> records = frames::Swipes(2);
    records.push_back("300100000");   // 9 bytes: no whole record
    ASSERT_EQ(rig.feed(frames::EventReply(records)), 1);
    EXPECT_EQ(rig.device->lastBatchCount, 2);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kBatchAck}));
    EXPECT_EQ(rig.rows().size(), 2u);
}

TEST_F(PollingRound, BatchArrivingInPiecesIsDecodedOnce)
{
    startRound();
    answerStatus("1");
    const std::string reply = frames::EventReply(frames::Swipes(4));
    EXPECT_EQ(rig.feed("\r\n" + reply.substr(0, 30)), 1);
    EXPECT_EQ(rig.feed(reply.substr(30, 50)), 1);
    EXPECT_TRUE(rig.calls().empty());
    EXPECT_EQ(rig.feed(reply.substr(80)), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kBatchAck}));
    EXPECT_EQ(rig.rows().size(), 4u);
}

}  // namespace
