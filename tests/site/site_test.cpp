// A site over an in-memory line, the loaded plug-in polling a simulated
// controller, with a recording listener attached: every stored event
// reaches it once and in order while the table is dropped and made anew
// (with another writer's rows in it) and while the file is replaced by a
// copy and by another file; door changes and a database fault are told
// once each; a command's outcome comes back through the site.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "raw_database.h"
#include "recording_listener.h"
#include "refhost/memory_transport.h"
#include "site.h"
#include "temp_work_dir.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/memory_line.h"
#include "velta36sim/shared_line.h"

namespace {

using velta36site::StoredEvent;
using velta36test::RawDatabase;

bool WaitFor(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<StoredEvent> TableRows()
{
    return velta36site::EventReader(velta36site::kDatabaseFile).after(0);
}

// Rows of another writer: data id 99, the n-th at minute n.
void InsertOtherRows(RawDatabase& db, int count)
{
    for (int i = 1; i <= count; ++i) {
        char sql[256];
        std::snprintf(sql, sizeof(sql),
                      "INSERT INTO velta36_event (data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) "
                      "VALUES (99, '2024-01-01 00:%02d:00', 1, 1, 'OTHER%03d', 'other writer')",
                      i % 60, i);
        db.exec(sql);
    }
}

class SiteOverMemoryLine : public ::testing::Test {
protected:
    SiteOverMemoryLine() : line_(clock_)
    {
        velta36sim::ControllerOptions controller;
        controller.address = 1;
        controller.doors = 2;
        line_.Add(controller);
        velta36sim::GeneratorOptions generator;
        generator.seed = 18;
        generator.count = 40;
        generator.doors = 2;
        generator.trackingIndependentOnly = true;
        events_ = velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));

        std::ofstream("site.json") << "{\"name\": \"front\", \"port\": \"memory\", \"address\": 1, \"data_id\": 31,"
                                      " \"appSetting\": {\"doors\": 2}}";
        velta36site::SiteOptions options;
        options.config = "site.json";
        options.plugin = VELTA36_PLUGIN_PATH;
        velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);
        config.schedule.interval = std::chrono::milliseconds(10);
        site_.reset(new velta36site::Site(config));
        site_->setLineOpener([this](const velta36site::LineSpec&, const refhost::Rs485Settings&) {
            std::unique_ptr<refhost::MemoryTransport> transport(new refhost::MemoryTransport);
            velta36sim::ServeOnMemoryTransport(*transport, line_);
            transport->open();
            return velta36site::OpenedLine{std::move(transport), "", {}};
        });
    }

    void deliver(std::size_t count)
    {
        const std::vector<velta36sim::EventRecord> more(events_.begin() + static_cast<std::ptrdiff_t>(delivered_),
                                                        events_.begin() +
                                                            static_cast<std::ptrdiff_t>(delivered_ + count));
        line_.With(1, [&more](velta36sim::SimulatedController& c) { c.controller().StoreEvents(more); });
        delivered_ += count;
    }
    std::size_t held()
    {
        std::size_t n = 0;
        line_.With(1, [&n](velta36sim::SimulatedController& c) { n = c.controller().StoredEvents().size(); });
        return n;
    }
    void setDoor1(bool open)
    {
        line_.With(1, [open](velta36sim::SimulatedController& c) { c.controller().SetDoorOpen(1, open); });
    }

    velta36test::TempWorkDir dir_{velta36test::RamBackedTempBase()};
    velta36sim::SteadyClock clock_;
    velta36sim::SharedLine line_;
    std::vector<velta36sim::EventRecord> events_;
    std::size_t delivered_ = 0;
    velta36test::RecordingListener heard_;
    std::unique_ptr<velta36site::Site> site_;   // last: it goes before the line and listener it uses
};

