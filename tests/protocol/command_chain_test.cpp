// The acknowledged command chains: configuration download, door opening,
// card add and card delete, each step sent only after the controller's 'h'.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

namespace {

using Calls = std::vector<std::string>;

const std::vector<std::string> kConfigurationAfterStart = {
    "022",     "791",     "190",     "12105",   "12203",   "1410000",
    "1420000", "451000",  "452000",  "43011",   "43021",   "43030",
    "43040",   "040000010800000000", "31010000235923592359", "32010101010101010101"};

TEST(ConfigurationChain, SixteenStepsFollowTheStartCommandThenReset)
{
    ProtocolRig rig(2, 5, 3, 1);
    rig.device->protocolState = PS_CFG_1;
    for (const std::string& command : kConfigurationAfterStart) {
        SCOPED_TRACE(command);
        ASSERT_EQ(rig.feed(frames::Ack()), 1);
        ASSERT_EQ(rig.calls(), (Calls{"Send " + frames::Command(command)}));
        EXPECT_EQ(rig.device->controlResult, -1);
        rig.clear();
    }
    EXPECT_EQ(rig.device->protocolState, PS_CFG_17);
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
    EXPECT_EQ(rig.device->controlResult, 1);
    EXPECT_EQ(rig.device->protocolState, PS_CFG_17);
}

TEST(ConfigurationChain, FramesCarryTheCommandChecksum)
{
    ProtocolRig rig(1, 9, 3, 2);
    rig.device->protocolState = PS_CFG_1;
    rig.feed(frames::Ack());
    rig.feed(frames::Ack());
    rig.feed(frames::Ack());
    rig.feed(frames::Ack());
    // "021", "791", "190", then door 1's delay 9 as the character '9'.
    EXPECT_EQ(rig.sentFrames(), (Calls{"@00210093/", "@079100:1/", "@0190009:/", frames::Command("12109")}));
}

TEST(ConfigurationChain, RefusalInTheMiddleStopsThereAndTheNextAckContinues)
{
    ProtocolRig rig(2, 5, 3, 1);
    rig.device->protocolState = PS_CFG_1;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(rig.feed(frames::Ack()), 1);
    ASSERT_EQ(rig.device->protocolState, PS_CFG_4);
    rig.clear();

    EXPECT_EQ(rig.feed("E1/"), 1);
    EXPECT_TRUE(rig.calls().empty());
    EXPECT_EQ(rig.device->controlResult, -1);
    EXPECT_EQ(rig.device->protocolState, PS_CFG_4);

    EXPECT_EQ(rig.feed(frames::Ack()), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + frames::Command("12105")}));
    EXPECT_EQ(rig.device->protocolState, PS_CFG_5);
}

// The door command as the control code leaves it: "220" and the door digit.
void StartDoorCommand(ProtocolRig& rig, char door)
{
    std::memcpy(rig.device->cmdBuffer + 2, "220", 3);
    rig.device->cmdBuffer[5] = static_cast<unsigned char>(door);
    rig.device->CmdCrc(4);
    rig.device->protocolState = PS_DOOR_OPEN;
    rig.device->controlResult = -1;
}

TEST(DoorChain, FollowupWaitsThreeSecondsThenEndsOnItsAck)
{
    for (char door : {'1', '2'}) {
        ProtocolRig rig;
        StartDoorCommand(rig, door);
        EXPECT_EQ(rig.feed(frames::Ack()), 1);
        const std::string followup = frames::Command(std::string("230") + door);
        EXPECT_EQ(rig.calls(), (Calls{"Delay 3000", "Send " + followup}));
        const auto sent = rig.line.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].delayBeforeMs, 3000);
        EXPECT_EQ(rig.device->protocolState, PS_DOOR_FOLLOWUP);
        EXPECT_EQ(rig.device->controlResult, -1);
        rig.clear();

        EXPECT_EQ(rig.feed(frames::Ack()), 0);
        EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
        EXPECT_EQ(rig.device->controlResult, 1);
        EXPECT_EQ(rig.device->protocolState, PS_DOOR_FOLLOWUP);
    }
    ProtocolRig rig;
    StartDoorCommand(rig, '1');
    rig.feed(frames::Ack());
    EXPECT_EQ(rig.sentFrames(), (Calls{"@0230100<6/"}));
}

TEST(DoorChain, LateAckAfterTheEndRunsTheLastStepAgain)
{
    ProtocolRig rig;
    rig.device->protocolState = PS_DOOR_FOLLOWUP;
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset", "Reset"}));
    EXPECT_EQ(rig.device->controlResult, 1);
}

