// The generic settings: the data id stamped into the record, the settings
// mode and, in mode 3, the walk over "thresholdSetting" with its log lines.
#include <map>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_device.h"

using refhost::HostEvent;
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

// Runs InitSetting and returns what it printed.
std::string Configure(RecordingDevice& rig, const std::string& config, int* result = nullptr)
{
    testing::internal::CaptureStdout();
    int r = -99;
    try {
        r = rig.device.InitSetting(Parse(config));
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    if (result)
        *result = r;
    return testing::internal::GetCapturedStdout();
}

struct SettingsWalk : testing::Test {
    RecordingDevice rig;
    SettingsWalk() { rig.device.dataId = 42; }
};

}  // namespace

TEST_F(SettingsWalk, ModeThreeWalksEveryEntryWithItsLogLines)
{
    rig.device.signalLevels["s1"] = 2;
    rig.device.thresholdValues["s1"] = 1.5f;
    int result = -1;
    const std::string out = Configure(rig,
        R"({"appSetting": {"b_mode": "3"},
            "thresholdSetting": {
              "s1": {"SignalName": "Door", "NMAlarmID": "7", "ID": 12, "SignalNumber": 3},
              "s2": {},
              "s3": 5}})",
        &result);

    EXPECT_EQ("InitSetting 42 b_mode_:3\n"
              "here 1\n"
              "here 2\n"
              "here s1\n"
              "mobile:s1:7;12;3; level:2 value:1.5\n"
              "here s2\n"
              "42 NMAlarmID is missing\n"
              "42 ID is missing\n"
              "42 SignalNumber is missing\n"
              "mobile:s2:;;; level:0 value:0\n"
              "here s3\n",
              out);
    EXPECT_EQ(0, result);
    EXPECT_EQ(3, rig.device.b_mode_);
    EXPECT_EQ(42u, static_cast<unsigned int>(rig.device.record.id));
    EXPECT_THAT(rig.device.signalNameByKey, ElementsAre(Pair("s1", "Door")));
    EXPECT_THAT(rig.device.alarmRouteByKey, ElementsAre(Pair("s1", "7;12;3;"), Pair("s2", ";;;")));
    // The log's lookups enter the object entries into the host's tables.
    EXPECT_EQ(1u, rig.device.signalLevels.count("s2"));
    EXPECT_EQ(1u, rig.device.thresholdValues.count("s2"));
    EXPECT_EQ(0u, rig.device.signalLevels.count("s3"));
    // The host's own settings run last.
    ASSERT_FALSE(rig.events.empty());
    EXPECT_EQ(HostEvent::Kind::HostSettings, rig.events.back().kind);
}

TEST_F(SettingsWalk, ModeIsTheLeadingIntegerOfTextOrNumber)
{
    const std::map<std::string, int> cases = {
        {R"("3")", 3}, {"3", 3}, {R"("3x")", 3}, {R"("abc")", 0}, {R"("12")", 12}};
    for (const auto& c : cases) {
        RecordingDevice each;
        each.device.dataId = 7;
        const std::string out = Configure(each, R"({"appSetting": {"b_mode": )" + c.first + "}}");
        EXPECT_EQ(c.second, each.device.b_mode_) << c.first;
        const std::string announced = "InitSetting 7 b_mode_:" + std::to_string(c.second) + "\n";
        EXPECT_EQ(c.second == 3 ? announced + "here 1\n" : announced, out) << c.first;
    }
}

TEST_F(SettingsWalk, WithoutAModeNothingIsReadOrPrinted)
{
    for (const char* config : {"{}", R"({"appSetting": "3"})", R"({"appSetting": {"doors": 2}})",
                               R"({"appSetting": {"b_mode": null}, "thresholdSetting": {"s1": {}}})"}) {
        RecordingDevice each;
        EXPECT_EQ("", Configure(each, config)) << config;
        EXPECT_EQ(1, each.device.b_mode_) << config;
        EXPECT_TRUE(each.device.alarmRouteByKey.empty()) << config;
        ASSERT_EQ(1u, each.events.size()) << config;
        EXPECT_EQ(HostEvent::Kind::HostSettings, each.events[0].kind);
    }
}

TEST_F(SettingsWalk, ModeAndMapsCarryOverToLaterCalls)
{
    Configure(rig, R"({"appSetting": {"b_mode": 3},
                       "thresholdSetting": {"s1": {"SignalName": "Door", "NMAlarmID": 1, "ID": 2, "SignalNumber": 3},
                                            "s2": {"SignalName": "Lock"}}})");
    rig.device.dataId = 43;
    const std::string out = Configure(rig,
        R"({"thresholdSetting": {"s1": {"NMAlarmID": 9, "ID": 8, "SignalNumber": 7}, "s4": {"SignalName": "Exit"}}})");

    EXPECT_EQ(3, rig.device.b_mode_);
    EXPECT_EQ(43u, static_cast<unsigned int>(rig.device.record.id));
    EXPECT_EQ(0u, out.find("here 1\nhere 2\nhere s1\n")) << out;
    EXPECT_THAT(rig.device.signalNameByKey, ElementsAre(Pair("s1", "Door"), Pair("s2", "Lock"), Pair("s4", "Exit")));
    EXPECT_THAT(rig.device.alarmRouteByKey,
                ElementsAre(Pair("s1", "9;8;7;"), Pair("s2", ";;;"), Pair("s4", ";;;")));
}

TEST_F(SettingsWalk, ModeThreeWithoutEntriesStopsEarly)
{
    EXPECT_EQ("InitSetting 42 b_mode_:3\nhere 1\n", Configure(rig, R"({"appSetting": {"b_mode": 3}})"));
    EXPECT_EQ("here 1\nhere 2\n", Configure(rig, R"({"thresholdSetting": "s1"})"));
    EXPECT_EQ("here 1\nhere 2\n", Configure(rig, R"({"thresholdSetting": 17})"));
    EXPECT_TRUE(rig.device.alarmRouteByKey.empty());
}

TEST_F(SettingsWalk, AnArrayOfEntriesThrowsOutOfTheWalk)
{
    Configure(rig, R"({"appSetting": {"b_mode": 3}})");
    rig.events.clear();
    testing::internal::CaptureStdout();
    EXPECT_ANY_THROW(rig.device.InitSetting(Parse(R"({"thresholdSetting": [{"SignalName": "Door"}]})")));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("here 1\nhere 2\nhere \n", out);
    EXPECT_TRUE(rig.device.signalNameByKey.empty());
    EXPECT_TRUE(rig.events.empty()) << "the host's settings code does not run";
}

TEST_F(SettingsWalk, AnArrayWhereATextBelongsKeepsWhatWasStoredBefore)
{
    Configure(rig, R"({"appSetting": {"b_mode": 3}})");
    testing::internal::CaptureStdout();
    EXPECT_ANY_THROW(rig.device.InitSetting(Parse(
        R"({"thresholdSetting": {"a": {"NMAlarmID": 1, "ID": 2, "SignalNumber": 3},
                                 "b": {"SignalName": "Door", "NMAlarmID": [1]}}})")));
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(rig.device.alarmRouteByKey, ElementsAre(Pair("a", "1;2;3;")));
    EXPECT_THAT(rig.device.signalNameByKey, ElementsAre(Pair("b", "Door")));
}