TEST_F(SiteOverMemoryLine, every_stored_event_reaches_the_listener_once_and_in_order)
{
    site_->loadPlugin();
    site_->enterWorkingFolder();
    ASSERT_EQ(site_->setUpEventDatabase().setup, velta36site::DatabaseSetup::CreatedFile);
    // A host's own file, in the rollback journal's mode: a connection to a
    // file that was replaced notices it and the plug-in opens the new one.
    RawDatabase(velta36site::kDatabaseFile).exec("PRAGMA journal_mode=DELETE");
    site_->silencePluginOutput();
    site_->openLines();
    site_->addListener(heard_);
    deliver(10);
    site_->start();

    std::vector<StoredEvent> expected;
    auto caughtUp = [&] { return held() == 0 && heard_.rows().size() == expected.size(); };
    auto tableAsItIs = [&](std::size_t from) {
        const std::vector<StoredEvent> rows = TableRows();
        expected.insert(expected.end(), rows.begin() + static_cast<std::ptrdiff_t>(from), rows.end());
        return rows.size();
    };
    ASSERT_TRUE(WaitFor([&] { return held() == 0; }));
    ASSERT_EQ(tableAsItIs(0), 10u);
    ASSERT_TRUE(WaitFor(caughtUp));

    // The doors, each change once.
    setDoor1(true);
    ASSERT_TRUE(WaitFor([&] { return heard_.doors().size() == 2; }));
    setDoor1(false);
    ASSERT_TRUE(WaitFor([&] { return heard_.doors().size() == 3; }));

    // The table dropped: the events stay on the controller, and the fault
    // is told once. Then it is made anew, another writer's rows first, so
    // that its ids reach past the last one told.
    std::string schema;
    {
        RawDatabase db(velta36site::kDatabaseFile);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db.handle(), "SELECT sql FROM sqlite_master WHERE name = 'velta36_event'", -1, &statement,
                           nullptr);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        schema = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        db.exec("DROP TABLE velta36_event");
    }
    deliver(10);
    ASSERT_TRUE(WaitFor([&] { return heard_.faults().size() == 1; }));
    EXPECT_EQ(held(), 10u);
    {
        RawDatabase db(velta36site::kDatabaseFile);
        db.exec("BEGIN");
        db.exec(schema);
        InsertOtherRows(db, 12);
        db.exec("COMMIT");
    }
    ASSERT_TRUE(WaitFor([&] { return held() == 0 && heard_.faults().size() == 2; }));
    ASSERT_EQ(tableAsItIs(0), 22u);
    ASSERT_TRUE(WaitFor(caughtUp));

    // A copy of the file put in its place: what it holds was told already.
    {
        RawDatabase holder(velta36site::kDatabaseFile);
        holder.exec("BEGIN IMMEDIATE");
        std::ofstream("copy.db", std::ios::binary)
            << std::ifstream(velta36site::kDatabaseFile, std::ios::binary).rdbuf();
        ASSERT_EQ(std::rename("copy.db", velta36site::kDatabaseFile), 0);
        holder.exec("COMMIT");
    }
    deliver(5);
    ASSERT_TRUE(WaitFor([&] { return held() == 0; }));
    ASSERT_EQ(tableAsItIs(22), 27u);
    ASSERT_TRUE(WaitFor(caughtUp));

    // Another file put in its place, with more rows than were told: all new.
    {
        sqlite3* made = nullptr;
        ASSERT_EQ(sqlite3_open("fresh.db", &made), SQLITE_OK);
        sqlite3_close(made);
        RawDatabase fresh("fresh.db");
        fresh.exec(schema);
        InsertOtherRows(fresh, 30);
    }
    ASSERT_EQ(std::rename("fresh.db", velta36site::kDatabaseFile), 0);
    deliver(5);
    ASSERT_TRUE(WaitFor([&] { return held() == 0; }));
    ASSERT_EQ(tableAsItIs(0), 35u);
    ASSERT_TRUE(WaitFor(caughtUp));

    // A command through the site: its future and the listener.
    const velta36site::ControlOutcome opened =
        site_->submit(site_->devices().front(), velta36site::OpenDoorRequest(2)).get();
    EXPECT_TRUE(opened.carriedOut()) << opened.error;
    site_->stop();
    site_->wait();

    const std::vector<velta36test::RecordingListener::Row> rows = heard_.rows();
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(rows[i].row == expected[i]) << "row " << i << ": id " << rows[i].row.id;
        EXPECT_EQ(rows[i].device, rows[i].row.dataId == 31 ? "front" : "data id 99") << "row " << i;
    }
    EXPECT_EQ(site_->status()[0].eventsStored, delivered_);

    const std::vector<velta36test::RecordingListener::Doors> doors = heard_.doors();
    ASSERT_EQ(doors.size(), 3u);
    EXPECT_EQ(doors[0].device, "front");
    EXPECT_TRUE(doors[0].doors == (velta36site::DoorStates{false, false}));
    EXPECT_TRUE(doors[1].doors == (velta36site::DoorStates{true, false}));
    EXPECT_TRUE(doors[2].doors == (velta36site::DoorStates{false, false}));

    const std::vector<velta36test::RecordingListener::Fault> faults = heard_.faults();
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_TRUE(faults[0].faulty);
    EXPECT_NE(faults[0].error.find("no such table: velta36_event"), std::string::npos) << faults[0].error;
    EXPECT_FALSE(faults[1].faulty);

    EXPECT_EQ(heard_.outcomes(), std::vector<std::string>{"front: open door 2: done"});
    EXPECT_TRUE(heard_.stoppedLines().empty());
    EXPECT_GT(heard_.rounds(), 0u);
    EXPECT_TRUE(heard_.oneAtATime());
}

