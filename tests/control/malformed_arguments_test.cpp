// Arguments the wire fields cannot carry are refused with -1: nothing is
// sent, the awaited reply and the frame buffers stay as they were, and the
// command counts as failed.
#include <string>
#include <vector>

#include "control_test.h"

namespace {

struct Malformed {
    const char* what;
    int code;
    std::string argument;
};

const std::string kEntryTail = R"("EndDate": "2030-12-31", "DoorNo": "0"}})";

std::string CardAdd(const std::string& entry) { return R"({"1A2B3C4D": {)" + entry + "}}"; }

std::vector<Malformed> MalformedTable()
{
    std::string nul = R"({"signal_id": "141600010010")";
    nul += '\0';
    nul += R"(, "SetValue": "1"})";
    return {
        {"empty text, door", CTL_SET_VALUE, ""},
        {"empty text, card add", CTL_CARD_ADD, ""},
        {"empty text, card delete", CTL_CARD_DELETE, ""},
        {"invalid JSON", CTL_SET_VALUE, R"({"signal_id": )"},
        {"invalid JSON, card", CTL_CARD_ADD, R"({"1A2B3C4D": {"CardNumber": "12",}})"},
        {"embedded NUL", CTL_SET_VALUE, nul},
        {"deep nesting", CTL_CARD_DELETE, std::string(5000, '[') + std::string(5000, ']')},
        {"door root is an array", CTL_SET_VALUE, R"([{"signal_id": "141600010010", "SetValue": "1"}])"},
        {"door root is a number", CTL_SET_VALUE, "3"},
        {"door root is null", CTL_SET_VALUE, "null"},
        {"signal_id is an array", CTL_SET_VALUE, R"({"signal_id": ["141600010010"], "SetValue": "1"})"},
        {"signal_id is an object", CTL_SET_VALUE, R"({"signal_id": {"a": 1}, "SetValue": "1"})"},
        {"SetValue is an array", CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": [1]})"},
        {"SetValue is an object", CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": {"door": 1}})"},
        {"card code of 7 bytes", CTL_CARD_ADD, R"({"1A2B3C4": {"CardNumber": "12", )" + kEntryTail},
        {"card code of 9 bytes", CTL_CARD_ADD, R"({"1A2B3C4D5": {"CardNumber": "12", )" + kEntryTail},
        {"slot 10000", CTL_CARD_ADD, CardAdd(R"("CardNumber": "10000", "EndDate": "2030-12-31")")},
        {"slot -1", CTL_CARD_ADD, CardAdd(R"("CardNumber": -1, "EndDate": "2030-12-31")")},
        {"slot beyond int", CTL_CARD_ADD, CardAdd(R"("CardNumber": "99999999999999999999", "EndDate": "2030-12-31")")},
        {"slot beyond int, number", CTL_CARD_ADD, CardAdd(R"("CardNumber": 99999999999999999999, "EndDate": "2030-12-31")")},
        {"slot 1e20", CTL_CARD_DELETE, R"({"x": {"CardNumber": 1e20}})"},
        {"slot -1e20", CTL_CARD_DELETE, R"({"x": {"CardNumber": -1e20}})"},
        {"slot 10000, delete", CTL_CARD_DELETE, R"({"x": {"CardNumber": "10000"}})"},
        {"slot -1, delete", CTL_CARD_DELETE, R"({"x": {"CardNumber": "-1"}})"},
        {"date missing", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12")")},
        {"date short", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-12-3")")},
        {"date and time, no such day", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-02-30 12:00")")},
        {"no such month", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-13-01")")},
        {"day 00", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-12-00")")},
        {"29 February, no leap year", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2100-02-29")")},
        {"date with slashes", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030/12/31")")},
        {"date with a letter", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-1a-31")")},
        {"date as a number", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": 20301231)")},
        {"slot is an array", CTL_CARD_ADD, CardAdd(R"("CardNumber": ["12"], "EndDate": "2030-12-31")")},
        {"slot is an object", CTL_CARD_DELETE, R"({"x": {"CardNumber": {"n": 12}}})"},
        {"date is an array", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": ["2030-12-31"])")},
        {"date is an object", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": {"y": 2030})")},
        {"door is an array", CTL_CARD_ADD, CardAdd(R"("CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": [0])")},
        {"door is an object", CTL_CARD_DELETE, R"({"x": {"CardNumber": "12", "DoorNo": {"d": 0}}})"},
        {"entry is a text", CTL_CARD_ADD, R"({"1A2B3C4D": "12"})"},
        {"entry is null", CTL_CARD_DELETE, R"({"x": null})"},
        {"entry is an array", CTL_CARD_DELETE, R"({"x": [{"CardNumber": "12"}]})"},
        {"card root is an array", CTL_CARD_ADD, R"([{"CardNumber": "12", "EndDate": "2030-12-31"}])"},
        {"card root is a text", CTL_CARD_DELETE, R"("x")"},
    };
}

}  // namespace

