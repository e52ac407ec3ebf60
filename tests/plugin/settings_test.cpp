// The device object as constructed, and what InitSetting makes of the
// device configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "frames.h"
#include "temp_work_dir.h"
#include "test_host.h"

namespace {

using velta36test::ParseJson;

class Settings : public ::testing::Test {
protected:
    velta36test::TempWorkDir workDir;
    velta36test::TestHost rig;
};

bool AllZeroFrom(const unsigned char* buffer, std::size_t from, std::size_t size)
{
    for (std::size_t i = from; i < size; ++i) {
        if (buffer[i] != 0)
            return false;
    }
    return true;
}

TEST_F(Settings, ConstructorDefaults)
{
    const VELTA36& d = *rig.device;
    const int codes[16] = {d.EVT_SWIPE_IN,   d.EVT_SWIPE_OUT,    d.EVT_BUTTON_EXIT, d.EVT_CODE_4,
                           d.EVT_CODE_5,     d.EVT_CODE_6,       d.EVT_ALARM_END,   d.EVT_CARD_IN,
                           d.EVT_CARD_OUT,   d.EVT_UNKNOWN_CARD, d.EVT_CODE_13,     d.EVT_ILLEGAL_OPEN,
                           d.EVT_TIME_ZONE,  d.EVT_POWER_OFF,    d.EVT_POWER_ON,    d.EVT_TAILGATING};
    const int expected[16] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 15, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(codes[i], expected[i]) << "code " << i;

    EXPECT_EQ(std::string(d.pollFrame, d.pollFrame + 6), "@0q0;/");
    const unsigned char* buffers[6] = {d.cmdBuffer, d.cardFrame1, d.cardFrame2,
                                       d.cardFrame3, d.cardFrame4, d.cardFrame5};
    for (const unsigned char* buffer : buffers) {
        EXPECT_EQ(buffer[0], '@');
        EXPECT_TRUE(AllZeroFrom(buffer, 1, 64));
    }
    EXPECT_EQ(d.cmdLength, 0);
    EXPECT_EQ(d.doors, 1);
    EXPECT_EQ(d.card_type, 1);
    EXPECT_EQ(d.clockSet, 0);
    EXPECT_EQ(d.lastBatchCount, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(d.lastEventType[i], 0);
    EXPECT_EQ(d.doorOpenSeen[0], 0);
    EXPECT_EQ(d.doorOpenSeen[1], 0);
    EXPECT_TRUE(d.lastAccessTime[0].is_not_a_date_time());
    EXPECT_TRUE(d.lastAccessTime[1].is_not_a_date_time());
    EXPECT_EQ(d.controlResult, -1);
    EXPECT_EQ(d.door1_delay, 3);
    EXPECT_EQ(d.door2_delay, 3);
    EXPECT_EQ(d.cardDoorNo, 1);

    EXPECT_EQ(d.DeviceType(), "velta36");
    EXPECT_EQ(d.baudRate, 9600);
    EXPECT_EQ(d.rxLength, 0);
    EXPECT_EQ(d.deviceAddress, 0);
    EXPECT_FALSE(d.dataReady);
    EXPECT_NE(d.db, nullptr);
}

TEST_F(Settings, ConstructingWithoutADatabaseFileCreatesNone)
{
    EXPECT_FALSE(std::ifstream("ZRMDevice.db").good());
}

TEST_F(Settings, NoAppSettingKeepsTheDefaultsAndAddressZero)
{
    EXPECT_EQ(rig.configure("{}"), 0);
    EXPECT_EQ(rig.device->doors, 1);
    EXPECT_EQ(rig.device->card_type, 1);
    EXPECT_EQ(rig.device->door1_delay, 3);
    EXPECT_EQ(rig.device->door2_delay, 3);
    EXPECT_EQ(rig.device->pollFrame[1], '0');
    EXPECT_EQ(rig.device->cmdBuffer[1], '0');
}

TEST_F(Settings, StringsAndNumbersAlike)
{
    rig.configure(R"({"appSetting": {"doors": "2", "card_type": 3, "door1_delay": 9, "door2_delay": "7"}})");
    EXPECT_EQ(rig.device->doors, 2);
    EXPECT_EQ(rig.device->card_type, 3);
    EXPECT_EQ(rig.device->door1_delay, 9);
    EXPECT_EQ(rig.device->door2_delay, 7);

    rig.configure(R"({"appSetting": {"doors": 258, "card_type": " 4x", "door1_delay": "word", "door2_delay": true}})");
    EXPECT_EQ(rig.device->doors, 2);        // low 8 bits of 258
    EXPECT_EQ(rig.device->card_type, 4);    // leading digits after blanks
    EXPECT_EQ(rig.device->door1_delay, 0);  // no digits
    EXPECT_EQ(rig.device->door2_delay, 0);  // "true" has no digits

    // -300 is no digit: refused, the value before it stays.
    rig.configure(R"({"appSetting": {"door1_delay": -300, "door2_delay": 2.9}})");
    EXPECT_EQ(rig.device->door1_delay, 0);
    EXPECT_EQ(rig.device->door2_delay, 2);
}

TEST_F(Settings, NullAndNonObjectAppSettingAreIgnored)
{
    rig.configure(R"({"appSetting": {"doors": null, "card_type": 2}})");
    EXPECT_EQ(rig.device->doors, 1);
    EXPECT_EQ(rig.device->card_type, 2);

    rig.configure(R"({"appSetting": "doors=2", "address": 3})");
    EXPECT_EQ(rig.device->doors, 1);
    EXPECT_EQ(rig.device->card_type, 2);
    EXPECT_EQ(rig.device->pollFrame[1], '3');   // the rest of InitSetting ran

    rig.configure(R"({"appSetting": null})");
    EXPECT_EQ(rig.device->card_type, 2);
}

TEST_F(Settings, AddressIsStampedIntoEveryBuffer)
{
    rig.configure(R"({"address": 5})");
    const VELTA36& d = *rig.device;
    EXPECT_EQ(std::string(d.pollFrame, d.pollFrame + 6), "@5q0;/");
    const unsigned char* buffers[6] = {d.cmdBuffer, d.cardFrame1, d.cardFrame2,
                                       d.cardFrame3, d.cardFrame4, d.cardFrame5};
    for (const unsigned char* buffer : buffers) {
        EXPECT_EQ(buffer[0], '@');
        EXPECT_EQ(buffer[1], '5');
        EXPECT_TRUE(AllZeroFrom(buffer, 2, 64));
    }

    rig.configure(R"({"address": 10})");
    EXPECT_EQ(d.pollFrame[1], ':');
    EXPECT_EQ(d.cardFrame3[1], ':');
    rig.configure(R"({"address": 207})");   // the highest a character names
    EXPECT_EQ(d.pollFrame[1], 0xFF);
}

// An address no character names (above 207; a host's -1 arrives as 255,
// which would put '/' into every frame) is refused with one line. The
// device then sends nothing at all, to no address, until InitSetting
// brings one it can send; the result query still answers.
TEST_F(Settings, AddressNoCharacterNamesLeavesTheDeviceMuteUntilAGoodOne)
{
    VELTA36& d = *rig.device;
    rig.configure(R"({"address": 3})");
    for (const char* config : {R"({"address": -1})", R"({"address": 208})"}) {
        rig.clear();
        testing::internal::CaptureStdout();
        rig.configure(config);
        const std::string log = testing::internal::GetCapturedStdout();
        const int held = d.deviceAddress;
        EXPECT_NE(log.find("deviceAddress " + std::to_string(held) +
                           " cannot be sent as an address character (0 to 207), nothing is sent until it can\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(d.pollFrame[1], '3') << "no buffer is stamped";

        EXPECT_EQ(d.RefreshStatus(), 1);
        EXPECT_EQ(rig.eventsOf(velta36test::TestHost::Kind::Reset).size(), 1u) << "the exchange is over";
        d.protocolState = 10;   // a reply arriving anyway makes it send nothing
        EXPECT_EQ(rig.receive(velta36test::DataFrame("")), 0);
        int outRet = 0;
        const std::string open = R"({"signal_id": "141600010010", "SetValue": 1})";
        EXPECT_EQ(d.DeviceIoControl(320, open.data(), static_cast<int>(open.size()), nullptr, 0, outRet), -1);
        EXPECT_EQ(d.DeviceIoControl(322, "", 0, nullptr, 0, outRet), -1);
        int32_t result = 7;
        EXPECT_EQ(d.DeviceIoControl(0, nullptr, 0, &result, sizeof(result), outRet), 0);
        EXPECT_EQ(outRet, 4);
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(rig.sentTexts().empty());
        EXPECT_EQ(rig.eventsOf(velta36test::TestHost::Kind::Reset).size(), 1u) << "the reply ended nothing";
        EXPECT_TRUE(rig.eventsOf(velta36test::TestHost::Kind::SendSP).empty());
        EXPECT_EQ(d.protocolState, 10);
    }
    rig.clear();
    rig.configure(R"({"address": 4})");
    d.RefreshStatus();
    ASSERT_EQ(rig.sentTexts().size(), 1u);
    EXPECT_EQ(rig.sentTexts()[0].substr(0, 4), "@401");
}

TEST_F(Settings, AbsentKeysKeepTheEarlierConfiguration)
{
    rig.configure(R"({"address": 2, "appSetting": {"doors": 2, "card_type": 5, "door1_delay": 9, "door2_delay": 8}})");
    rig.configure(R"({"appSetting": {"door2_delay": 4}})");
    EXPECT_EQ(rig.device->doors, 2);
    EXPECT_EQ(rig.device->card_type, 5);
    EXPECT_EQ(rig.device->door1_delay, 9);
    EXPECT_EQ(rig.device->door2_delay, 4);
    EXPECT_EQ(rig.device->cmdBuffer[1], '2');
}

TEST_F(Settings, ArrayValueLetsTheJsonExceptionOut)
{
    EXPECT_THROW(rig.configure(R"({"address": 2, "appSetting": {"doors": 2, "card_type": [1], "door1_delay": 7}})"),
                 Json::Exception);
    EXPECT_EQ(rig.device->doors, 2);          // read before the failing key
    EXPECT_EQ(rig.device->door1_delay, 3);    // never reached
    EXPECT_EQ(rig.device->cmdBuffer[1], '2') << "the frames carry the address all the same";
    EXPECT_THROW(rig.configure(R"({"appSetting": {"door2_delay": {"a": 1}}})"), std::exception);
}

TEST_F(Settings, HandsOverToTheGenericSettings)
{
    using Kind = velta36test::TestHost::Kind;
    // The host's settings run first (for the address) and once more at the
    // end of the generic layer, which reads "b_mode".
    EXPECT_EQ(rig.configure(R"({"appSetting": {"b_mode": 2}})"), 0);
    EXPECT_EQ(rig.eventsOf(Kind::HostSettings).size(), 2u);
    EXPECT_EQ(rig.device->b_mode_, 2);
}

TEST_F(Settings, RunCheckThresholdChangesNothing)
{
    rig.configure(R"({"appSetting": {"doors": 2}})");
    const VELTA36& d = *rig.device;
    const std::string before(reinterpret_cast<const char*>(&d.record), sizeof(d.record));
    const std::string poll(d.pollFrame, d.pollFrame + 6);
    rig.clear();
    rig.device->RunCheckThreshold();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d.record), sizeof(d.record)), before);
    EXPECT_EQ(std::string(d.pollFrame, d.pollFrame + 6), poll);
    EXPECT_EQ(d.doors, 2);
    EXPECT_FALSE(d.reportFlag);
    EXPECT_TRUE(rig.events.empty());
}

}  // namespace
