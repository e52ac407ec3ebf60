// The reference host's serial services over the in-memory line: frames,
// delays, resets, the port and the threshold checks the rounds rely on.
#include <chrono>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_device.h"

using refhost::HostEvent;
using testing::ElementsAre;

namespace {

const unsigned char kFrameA[] = {'@', '0', '{', '0', '0', '7', ';', '/'};
const unsigned char kFrameB[] = {'@', '0', 'q', '0', ';', '/'};

}  // namespace

TEST(SerialServices, FramesAreRecordedAndReported)
{
    RecordingDevice rig;
    EXPECT_EQ(8, rig.device.SendData(kFrameA, sizeof(kFrameA)));
    ASSERT_EQ(1u, rig.line.sent().size());
    EXPECT_EQ("@0{007;/", rig.line.sent()[0].text());
    EXPECT_EQ(0, rig.line.sent()[0].delayBeforeMs);
    ASSERT_EQ(1u, rig.events.size());
    EXPECT_EQ(HostEvent::Kind::Send, rig.events[0].kind);
    EXPECT_EQ(std::vector<unsigned char>(kFrameA, kFrameA + sizeof(kFrameA)), rig.events[0].bytes);
}

TEST(SerialServices, ADelayHoldsOnlyTheNextFrame)
{
    RecordingDevice rig;
    rig.device.SendDelayData(3000);
    rig.device.SendData(kFrameA, sizeof(kFrameA));
    rig.device.SendData(kFrameB, sizeof(kFrameB));

    const std::vector<refhost::SentFrame> sent = rig.line.sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(3000, sent[0].delayBeforeMs);
    EXPECT_EQ(0, sent[1].delayBeforeMs);
    EXPECT_THAT(rig.kinds(), ElementsAre("Delay", "Send", "Send"));
    EXPECT_EQ(3000, rig.events[0].number);
}

TEST(SerialServices, WithoutALineNothingIsSent)
{
    GenericDevice alone;
    EXPECT_EQ(-1, alone.SendData(kFrameA, sizeof(kFrameA)));
    EXPECT_EQ(-1, alone.OpenPort());

    refhost::DeviceHost lineless;
    GenericDevice device;
    lineless.attach(device);
    EXPECT_EQ(-1, device.SendData(kFrameA, sizeof(kFrameA)));
}

TEST(SerialServices, ResetEndsTheExchangeWithAnEmptyReceiveBuffer)
{
    RecordingDevice rig;
    rig.device.RefreshStatus();
    EXPECT_TRUE(rig.device.IsProcessing());
    rig.device.rxLength = 123;
    rig.device.Reset();
    EXPECT_EQ(0, rig.device.rxLength);
    EXPECT_FALSE(rig.device.IsProcessing());
    EXPECT_THAT(rig.kinds(), ElementsAre("RefreshStatus", "Reset"));
}

TEST(SerialServices, OpenPortOpensTheLineOnce)
{
    RecordingDevice rig;
    EXPECT_FALSE(rig.line.isOpen());
    EXPECT_EQ(0, rig.device.OpenPort());
    EXPECT_EQ(0, rig.device.OpenPort());
    EXPECT_TRUE(rig.line.isOpen());
    EXPECT_EQ(1, rig.line.openCount());
    EXPECT_THAT(rig.kinds(), ElementsAre("OpenPort", "OpenPort"));
    rig.device.ClosePort();
    EXPECT_FALSE(rig.line.isOpen());
}

TEST(SerialServices, ChecksCompareAgainstTheHostsThresholds)
{
    RecordingDevice rig;
    rig.device.thresholdValues["t"] = 2.0f;
    float value = 3.0f;
    EXPECT_TRUE(rig.device.CheckAOReport("t", 3.0f));
    EXPECT_FALSE(rig.device.CheckAOReport("t", 2.0f));
    EXPECT_FALSE(rig.device.CheckAOReport("unwatched", 100.0f));
    EXPECT_TRUE(rig.device.CheckThreshold("t", "x", value, 1));
    ASSERT_EQ(4u, rig.events.size());
    EXPECT_EQ("x", rig.events[3].text);
    EXPECT_EQ(1, rig.events[3].number);
    EXPECT_TRUE(rig.events[3].result);

    std::vector<rule_value> rules(2);
    rules[0] = rule_value{"a", 1.0f, 2.0f, 1};
    rules[1] = rule_value{"b", 5.0f, 2.0f, 1};
    EXPECT_TRUE(rig.device.DoBatchCheckThreshold(rules));
    EXPECT_EQ(2, rig.events.back().number);
    rules.pop_back();
    EXPECT_FALSE(rig.device.DoBatchCheckThreshold(rules));
}

TEST(MemoryTransport, RepliesComeBackChunkByChunk)
{
    refhost::MemoryTransport line;
    line.setResponder([&line](const std::vector<unsigned char>& frame) {
        if (frame.size() > 2 && frame[2] == '{')
            line.pushReply("h/");
    });
    line.pushReply("A0");
    line.send(kFrameA, sizeof(kFrameA));
    EXPECT_EQ(2u, line.pendingReplies());

    unsigned char buf[8];
    EXPECT_EQ(1u, line.receive(buf, 1, std::chrono::milliseconds(0)));
    EXPECT_EQ('A', buf[0]);
    EXPECT_EQ(1u, line.receive(buf, sizeof(buf), std::chrono::milliseconds(0)));
    EXPECT_EQ('0', buf[0]);
    EXPECT_EQ(2u, line.receive(buf, sizeof(buf), std::chrono::milliseconds(0)));
    EXPECT_EQ(std::string("h/"), std::string(reinterpret_cast<char*>(buf), 2));
    EXPECT_EQ(0u, line.receive(buf, sizeof(buf), std::chrono::milliseconds(0)));
    line.pushReply("x");
    line.flush();
    EXPECT_EQ(0u, line.pendingReplies());
}
