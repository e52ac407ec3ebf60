// `velta36 run` on a pseudo-terminal while the database itself refuses
// break-ins (a trigger raising an abort for event type 14) for longer than
// the minute after which an open door counts as standing open. The
// controller reports door 1 open and holds one door-opened record, judged
// a break-in when it is first read; the controller keeps it while it cannot
// be stored and sends it again round after round. Once the store takes it,
// it is stored as what it was judged: one break-in row, nothing lost.
//
// It takes more than a minute (CTest runs it beside the others, first).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "e2e_support.h"
#include "raw_database.h"
#include "tool_process.h"

namespace {

using velta36sim::SimulatedController;

TEST(ToolHeldBreakIn, refused_for_over_a_minute_it_ends_as_one_break_in_row)
{
    e2e::ScratchDir dir;
    e2e::Plugin();   // the table is made through the schema catalog it fills
    velta36site::EnsureEventDatabase();
    velta36test::RawDatabase("ZRMDevice.db")
        .exec("CREATE TRIGGER refuse_break_ins BEFORE INSERT ON velta36_event WHEN NEW.EventType = 14 "
              "BEGIN SELECT RAISE(ABORT, 'break-ins refused by the test'); END");

    velta36sim::CivilTime at;
    at.year = 2024;
    at.month = 3;
    at.day = 5;
    at.hour = 2;
    at.minute = 10;
    velta36sim::GeneratedEvent opened;
    opened.record = velta36sim::EventRecord::DoorOpened(1, at);
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.doors = 1;
    setup.events = {opened};
    e2e::SimLine sim({setup});
    sim.with(1, [](SimulatedController& c) {
        c.controller().SetDoorOpen(1, true);
        return 0;
    });
    auto held = [&sim] {
        return sim.with(1, [](SimulatedController& c) { return c.controller().StoredEvents().size(); });
    };
    std::ofstream("device.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"front\", \"address\": 1, \"data_id\": 31, \"baud\": 115200,"
                                    " \"appSetting\": {\"doors\": 1}}";

    const auto started = std::chrono::steady_clock::now();
    e2e::ToolProcess tool({"run", "--config", "device.json", "--interval", "0.5"}, "tool.out",
                          "tool.err");
    auto out = [] { return e2e::ReadFile("tool.out"); };
    ASSERT_TRUE(e2e::WaitFor([&] { return e2e::Count(out(), "front: events not stored (") == 1; })) << out();
    EXPECT_NE(out().find("break-ins refused by the test"), std::string::npos) << out();

    // Past the minute after the door was first seen open, rounds going on.
    std::this_thread::sleep_until(started + std::chrono::seconds(70));
    EXPECT_TRUE(tool.running());
    EXPECT_EQ(held(), 1u) << "the controller keeps the break-in";
    EXPECT_EQ(e2e::Count(out(), "front: events stored again"), 0u) << out();
    EXPECT_TRUE(e2e::StoredRows().empty());

    velta36test::RawDatabase("ZRMDevice.db").exec("DROP TRIGGER refuse_break_ins");
    ASSERT_TRUE(e2e::WaitFor([&] { return held() == 0; })) << out();
    ASSERT_TRUE(e2e::WaitFor([&] { return e2e::Count(out(), "front: events stored again") == 1; })) << out();
    EXPECT_EQ(tool.interrupt(), 0) << e2e::ReadFile("tool.err");
    EXPECT_EQ(e2e::Count(out(), "front: events not stored ("), 1u) << out();

    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].readerChannel, 1);
    EXPECT_EQ(rows[0].eventType, 14);
    EXPECT_EQ(rows[0].reason, "非法开门");
    EXPECT_EQ(rows[0].eventTime.value_or("NULL"), "2024-03-05 02:10:00");
    EXPECT_EQ(rows[0].dataId, 31);
}

}  // namespace