// Distinct recognisable contents in every card buffer, each with the
// length a card command builds it with (it sends the length recorded).
void FillCardFrames(VELTA36& device)
{
    unsigned char* buffers[5] = {device.cardFrame1, device.cardFrame2, device.cardFrame3, device.cardFrame4,
                                 device.cardFrame5};
    const int lengths[5] = {19, 14, 14, 15, 15};
    for (int i = 0; i < 5; ++i) {
        for (int b = 2; b < 64; ++b)
            buffers[i][b] = static_cast<unsigned char>('a' + i * 5 + b % 5);
        device.cardFrameLength[i] = lengths[i];
    }
}

std::string CardFrame(const unsigned char* buffer, std::size_t length)
{
    return std::string(reinterpret_cast<const char*>(buffer), length);
}

// Acknowledges until the chain ends; returns the frames it sent.
Calls RunCardChain(ProtocolRig& rig, int firstState, int doorNo)
{
    FillCardFrames(*rig.device);
    rig.device->cardDoorNo = doorNo;
    rig.device->protocolState = firstState;
    rig.device->controlResult = -1;
    int result = 1;
    for (int guard = 0; guard < 10 && result == 1; ++guard) {
        result = rig.feed(frames::Ack());
        if (result == 1) {
            EXPECT_EQ(rig.device->controlResult, -1);
        }
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rig.device->controlResult, 1);
    EXPECT_EQ(rig.calls().back(), "Reset");
    return rig.sentFrames();
}

TEST(CardChain, AddSendsFourFramesForOneDoorAndFiveForBoth)
{
    ProtocolRig one;
    const VELTA36& a = *one.device;
    const Calls oneDoor = RunCardChain(one, PS_CARD_ADD_1, 1);
    EXPECT_EQ(oneDoor,
              (Calls{CardFrame(a.cardFrame1, 19), CardFrame(a.cardFrame4, 15), CardFrame(a.cardFrame5, 15),
                     CardFrame(a.cardFrame2, 14)}));
    EXPECT_EQ(one.device->protocolState, PS_CARD_ADD_5);
    EXPECT_EQ(CardFrame(a.cardFrame1, 19), "@0cdeabcdeabcdeabcd");

    ProtocolRig both;
    const VELTA36& b = *both.device;
    const Calls bothDoors = RunCardChain(both, PS_CARD_ADD_1, 0);
    EXPECT_EQ(bothDoors,
              (Calls{CardFrame(b.cardFrame1, 19), CardFrame(b.cardFrame4, 15), CardFrame(b.cardFrame5, 15),
                     CardFrame(b.cardFrame2, 14), CardFrame(b.cardFrame3, 14)}));
    EXPECT_EQ(both.device->protocolState, PS_CARD_ADD_6);
}

TEST(CardChain, DeleteSendsTwoFramesForOneDoorAndThreeForBoth)
{
    ProtocolRig one;
    const VELTA36& a = *one.device;
    const Calls oneDoor = RunCardChain(one, PS_CARD_DEL_1, 2);
    EXPECT_EQ(oneDoor,
              (Calls{CardFrame(a.cardFrame1, 19), CardFrame(a.cardFrame2, 14)}));
    EXPECT_EQ(one.device->protocolState, PS_CARD_DEL_3);

    ProtocolRig both;
    const VELTA36& b = *both.device;
    const Calls bothDoors = RunCardChain(both, PS_CARD_DEL_1, 0);
    EXPECT_EQ(bothDoors,
              (Calls{CardFrame(b.cardFrame1, 19), CardFrame(b.cardFrame2, 14), CardFrame(b.cardFrame3, 14)}));
    EXPECT_EQ(both.device->protocolState, PS_CARD_DEL_4);
}

// A card state reached with its frame never built (no card command ran)
// has nothing to send: the sequence ends unfinished instead of sending a
// buffer of zeros.
TEST(CardChain, UnbuiltCardFrameEndsTheSequenceUnfinished)
{
    ProtocolRig rig;
    rig.device->protocolState = PS_CARD_ADD_1;
    rig.device->controlResult = 1;
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
    EXPECT_EQ(rig.device->controlResult, -1);
}

TEST(CardChain, RefusedCardFrameReportsFailure)
{
    ProtocolRig rig;
    FillCardFrames(*rig.device);
    rig.device->protocolState = PS_CARD_ADD_1;
    rig.device->controlResult = -1;
    ASSERT_EQ(rig.feed(frames::Ack()), 1);
    EXPECT_EQ(rig.feed("N/"), 1);
    EXPECT_EQ(rig.device->controlResult, -1);
    EXPECT_EQ(rig.device->protocolState, PS_CARD_ADD_2);
    EXPECT_EQ(rig.sentFrames().size(), 1u);
}

}  // namespace
