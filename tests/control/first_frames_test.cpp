// The frame each control command sends first, and the card frames it leaves
// ready for the acknowledgements, byte for byte.
#include <gmock/gmock.h>

#include "control_test.h"

using testing::ElementsAre;

namespace {

const char kCardAdd[] = R"({"1A2B3C4D": {"CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": "0"}})";
const char kCardAddDoor2[] = R"({"1A2B3C4D": {"CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": "2"}})";

}  // namespace

class FirstFrames : public ControlTest {};

TEST_F(FirstFrames, DoorCommandOpensThePortThenSendsTheDoorFrame)
{
    EXPECT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": "2"})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre("@1220200<6/"));
    EXPECT_EQ(PS_DOOR_OPEN, rig.device->protocolState);
    EXPECT_EQ(11, rig.device->cmdLength);
    EXPECT_EQ(-1, rig.device->controlResult) << "pending until the last acknowledgement";
    ASSERT_EQ(2u, rig.events.size());
    EXPECT_EQ(velta36test::TestHost::Kind::OpenPort, rig.events[0].kind);
    EXPECT_EQ(velta36test::TestHost::Kind::Send, rig.events[1].kind);
}

TEST_F(FirstFrames, DoorNumberIsTheLow16BitsOfSetValue)
{
    EXPECT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": 65537})"));
    EXPECT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": 141600010010, "SetValue": 1})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("2201"), Frame("2201")));
}

TEST_F(FirstFrames, DoorCommandForNoDoorSendsNothing)
{
    rig.device->protocolState = PS_EVENT_ACK;
    for (const char* argument : {R"({"signal_id": "141600010010", "SetValue": "3"})",
                                 R"({"signal_id": "141600010010", "SetValue": "0"})",
                                 R"({"signal_id": "141600010010", "SetValue": "door"})",
                                 R"({"signal_id": "141600010010", "SetValue": "99999999999999999999"})",
                                 R"({"signal_id": "141600010010", "SetValue": 1e20})",
                                 R"({"signal_id": "141600010010"})",
                                 R"({"signal_id": "141600010011", "SetValue": "1"})",
                                 R"({"signal_id": "", "SetValue": "1"})",
                                 R"({"SetValue": "1"})", R"({})"}) {
        EXPECT_EQ(0, Control(CTL_SET_VALUE, argument)) << argument;
    }
    EXPECT_TRUE(rig.sentTexts().empty());
    EXPECT_EQ(PS_EVENT_ACK, rig.device->protocolState);
}

TEST_F(FirstFrames, ConfigurationIgnoresItsArgument)
{
    EXPECT_EQ(0, Control(CTL_CONFIGURE, ""));
    int outRet = 0;
    EXPECT_EQ(0, rig.device->DeviceIoControl(CTL_CONFIGURE, nullptr, -3, nullptr, 0, outRet));
    EXPECT_THAT(rig.sentTexts(), ElementsAre("@1000060/", "@1000060/"));
    EXPECT_EQ(PS_CFG_1, rig.device->protocolState);
}

TEST_F(FirstFrames, CardAddFillsEveryCardBuffer)
{
    EXPECT_EQ(0, Control(CTL_CARD_ADD, kCardAdd));

    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("0900121A2B3C4D")));
    EXPECT_EQ(21, rig.device->cmdLength);
    EXPECT_EQ(Frame("350012311230"), Buffer(rig.device->cardFrame1, 19));
    EXPECT_EQ(Frame("33001201"), Buffer(rig.device->cardFrame4, 15));
    EXPECT_EQ(Frame("36001200"), Buffer(rig.device->cardFrame5, 15));
    EXPECT_EQ("@11600121015;/", Buffer(rig.device->cardFrame2, 14));
    EXPECT_EQ(Frame("1700121"), Buffer(rig.device->cardFrame3, 14));
    EXPECT_EQ(0, rig.device->cardDoorNo);
    EXPECT_EQ(PS_CARD_ADD_1, rig.device->protocolState);
}

TEST_F(FirstFrames, CardAddForOneDoorLeavesTheSecondDoorFrameAlone)
{
    const std::string untouched = Buffer(rig.device->cardFrame3, 64);
    EXPECT_EQ(0, Control(CTL_CARD_ADD, kCardAddDoor2));
    EXPECT_EQ(untouched, Buffer(rig.device->cardFrame3, 64));
    EXPECT_EQ(Frame("1600121"), Buffer(rig.device->cardFrame2, 14));
    EXPECT_EQ(2, rig.device->cardDoorNo);
}

TEST_F(FirstFrames, CardFieldsAsNumbersOrMissing)
{
    EXPECT_EQ(0, Control(CTL_CARD_ADD, R"({"87654321": {"CardNumber": 9999, "EndDate": "1999-01-02", "DoorNo": 1}})"));
    EXPECT_EQ(Frame("359999020199"), Buffer(rig.device->cardFrame1, 19));
    EXPECT_EQ(1, rig.device->cardDoorNo);
    // Missing slot and door read as 0.
    EXPECT_EQ(0, Control(CTL_CARD_ADD, R"({"87654321": {"EndDate": "2001-02-03"}})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("09999987654321"), Frame("09000087654321")));
    EXPECT_EQ(Frame("1700001"), Buffer(rig.device->cardFrame3, 14));
    EXPECT_EQ(0, rig.device->cardDoorNo);
}

// A host that sends date-times: the day is what the frame carries.
TEST_F(FirstFrames, end_date_with_a_time_of_day_adds_the_card)
{
    EXPECT_EQ(0, Control(CTL_CARD_ADD, R"({"1A2B3C4D": {"CardNumber": "12", "EndDate": "2030-12-31 23:59:59"}})"));
    EXPECT_EQ(0, Control(CTL_CARD_ADD, R"({"1A2B3C4D": {"CardNumber": "7", "EndDate": "2032-02-29T08:00"}})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("0900121A2B3C4D"), Frame("0900071A2B3C4D")));
    EXPECT_EQ(Frame("350007290232"), Buffer(rig.device->cardFrame1, 19));
    EXPECT_EQ(PS_CARD_ADD_1, rig.device->protocolState);
}

TEST_F(FirstFrames, TheFirstMemberInByteOrderIsTheCard)
{
    EXPECT_EQ(0, Control(CTL_CARD_ADD,
                         R"({"bbbbbbbb": {"CardNumber": "1", "EndDate": "2030-12-31"},
                             "BBBBBBBB": {"CardNumber": "2", "EndDate": "2030-12-31"},
                             "aaaaaaaa": {"CardNumber": "3", "EndDate": "2030-12-31"}})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("090002BBBBBBBB")));
}

TEST_F(FirstFrames, CardDeleteClearsTheSlot)
{
    EXPECT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": "345", "DoorNo": "1"}})"));
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("09034500000000")));
    EXPECT_EQ(Frame("350345010000"), Buffer(rig.device->cardFrame1, 19));
    EXPECT_EQ(Frame("1603450"), Buffer(rig.device->cardFrame2, 14));
    EXPECT_EQ(1, rig.device->cardDoorNo);
    EXPECT_EQ(PS_CARD_DEL_1, rig.device->protocolState);

    EXPECT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": "345", "DoorNo": "0"}})"));
    EXPECT_EQ(Frame("1703450"), Buffer(rig.device->cardFrame3, 14));
}
