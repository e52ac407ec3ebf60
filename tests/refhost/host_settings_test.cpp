// The reference host's own settings keys, as InitSetting reads them before
// and after the plug-in's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_device.h"

using testing::ElementsAre;
using testing::Pair;

namespace {

Json::Value Parse(const std::string& text)
{
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, value)) << text;
    return value;
}

}  // namespace

TEST(HostSettings, DataIdAddressAndBaudAsTextOrNumber)
{
    RecordingDevice rig;
    EXPECT_EQ(0, rig.device.ZRMVDevice::InitSetting(Parse(R"({"data_id": "1201", "address": 3, "baud": "19200"})")));
    EXPECT_EQ(1201u, rig.device.DataId());
    EXPECT_EQ(3, rig.device.deviceAddress);
    EXPECT_EQ(19200, rig.device.baudRate);

    rig.device.ZRMVDevice::InitSetting(Parse(R"({"data_id": 77, "address": "5"})"));
    EXPECT_EQ(77u, rig.device.DataId());
    EXPECT_EQ(5, rig.device.deviceAddress);
    EXPECT_EQ(19200, rig.device.baudRate) << "an absent key keeps its value";
}

TEST(HostSettings, UnusableValuesKeepTheCurrentOnes)
{
    RecordingDevice rig;
    rig.device.ZRMVDevice::InitSetting(
        Parse(R"({"data_id": [1], "address": {"a": 1}, "baud": 0})"));
    EXPECT_EQ(0u, rig.device.DataId());
    EXPECT_EQ(0, rig.device.deviceAddress);
    EXPECT_EQ(9600, rig.device.baudRate);
    rig.device.ZRMVDevice::InitSetting(Parse(R"({"baud": -4800})"));
    EXPECT_EQ(9600, rig.device.baudRate);
    // Not an object at all: nothing to read, the step still reports itself.
    rig.device.ZRMVDevice::InitSetting(Json::Value("text"));
    EXPECT_EQ(3u, rig.events.size());
}

TEST(HostSettings, ThresholdAndLevelPerEntryWatchTheSignalOnce)
{
    RecordingDevice rig;
    const Json::Value config = Parse(R"({"thresholdSetting": {
        "s1": {"Threshold": "2.5", "Level": 3},
        "s2": {"Level": "4"},
        "s3": 9}})");
    rig.device.ZRMVDevice::InitSetting(config);
    rig.device.ZRMVDevice::InitSetting(config);

    EXPECT_THAT(rig.device.thresholdValues, ElementsAre(Pair("s1", 2.5f)));
    EXPECT_THAT(rig.device.signalLevels, ElementsAre(Pair("s1", 3), Pair("s2", 4)));
    EXPECT_THAT(rig.device.signalNames, ElementsAre("s1"));
    ASSERT_EQ(2u, rig.events.size());
    EXPECT_EQ(refhost::HostEvent::Kind::HostSettings, rig.events[1].kind);
}
