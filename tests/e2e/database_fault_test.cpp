// The host keeps polling through database faults. One controller on a
// pseudo-terminal, the loaded plug-in under the scheduler; between batches
// of events the database breaks in one way after another (table dropped,
// disk full, file locked by another connection, file moved away) and comes
// back. Each fault is reported once when it starts and once when it ends;
// rounds keep completing meanwhile; the controller keeps the events it
// could not hand over, and in the end every event is stored exactly once.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>

#include "e2e_support.h"
#include "flaky_disk.h"
#include "raw_database.h"

namespace {

using velta36sim::SimulatedController;
using velta36test::RawDatabase;

struct Fault {
    const char* name;
    std::function<void()> start;
    std::function<void()> end;
    const char* error;   // part of what the failed saves report
};

class DatabaseFaults : public e2e::HostTest {
protected:
    velta36test::FlakyDisk disk_{7};
};

TEST_F(DatabaseFaults, host_keeps_polling_and_stores_every_event_once)
{
    const std::vector<velta36sim::GeneratedEvent> events = e2e::IndependentEvents(71, 60);
    e2e::ControllerSetup setup;
    setup.events.assign(events.begin(), events.begin() + 20);
    e2e::SimLine sim({setup});

    refhost::Scheduler::Options options = e2e::FastOptions();
    options.interval = std::chrono::milliseconds(20);
    refhost::Scheduler scheduler(options);
    scheduler.addDevice(e2e::AddLine(scheduler, sim), "dev", e2e::Plugin()->createDevice(),
                        e2e::DeviceConfig(0, 5));
    std::mutex mutex;
    std::vector<refhost::DatabaseHealth> changes;
    scheduler.setDatabaseObserver([&](std::size_t, const refhost::DatabaseHealth& health) {
        std::lock_guard<std::mutex> lock(mutex);
        changes.push_back(health);
    });
    auto changeCount = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return changes.size();
    };
    auto held = [&sim] {
        return sim.with(0, [](SimulatedController& c) { return c.controller().StoredEvents().size(); });
    };

    std::vector<velta36site::StoredEvent> dropped;   // rows that went with the table
    std::unique_ptr<RawDatabase> locker;
    const std::vector<Fault> faults = {
        {"table dropped",
         [&] {
             dropped = e2e::StoredRows();
             RawDatabase(velta36site::kDatabaseFile).exec("DROP TABLE velta36_event");
         },
         [] { velta36site::EnsureEventDatabase(); }, "no such table: velta36_event"},
        {"disk full", [this] { disk_.failAllWrites(SQLITE_FULL); }, [this] { disk_.behave(); },
         "database or disk is full"},
        {"locked by another connection",
         [&] {
             locker.reset(new RawDatabase(velta36site::kDatabaseFile));
             locker->exec("BEGIN EXCLUSIVE");
         },
         [&] {
             locker->exec("COMMIT");
             locker.reset();
         },
         "database operation timeout"},
        {"file moved away",
         [] { ASSERT_EQ(std::rename(velta36site::kDatabaseFile, "moved.db"), 0); },
         [] { ASSERT_EQ(std::rename("moved.db", velta36site::kDatabaseFile), 0); }, "unable to open database file"},
    };

    scheduler.start();
    ASSERT_TRUE(e2e::WaitFor([&] { return held() == 0; }));
    std::size_t next = 20;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        const std::size_t changesBefore = changeCount();
        fault.start();
        sim.with(0, [&](SimulatedController& c) {
            std::vector<velta36sim::GeneratedEvent> more(events.begin() + static_cast<std::ptrdiff_t>(next),
                                                         events.begin() + static_cast<std::ptrdiff_t>(next + 10));
            c.controller().StoreEvents(velta36sim::RecordsOf(more));
            return 0;
        });
        next += 10;
        ASSERT_TRUE(e2e::WaitFor([&] { return changeCount() > changesBefore; }));
        const uint64_t rounds = scheduler.progress()[0].roundsCompleted;
        // The host polls on and publishes the doors; the controller keeps
        // the events.
        ASSERT_TRUE(e2e::WaitFor([&] { return scheduler.progress()[0].roundsCompleted >= rounds + 2; }));
        EXPECT_EQ(held(), 10u);
        const refhost::DatabaseHealth during = scheduler.progress()[0].database;
        EXPECT_TRUE(during.faulty);
        EXPECT_NE(during.lastError.find(fault.error), std::string::npos) << during.lastError;

        fault.end();
        ASSERT_TRUE(e2e::WaitFor([&] { return held() == 0 && !scheduler.progress()[0].database.faulty; }));
        EXPECT_EQ(changeCount(), changesBefore + 2) << "one line when it starts, one when it ends";
    }
    scheduler.stop();
    scheduler.wait();
    EXPECT_TRUE(scheduler.errors().empty());

    std::vector<velta36site::StoredEvent> rows = dropped;
    for (const velta36site::StoredEvent& row : e2e::StoredRows())
        rows.push_back(row);
    ASSERT_EQ(rows.size(), next);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(e2e::Mismatch(rows[i], events[i].expected), "") << "row " << i;
    const refhost::DatabaseHealth health = scheduler.progress()[0].database;
    EXPECT_EQ(health.faultsSeen, faults.size());
    EXPECT_GE(health.savesFailed, faults.size());
}

}  // namespace
