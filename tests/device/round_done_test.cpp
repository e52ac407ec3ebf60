// A round's completion as the host sees it: what is published, in which
// order the checks run, and what the device state is afterwards.
#include <cstring>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_device.h"

using refhost::HostEvent;
using testing::ElementsAre;

namespace {

rule_value Rule(const std::string& name, float value, float threshold)
{
    rule_value rule;
    rule.name = name;
    rule.value = value;
    rule.threshold = threshold;
    rule.level = 1;
    return rule;
}

std::string RunRound(RecordingDevice& rig)
{
    testing::internal::CaptureStdout();
    try {
        rig.device.RoundDone();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(RoundDone, CallsTheHostInOrderWithTheRecordAndOnlyNamesThatHaveValues)
{
    RecordingDevice rig;
    rig.device.record.id = 0x01020304u;
    rig.device.record.door1Open = 1;
    rig.device.signalNames = {"door1", "unknown", "door2"};
    rig.device.signalValues["door1"] = 5.0f;
    rig.device.signalValues["door2"] = 0.5f;
    rig.device.thresholdValues["door1"] = 3.0f;
    rig.device.ruleList = {Rule("r1", 1.0f, 2.0f), Rule("r2", 0.0f, 2.0f)};

    const std::string out = RunRound(rig);

    EXPECT_THAT(rig.kinds(), ElementsAre("SendSP", "Reset", "CheckAOReport", "CheckThreshold", "CheckAOReport",
                                         "CheckThreshold", "BatchCheck", "History"));
    const HostEvent& sp = rig.events[0];
    EXPECT_EQ(5045, sp.number);
    EXPECT_FALSE(sp.flag);
    EXPECT_EQ(rig.recordBytes(), sp.bytes);
    ASSERT_EQ(13u, sp.bytes.size());
    EXPECT_EQ(0x04, sp.bytes[0]);   // id in native (little-endian) order
    EXPECT_EQ(0x01, sp.bytes[3]);
    EXPECT_EQ(1, sp.bytes[4]);

    EXPECT_EQ("door1", rig.events[2].name);
    EXPECT_FLOAT_EQ(5.0f, rig.events[2].value);
    EXPECT_EQ("door1", rig.events[3].name);
    EXPECT_EQ("", rig.events[3].text);
    EXPECT_FLOAT_EQ(5.0f, rig.events[3].value);
    EXPECT_EQ(1, rig.events[3].number);
    EXPECT_EQ("door2", rig.events[4].name);
    EXPECT_EQ("door2", rig.events[5].name);
    EXPECT_EQ(2, rig.events[6].number);   // the rule list as the host filled it
    EXPECT_EQ(rig.recordBytes(), rig.events[7].bytes);

    EXPECT_EQ(2u, rig.device.signalValues.size()) << "the lookup must not insert";
    EXPECT_EQ(0u, rig.device.signalValues.count("unknown"));
    EXPECT_TRUE(rig.device.ruleList.empty());
    EXPECT_EQ(1, rig.device.roundStatus);
    EXPECT_TRUE(rig.device.dataReady);
    EXPECT_TRUE(rig.device.reportFlag);   // door1 crossed its threshold
    EXPECT_EQ("rvSize is 2\n", out);
}

TEST(RoundDone, StampsTheRecordWithTheRoundTime)
{
    RecordingDevice rig;
    const boost::posix_time::ptime before = boost::posix_time::second_clock::local_time();
    RunRound(rig);
    const boost::posix_time::ptime after = boost::posix_time::second_clock::local_time();

    EXPECT_GE(rig.device.lastUpdate, before);
    EXPECT_LE(rig.device.lastUpdate, after);
    EXPECT_EQ(0, rig.device.lastUpdate.time_of_day().fractional_seconds());
    const ttime expected = get_ttime(rig.device.lastUpdate);
    const std::vector<unsigned char> record = rig.recordBytes();
    EXPECT_EQ(0, std::memcmp(&expected, record.data() + 6, sizeof(expected)));
}

TEST(RoundDone, EmptyRoundStillRunsTheBatchCheckAndHistory)
{
    RecordingDevice rig;
    rig.device.reportFlag = true;   // left over from an earlier round
    const std::string out = RunRound(rig);

    EXPECT_THAT(rig.kinds(), ElementsAre("SendSP", "Reset", "BatchCheck", "History"));
    EXPECT_EQ(0, rig.events[2].number);
    EXPECT_EQ("rvSize is 0\n", out);
    EXPECT_FALSE(rig.device.reportFlag) << "reportFlag starts false in every round";
}

TEST(RoundDone, ReportFlagFollowsTheResultsOfTheRound)
{
    {
        // A later name that does not cross keeps the flag of an earlier one.
        RecordingDevice rig;
        rig.device.signalNames = {"a", "b"};
        rig.device.signalValues = {{"a", 9.0f}, {"b", 0.0f}};
        rig.device.thresholdValues = {{"a", 1.0f}, {"b", 1.0f}};
        RunRound(rig);
        EXPECT_TRUE(rig.device.reportFlag);
    }
    {
        RecordingDevice rig;
        rig.device.ruleList = {Rule("r", 3.0f, 1.0f)};
        RunRound(rig);
        EXPECT_TRUE(rig.device.reportFlag) << "set by the batch check";
    }
    {
        RecordingDevice rig;
        rig.device.signalNames = {"a"};
        rig.device.signalValues = {{"a", 0.0f}};
        rig.device.thresholdValues = {{"a", 1.0f}};
        rig.device.ruleList = {Rule("r", 0.0f, 1.0f)};
        RunRound(rig);
        EXPECT_FALSE(rig.device.reportFlag);
        EXPECT_EQ(1, rig.device.roundStatus);
    }
}

TEST(RoundDone, AFailingHostFunctionLeavesTheRestOfTheRoundUndone)
{
    RecordingDevice rig;
    rig.device.ruleList = {Rule("r", 0.0f, 1.0f)};
    rig.fault = [](const HostEvent& event) {
        if (event.kind == HostEvent::Kind::BatchCheck)
            throw std::runtime_error("host failure");
    };

    EXPECT_THROW(RunRound(rig), std::runtime_error);
    EXPECT_THAT(rig.kinds(), ElementsAre("SendSP", "Reset"));
    EXPECT_EQ(1u, rig.device.ruleList.size()) << "the list is cleared only at the end";
    EXPECT_EQ(nullptr, rig.first(HostEvent::Kind::History));
}

TEST(RoundDone, AFailingPublicationStopsBeforeTheReset)
{
    RecordingDevice rig;
    rig.device.roundStatus = 0;
    rig.fault = [](const HostEvent& event) {
        if (event.kind == HostEvent::Kind::SendSP)
            throw std::runtime_error("host failure");
    };

    EXPECT_THROW(RunRound(rig), std::runtime_error);
    EXPECT_TRUE(rig.events.empty());
    EXPECT_TRUE(rig.device.dataReady);   // set before the publication
    EXPECT_EQ(0, rig.device.roundStatus);
}
