// Whole command sequences: the first frame from DeviceIoControl, every
// further one on the controller's 'h' acknowledgement, the outcome in
// controlResult.
#include <gmock/gmock.h>

#include "control_test.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using Kind = velta36test::TestHost::Kind;

namespace {

const std::string kAck = velta36test::Ack();

}  // namespace

class ControlSequences : public ControlTest {
protected:
    // Acknowledges count frames; every one but the last must ask for more.
    void AcknowledgeAll(int count)
    {
        for (int i = 0; i < count - 1; ++i)
            ASSERT_EQ(1, rig.receive(kAck)) << "acknowledgement " << i;
        ASSERT_EQ(0, rig.receive(kAck)) << "the last acknowledgement ends the exchange";
    }
};

TEST_F(ControlSequences, DoorOpensWithAHeldFollowUp)
{
    ASSERT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": "2"})"));
    ASSERT_EQ(1, rig.receive(kAck));
    EXPECT_EQ(PS_DOOR_FOLLOWUP, rig.device->protocolState);
    EXPECT_EQ(-1, rig.device->controlResult);
    ASSERT_EQ(0, rig.receive(velta36test::Ack("0")));

    const std::vector<refhost::SentFrame> sent = rig.transport.sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("@1220200<6/", sent[0].text());
    EXPECT_EQ(0, sent[0].delayBeforeMs);
    EXPECT_EQ(Frame("2302"), sent[1].text());
    EXPECT_EQ(3000, sent[1].delayBeforeMs);

    std::vector<std::string> kinds;
    for (const refhost::HostEvent& event : rig.events)
        kinds.push_back(refhost::KindName(event.kind));
    EXPECT_THAT(kinds, ElementsAre("OpenPort", "Send", "Delay", "Send", "Reset"));
    EXPECT_EQ(3000, rig.events[2].number);
    EXPECT_EQ(1, rig.device->controlResult);
    EXPECT_EQ(1, QueryResult());
}

TEST_F(ControlSequences, ConfigurationSendsSeventeenCommands)
{
    rig.configure(std::string(R"({"appSetting": {"doors": 2, "door1_delay": 5, "door2_delay": "3", "card_type": 1}})"));
    rig.clear();
    ASSERT_EQ(0, Control(CTL_CONFIGURE, ""));
    AcknowledgeAll(17);

    const char* const commands[] = {"00", "022", "791", "190", "12105", "12203", "1410000", "1420000",
                                    "451000", "452000", "43011", "43021", "43030", "43040",
                                    "040000010800000000", "31010000235923592359", "32010101010101010101"};
    std::vector<std::string> expected;
    for (const char* command : commands)
        expected.push_back(Frame(command));
    EXPECT_THAT(rig.sentTexts(), ElementsAreArray(expected));
    EXPECT_EQ(1, rig.device->controlResult);
    EXPECT_EQ(1u, rig.eventsOf(Kind::Reset).size());
}

