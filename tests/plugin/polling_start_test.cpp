// The start of a polling round: the clock-set command until the controller
// acknowledges one (and again after it reports a power-on), the status
// request on every other round.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "clock_command.h"
#include "frames.h"
#include "protocol_states.h"
#include "temp_work_dir.h"
#include "test_host.h"

namespace {

std::string ClockCommand(int year, int month, int day, int hour, int minute)
{
    const boost::posix_time::ptime when(boost::gregorian::date(static_cast<unsigned short>(year),
                                                               static_cast<unsigned short>(month),
                                                               static_cast<unsigned short>(day)),
                                        boost::posix_time::hours(hour) + boost::posix_time::minutes(minute));
    const std::tm local = boost::posix_time::to_tm(when);
    unsigned char out[velta36::kClockCommandLength + 1] = {};
    out[velta36::kClockCommandLength] = '#';
    velta36::WriteClockCommand(local, out);
    EXPECT_EQ(out[velta36::kClockCommandLength], '#') << "wrote past the command";
    return std::string(out, out + velta36::kClockCommandLength);
}

TEST(ClockCommand, WorkedExample)
{
    // Tuesday 5 March 2024, 14:07.
    EXPECT_EQ(ClockCommand(2024, 3, 5, 14, 7), "0114070503243");
}

TEST(ClockCommand, WeekdayDigitsRunFromSundayToSaturday)
{
    // 3 March 2024 is a Sunday.
    const char* const expected[] = {"1", "2", "3", "4", "5", "6", "7"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ClockCommand(2024, 3, 3 + i, 0, 0).substr(12), expected[i]) << "day " << 3 + i;
}

TEST(ClockCommand, FieldsAtTheirLimits)
{
    // Thursday 31 December 2099, 23:59; Saturday 1 January 2000, 00:00.
    EXPECT_EQ(ClockCommand(2099, 12, 31, 23, 59), "0123593112995");
    EXPECT_EQ(ClockCommand(2000, 1, 1, 0, 0), "0100000101007");
}

class PollingStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.configure("{}");
        rig.clear();
    }

    velta36test::TempWorkDir workDir;
    velta36test::TestHost rig;
};

TEST_F(PollingStart, FirstRoundSetsTheClockToTheLocalTime)
{
    // The command carries minutes: read the clock around the call and retry
    // if the minute turned meanwhile.
    for (int attempt = 0; attempt < 3; ++attempt) {
        velta36test::TestHost fresh;
        fresh.configure("{}");
        const boost::posix_time::ptime before = boost::posix_time::second_clock::local_time();
        EXPECT_EQ(fresh.device->RefreshStatus(), 1);
        const boost::posix_time::ptime after = boost::posix_time::second_clock::local_time();
        if (before.time_of_day().minutes() != after.time_of_day().minutes())
            continue;

        const std::tm local = boost::posix_time::to_tm(before);
        unsigned char command[velta36::kClockCommandLength];
        velta36::WriteClockCommand(local, command);
        const std::string expected =
            velta36test::CommandFrame(std::string(command, command + sizeof(command)));
        ASSERT_EQ(fresh.sentTexts().size(), 1u);
        EXPECT_EQ(fresh.sentTexts()[0], expected);
        EXPECT_EQ(fresh.sentTexts()[0].size(), 20u);
        EXPECT_EQ(fresh.device->protocolState, PS_TIME_SET);
        EXPECT_EQ(fresh.device->clockSet, 0) << "sent, not yet acknowledged";
        return;
    }
    FAIL() << "the minute kept changing during the call";
}

// A clock command lost on the line, missed by a controller still starting,
// or refused is sent again at every round until one is acknowledged; a
// refused one does not keep the round from the door status.
TEST_F(PollingStart, ClockIsSentEveryRoundUntilAcknowledged)
{
    rig.device->RefreshStatus();   // no reply at all
    rig.device->RefreshStatus();
    EXPECT_EQ(rig.receive("N/"), 1);   // refused
    rig.device->RefreshStatus();
    EXPECT_EQ(rig.receive(velta36test::Ack()), 1);
    rig.device->RefreshStatus();

    const std::vector<std::string> sent = rig.sentTexts();
    ASSERT_EQ(sent.size(), 6u);
    for (std::size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(sent[i].size(), 20u) << i;
        EXPECT_EQ(sent[i].substr(0, 4), "@001") << i;
    }
    EXPECT_EQ(sent[2], "@0{007;/") << "the round goes on after a refused clock";
    EXPECT_EQ(sent[4], "@0{007;/");
    EXPECT_EQ(sent[5], "@0{007;/") << "acknowledged once, set";
    EXPECT_EQ(rig.device->clockSet, 1);
    EXPECT_EQ(rig.device->controlResult, -1) << "a polling refusal is no control result";

    // Every round starts with the host's own RefreshStatus, before the frame.
    using Kind = velta36test::TestHost::Kind;
    ASSERT_GE(rig.events.size(), 2u);
    EXPECT_EQ(rig.events[0].kind, Kind::RefreshStatus);
    EXPECT_EQ(rig.events[1].kind, Kind::Send);
}

TEST_F(PollingStart, EveryLaterRoundSendsTheStatusRequestWhateverTheState)
{
    rig.device->RefreshStatus();
    rig.receive(velta36test::Ack());
    rig.clear();
    rig.device->RefreshStatus();
    rig.device->protocolState = PS_CFG_7;   // a control chain was running
    rig.device->RefreshStatus();
    rig.device->RefreshStatus();
    const std::vector<std::string> sent = rig.sentTexts();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], "@0{007;/");
    EXPECT_EQ(sent[2], "@0{007;/");
    EXPECT_EQ(rig.device->protocolState, PS_STATUS_READ);
}

}  // namespace
