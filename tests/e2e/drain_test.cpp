// Draining stored events over a pseudo-terminal: every record the
// simulated controllers hold becomes exactly one row, decoded as the
// record implies, with one controller, two on one line, and two lines.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using e2e::ControllerSetup;

void ExpectRowsMatch(const std::vector<velta36site::StoredEvent>& rows,
                     const std::vector<velta36sim::GeneratedEvent>& events)
{
    ASSERT_EQ(rows.size(), events.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string diff = e2e::Mismatch(rows[i], events[i].expected);
        EXPECT_EQ(diff, "") << "row " << i << " (" << rows[i].eventTime.value_or("NULL") << ")";
        if (!diff.empty())
            return;   // one mismatch usually shifts all later rows
    }
}

using Drain = e2e::HostTest;

TEST_F(Drain, ThousandStoredEventsBecomeThousandRows)
{
    ControllerSetup setup;
    setup.events = e2e::IndependentEvents(7, 1000);
    e2e::SimLine sim({setup});

    refhost::Scheduler scheduler(e2e::FastOptions());
    const std::size_t line = e2e::AddLine(scheduler, sim);
    scheduler.addDevice(line, "door controller", e2e::Plugin()->createDevice(), e2e::DeviceConfig(0, 5));
    scheduler.setCycleCheck([&sim](std::size_t) { return sim.drained(); });
    ASSERT_TRUE(e2e::RunToEnd(scheduler));

    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    ExpectRowsMatch(rows, setup.events);
    for (const velta36site::StoredEvent& row : rows)
        ASSERT_EQ(row.dataId, 5);
    EXPECT_EQ(sim.with(0, [](velta36sim::SimulatedController& c) { return c.controller().Counts().acknowledged; }),
              1000u);
    EXPECT_EQ(sim.with(0, [](velta36sim::SimulatedController& c) { return c.controller().Counts().resent; }), 0u);
    EXPECT_TRUE(sim.with(0, [](velta36sim::SimulatedController& c) { return c.controller().ClockWasSet(); }));
    EXPECT_EQ(scheduler.progress()[0].timeouts, 0u);
    EXPECT_EQ(scheduler.errors().size(), 0u);
}

TEST_F(Drain, TwoControllersOnOneLineArePolledInTurn)
{
    ControllerSetup first;
    first.address = 1;
    first.events = e2e::IndependentEvents(11, 35);
    ControllerSetup second;
    second.address = 2;
    second.events = e2e::IndependentEvents(12, 47);
    e2e::SimLine sim({first, second});

    refhost::Scheduler scheduler(e2e::FastOptions());
    const std::size_t line = e2e::AddLine(scheduler, sim);
    scheduler.addDevice(line, "first", e2e::Plugin()->createDevice(), e2e::DeviceConfig(1, 101));
    scheduler.addDevice(line, "second", e2e::Plugin()->createDevice(), e2e::DeviceConfig(2, 102));
    scheduler.setCycleCheck([&sim](std::size_t) { return sim.drained(); });
    ASSERT_TRUE(e2e::RunToEnd(scheduler));

    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    EXPECT_EQ(rows.size(), 82u);
    ExpectRowsMatch(e2e::RowsOf(rows, 101), first.events);
    ExpectRowsMatch(e2e::RowsOf(rows, 102), second.events);
    // Both were polled, each round answered by its own controller.
    for (const refhost::DeviceProgress& device : scheduler.progress()) {
        EXPECT_GE(device.roundsCompleted, 1u) << device.name;
        EXPECT_EQ(device.timeouts, 0u) << device.name;
    }
}

TEST_F(Drain, TwoLinesAtOnceLoseNothingToTheSharedDatabase)
{
    // Both lines store at the same time into one file; a save that meets
    // the other's lock must not cost an event.
    ControllerSetup a;
    a.events = e2e::IndependentEvents(21, 300);
    ControllerSetup b;
    b.events = e2e::IndependentEvents(22, 300);
    e2e::SimLine simA({a});
    e2e::SimLine simB({b});

    refhost::Scheduler scheduler(e2e::FastOptions());
    scheduler.addDevice(e2e::AddLine(scheduler, simA), "line A", e2e::Plugin()->createDevice(),
                        e2e::DeviceConfig(0, 201));
    scheduler.addDevice(e2e::AddLine(scheduler, simB), "line B", e2e::Plugin()->createDevice(),
                        e2e::DeviceConfig(0, 202));
    scheduler.setCycleCheck([&](std::size_t line) { return line == 0 ? simA.drained() : simB.drained(); });
    ASSERT_TRUE(e2e::RunToEnd(scheduler));

    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    ExpectRowsMatch(e2e::RowsOf(rows, 201), a.events);
    ExpectRowsMatch(e2e::RowsOf(rows, 202), b.events);
    EXPECT_EQ(rows.size(), 600u);
}

TEST_F(Drain, RoundLimitStopsAfterThatManyCompletedRounds)
{
    ControllerSetup setup;
    setup.events = e2e::IndependentEvents(31, 5);
    e2e::SimLine sim({setup});
    refhost::Scheduler::Options options = e2e::FastOptions();
    options.maxRounds = 3;
    refhost::Scheduler scheduler(options);
    scheduler.addDevice(e2e::AddLine(scheduler, sim), "dev", e2e::Plugin()->createDevice(), e2e::DeviceConfig(0, 1));
    ASSERT_TRUE(e2e::RunToEnd(scheduler));
    EXPECT_EQ(scheduler.completedRounds(), 3u);
    EXPECT_EQ(scheduler.progress()[0].roundsStarted, 3u);
    EXPECT_EQ(e2e::StoredRows().size(), 5u);
}

}  // namespace