// Settings travel as '0' + value: -1 would be '/', the end of a frame, and
// 16 '@', the start of one. Values that are not one digit are refused when
// read, so the configuration carries the values set before them.
TEST_F(ControlSequences, settings_that_are_not_one_digit_never_reach_a_frame)
{
    rig.configure(std::string(R"({"appSetting": {"doors": 2, "door1_delay": 5, "door2_delay": 4, "card_type": 1}})"));
    testing::internal::CaptureStdout();
    rig.configure(std::string(R"({"appSetting": {"doors": 10, "door1_delay": -1, "door2_delay": "16", "card_type": -1}})"));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("appSetting door1_delay -1 cannot be sent as one digit (0 to 9), keeping 5\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("appSetting door2_delay 16 cannot be sent as one digit (0 to 9), keeping 4\n"), std::string::npos);
    EXPECT_NE(log.find("appSetting doors 10 cannot be sent as one digit (0 to 9), keeping 2\n"), std::string::npos);
    EXPECT_NE(log.find("appSetting card_type -1 cannot be sent as one digit (0 to 9), keeping 1\n"), std::string::npos);
    rig.clear();
    ASSERT_EQ(0, Control(CTL_CONFIGURE, ""));
    AcknowledgeAll(17);

    const std::vector<std::string> sent = rig.sentTexts();
    ASSERT_EQ(17u, sent.size());
    for (const std::string& frame : sent) {
        EXPECT_EQ(frame.find_first_of("/@", 1), frame.size() - 1) << frame;
        EXPECT_EQ(frame, velta36test::CommandFrame(frame.substr(2, frame.size() - 7), '1'));
    }
    EXPECT_EQ(sent[1], Frame("022"));
    EXPECT_EQ(sent[4], Frame("12105"));
    EXPECT_EQ(sent[5], Frame("12204"));
    EXPECT_EQ(sent[14], Frame("040000010800000000"));
}

TEST_F(ControlSequences, CardAddForBothDoorsSendsSixFrames)
{
    ASSERT_EQ(0, Control(CTL_CARD_ADD,
                         R"({"1A2B3C4D": {"CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": "0"}})"));
    AcknowledgeAll(6);
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("0900121A2B3C4D"), Frame("350012311230"), Frame("33001201"),
                                             Frame("36001200"), Frame("1600121"), Frame("1700121")));
    EXPECT_EQ(1, QueryResult());
}

TEST_F(ControlSequences, CardAddForOneDoorSendsFiveFrames)
{
    ASSERT_EQ(0, Control(CTL_CARD_ADD,
                         R"({"1A2B3C4D": {"CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": "2"}})"));
    AcknowledgeAll(5);
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("0900121A2B3C4D"), Frame("350012311230"), Frame("33001201"),
                                             Frame("36001200"), Frame("1600121")));
    EXPECT_EQ(1, QueryResult());
}

TEST_F(ControlSequences, CardDeleteSendsFourOrThreeFrames)
{
    ASSERT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": "345", "DoorNo": "0"}})"));
    AcknowledgeAll(4);
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("09034500000000"), Frame("350345010000"), Frame("1603450"),
                                             Frame("1703450")));
    EXPECT_EQ(1, QueryResult());

    rig.clear();
    ASSERT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": "345", "DoorNo": "1"}})"));
    EXPECT_EQ(-1, rig.device->controlResult) << "a new command is pending again";
    AcknowledgeAll(3);
    EXPECT_THAT(rig.sentTexts(), ElementsAre(Frame("09034500000000"), Frame("350345010000"), Frame("1603450")));
    EXPECT_EQ(1, QueryResult());
}

TEST_F(ControlSequences, ARefusalStopsTheSequenceWhereItWas)
{
    ASSERT_EQ(0, Control(CTL_CONFIGURE, ""));
    ASSERT_EQ(1, rig.receive(kAck));
    ASSERT_EQ(1, rig.receive(kAck));
    const int stoppedAt = rig.device->protocolState;
    EXPECT_EQ(PS_CFG_3, stoppedAt);

    EXPECT_EQ(1, rig.receive("E1/"));
    EXPECT_EQ(stoppedAt, rig.device->protocolState);
    EXPECT_EQ(3u, rig.sentTexts().size()) << "nothing is sent on a refusal";
    EXPECT_EQ(-1, QueryResult());

    // A late acknowledgement goes on from the step that was refused.
    EXPECT_EQ(1, rig.receive(kAck));
    EXPECT_EQ(Frame("190"), rig.sentTexts().back());
}

TEST_F(ControlSequences, ACommandTakesOverARunningExchange)
{
    ASSERT_EQ(0, Control(CTL_CONFIGURE, ""));
    ASSERT_EQ(1, rig.receive(kAck));
    ASSERT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": 1})"));
    EXPECT_EQ(PS_DOOR_OPEN, rig.device->protocolState);
    AcknowledgeAll(2);
    EXPECT_EQ(Frame("2301"), rig.sentTexts().back());
    EXPECT_EQ(1, QueryResult());
}
