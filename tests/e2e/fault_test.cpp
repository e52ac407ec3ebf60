// A line that splits replies, puts noise before them and has commands
// refused: the host ends each broken exchange itself and the next round
// picks up, so no stored event is lost (a refused "v0" means the controller
// hands the same batch out again, which shows as repeated rows, never as
// missing ones). A controller that never answers times out every round.
#include <gtest/gtest.h>

#include <map>

#include "e2e_support.h"

namespace {

using velta36sim::SimulatedController;

using Faults = e2e::HostTest;

std::string Key(const velta36site::StoredEvent& row)
{
    return row.eventTime.value_or("") + "|" + std::to_string(row.readerChannel) + "|" +
           std::to_string(row.eventType) + "|" + row.cardNo + "|" + row.reason;
}

std::string Key(const velta36sim::ExpectedRow& row)
{
    return velta36sim::ToText(row.eventTime) + "|" + std::to_string(row.readerChannel) + "|" +
           std::to_string(row.eventType) + "|" + row.cardNo + "|" + row.reason;
}

TEST_F(Faults, SplitNoisyAndRefusedExchangesLoseNoEvent)
{
    e2e::ControllerSetup setup;
    setup.events = e2e::IndependentEvents(51, 200);
    setup.faults.splitReply = 0.5;
    setup.faults.noiseBeforeReply = 0.2;
    setup.faults.refuseCommand = 0.15;
    setup.faultSeed = 5;
    e2e::SimLine sim({setup});

    refhost::Scheduler::Options options = e2e::FastOptions();
    options.turnaround = std::chrono::milliseconds(80);
    refhost::Scheduler scheduler(options);
    scheduler.addDevice(e2e::AddLine(scheduler, sim), "dev", e2e::Plugin()->createDevice(), e2e::DeviceConfig(0, 9));
    scheduler.setCycleCheck([&sim](std::size_t) { return sim.drained(); });
    ASSERT_TRUE(e2e::RunToEnd(scheduler, std::chrono::seconds(90)));

    const velta36sim::Statistics stats = sim.line().Stats(0);
    // The faults really happened, or this test proves nothing.
    EXPECT_GT(stats.faults.splitReplies, 0u);
    EXPECT_GT(stats.faults.noiseBursts, 0u);
    EXPECT_GT(stats.faults.refusedCommands, 0u);
    EXPECT_GT(scheduler.progress()[0].timeouts, 0u);

    // Identical records can occur (same card, same minute), so compare
    // multisets: each expected row at least as often as generated.
    std::map<std::string, int> stored;
    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    for (const velta36site::StoredEvent& row : rows)
        ++stored[Key(row)];
    std::map<std::string, int> expected;
    for (const velta36sim::GeneratedEvent& event : setup.events)
        ++expected[Key(event.expected)];
    for (const auto& entry : expected)
        EXPECT_GE(stored[entry.first], entry.second) << "missing: " << entry.first;
    for (const auto& entry : stored)
        EXPECT_TRUE(expected.count(entry.first)) << "never generated: " << entry.first;
    const uint64_t repeats =
        sim.with(0, [](SimulatedController& c) { return c.controller().Counts().resentAfterLostAck; });
    EXPECT_EQ(rows.size(), 200u + repeats);
}

TEST_F(Faults, SilentControllerTimesOutEveryRoundAndStopsCleanly)
{
    e2e::ControllerSetup setup;
    setup.address = 4;   // the device polls address 0: nobody answers
    e2e::SimLine sim({setup});
    refhost::Scheduler::Options options = e2e::FastOptions();
    options.turnaround = std::chrono::milliseconds(50);
    refhost::Scheduler scheduler(options);
    scheduler.addDevice(e2e::AddLine(scheduler, sim), "dev", e2e::Plugin()->createDevice(), e2e::DeviceConfig(0, 1));
    scheduler.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    scheduler.stop();
    scheduler.wait();
    const refhost::DeviceProgress progress = scheduler.progress()[0];
    EXPECT_GE(progress.roundsStarted, 2u);
    EXPECT_EQ(progress.timeouts, progress.roundsStarted);
    EXPECT_EQ(progress.roundsCompleted, 0u);
    EXPECT_TRUE(scheduler.errors().empty());
}

}  // namespace