// A line whose adapter is gone: every write fails.
class DeadLine : public refhost::MemoryTransport {
public:
    void send(const unsigned char*, std::size_t) override { throw std::runtime_error("write failed: no adapter"); }
};

TEST(SiteWithBadLines, a_quiet_controller_times_out_and_a_dead_line_stops_on_its_own)
{
    velta36test::TempWorkDir dir(velta36test::RamBackedTempBase());
    std::ofstream("site.json") << "[{\"name\": \"quiet\", \"port\": \"memory-a\", \"baud\": 115200},"
                                  " {\"name\": \"gone\", \"port\": \"memory-a2\", \"baud\": 115200}]";
    velta36site::SiteOptions options;
    options.config = "site.json";
    options.plugin = VELTA36_PLUGIN_PATH;
    velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);
    config.schedule.turnaround = std::chrono::milliseconds(10);
    config.schedule.interval = std::chrono::milliseconds(10);
    velta36test::RecordingListener heard;
    velta36site::Site site(config);
    site.setLineOpener([](const velta36site::LineSpec& line, const refhost::Rs485Settings&) {
        std::unique_ptr<refhost::MemoryTransport> transport(
            line.identity.port == "memory-a" ? new refhost::MemoryTransport : new DeadLine);
        transport->open();
        return velta36site::OpenedLine{std::move(transport), "", {}};
    });
    site.loadPlugin();
    site.silencePluginOutput();
    site.openLines();
    site.addListener(heard);
    site.start();

    ASSERT_TRUE(WaitFor([&] { return !heard.stoppedLines().empty() && heard.timeouts() >= 2; }));
    // The stopped line's commands end at once, with why.
    const velta36site::ControlOutcome refused = site.submit(site.devices()[1], velta36site::ConfigureRequest()).get();
    EXPECT_FALSE(refused.carriedOut());
    EXPECT_NE(refused.error, "");
    site.stop();
    site.wait();

    // Told once, for the line whose port is a longer name of the other's.
    EXPECT_EQ(heard.stoppedLines(), std::vector<std::string>{"memory-a2 stopped: memory-a2: write failed: no adapter"});
    EXPECT_EQ(site.errors().size(), 1u);
    EXPECT_EQ(heard.timeoutsOf("gone"), 0u);
    EXPECT_EQ(heard.timeoutsOf("quiet"), heard.timeouts());
    EXPECT_EQ(heard.timeouts(), site.status()[0].progress.timeouts);
    EXPECT_EQ(heard.outcomes(),
              std::vector<std::string>{"gone: download the configuration: not done " + refused.error});
    EXPECT_TRUE(heard.oneAtATime());
}

TEST(SiteConfig, devices_are_numbered_line_by_line_and_paths_made_absolute)
{
    velta36test::TempWorkDir dir;
    std::ofstream("site.json") << "{\"devices\": [{\"name\": \"a\", \"port\": \"/dev/ttyA\", \"address\": 1},"
                                  " {\"name\": \"b\", \"port\": \"/dev/ttyB\", \"address\": 1},"
                                  " {\"name\": \"c\", \"port\": \"/dev/ttyA\", \"address\": 2, \"data_id\": 7}]}";
    velta36site::SiteOptions options;
    options.config = "site.json";
    options.dir = "db";
    options.capture = "line.pcapng";
    const velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);

    // The scheduler's numbering: the devices of a line next to each other.
    std::vector<std::string> devices;
    for (const velta36site::DeviceSpec& spec : config.devices) {
        const velta36site::DeviceIdentity& device = spec.identity;
        devices.push_back(std::to_string(device.index) + " " + device.name + " line " + std::to_string(device.line) +
                          " " + device.port + " data id " + std::to_string(device.dataId) + " / " +
                          spec.settings["data_id"].asString());
    }
    EXPECT_EQ(devices, (std::vector<std::string>{"0 a line 0 /dev/ttyA data id 1 / 1",
                                                 "1 c line 0 /dev/ttyA data id 7 / 7",
                                                 "2 b line 1 /dev/ttyB data id 2 / 2"}));
    ASSERT_EQ(config.lines.size(), 2u);
    EXPECT_EQ(config.lines[0].devices.size(), 2u);
    EXPECT_EQ(config.lines[1].identity.port, "/dev/ttyB");

    EXPECT_EQ(config.dir.given, "db");
    EXPECT_EQ(config.dir.absolute, dir.file("db"));
    ASSERT_TRUE(config.capture);
    EXPECT_EQ(config.capture->absolute, dir.file("line.pcapng"));
    for (const std::string& candidate : config.pluginCandidates)
        EXPECT_EQ(candidate[0], '/') << candidate;
}

}  // namespace