class MalformedArguments : public ControlTest {};

TEST_F(MalformedArguments, AreRefusedWithNothingSentAndNothingChanged)
{
    // A sequence in progress, so that an untouched state is visible.
    ASSERT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": "345", "DoorNo": "0"}})"));
    ASSERT_EQ(1, rig.receive(velta36test::Ack()));
    const int state = rig.device->protocolState;
    const std::string cmd = Buffer(rig.device->cmdBuffer, 64);
    const std::string frames = Buffer(rig.device->cardFrame1, 64) + Buffer(rig.device->cardFrame2, 64) +
                               Buffer(rig.device->cardFrame3, 64) + Buffer(rig.device->cardFrame4, 64) +
                               Buffer(rig.device->cardFrame5, 64);
    const int doorNo = rig.device->cardDoorNo;

    for (const Malformed& row : MalformedTable()) {
        rig.clear();
        rig.device->controlResult = 1;
        EXPECT_EQ(-1, Control(row.code, row.argument)) << row.what;
        EXPECT_TRUE(rig.sentTexts().empty()) << row.what;
        EXPECT_EQ(state, rig.device->protocolState) << row.what;
        EXPECT_EQ(-1, rig.device->controlResult) << row.what;
        EXPECT_EQ(cmd, Buffer(rig.device->cmdBuffer, 64)) << row.what;
        EXPECT_EQ(frames, Buffer(rig.device->cardFrame1, 64) + Buffer(rig.device->cardFrame2, 64) +
                              Buffer(rig.device->cardFrame3, 64) + Buffer(rig.device->cardFrame4, 64) +
                              Buffer(rig.device->cardFrame5, 64))
            << row.what;
        EXPECT_EQ(doorNo, rig.device->cardDoorNo) << row.what;
    }
    // The running sequence is intact: its next acknowledgement sends the
    // frame it was going to send.
    rig.clear();
    EXPECT_EQ(1, rig.receive(velta36test::Ack()));
    EXPECT_EQ(std::vector<std::string>{Frame("1603450")}, rig.sentTexts());
}

TEST_F(MalformedArguments, ArgumentPointersAndLengthsThatCannotBeRead)
{
    int outRet = 0;
    for (int code : {CTL_SET_VALUE, CTL_CARD_ADD, CTL_CARD_DELETE}) {
        EXPECT_EQ(-1, rig.device->DeviceIoControl(code, nullptr, 12, nullptr, 0, outRet)) << code;
        EXPECT_EQ(-1, rig.device->DeviceIoControl(code, nullptr, 0, nullptr, 0, outRet)) << code;
        EXPECT_EQ(-1, rig.device->DeviceIoControl(code, "{}", -1, nullptr, 0, outRet)) << code;
    }
    EXPECT_TRUE(rig.sentTexts().empty());
}

TEST_F(MalformedArguments, OnlyTheGivenLengthIsRead)
{
    // The bytes after inLen would complete a valid door command.
    const char text[] = R"({"signal_id": "141600010010", "SetValue": "1"})";
    int outRet = 0;
    EXPECT_EQ(-1, rig.device->DeviceIoControl(CTL_SET_VALUE, text, 20, nullptr, 0, outRet));
    EXPECT_EQ(0, rig.device->DeviceIoControl(CTL_SET_VALUE, text, static_cast<int>(sizeof(text) - 1), nullptr, 0,
                                             outRet));
    EXPECT_EQ(std::vector<std::string>{Frame("2201")}, rig.sentTexts());
}

TEST_F(MalformedArguments, EmptyCardObjectsAreAcceptedWithNothingSent)
{
    rig.device->protocolState = PS_EVENT_ACK;
    EXPECT_EQ(0, Control(CTL_CARD_ADD, "{}"));
    EXPECT_EQ(0, Control(CTL_CARD_DELETE, " { } "));
    EXPECT_TRUE(rig.sentTexts().empty());
    EXPECT_EQ(PS_EVENT_ACK, rig.device->protocolState);
    EXPECT_EQ(-1, rig.device->controlResult);
}
