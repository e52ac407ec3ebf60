// `velta36 run` as a service lives: interrupted in the middle of a long
// drain it stops within the bound with every event either in the table or
// still on the controller; control commands given meanwhile go to it
// through its control socket and are carried out between its exchanges.
// The controller is paced at 9600 baud, as on a real line.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e_support.h"
#include "tool_process.h"

namespace {

using e2e::Tool;
using velta36sim::SimulatedController;

// What a stop may take at 9600 baud (docs/tool.md): the batch on the wire,
// its store, the wait for its acknowledgement, the tool's look at the signal.
const std::chrono::milliseconds kStopBound(2000);

velta36sim::EventCounts CountsOf(e2e::SimLine& sim)
{
    return sim.with(1, [](SimulatedController& c) { return c.controller().Counts(); });
}

std::size_t HeldBy(e2e::SimLine& sim)
{
    return sim.with(1, [](SimulatedController& c) { return c.controller().StoredEvents().size(); });
}

void WriteSite(const e2e::SimLine& sim)
{
    std::ofstream("site.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"front\", \"address\": 1, "
                                  "\"data_id\": 31, \"appSetting\": {\"doors\": 2}}";
}

TEST_F(Tool, AnInterruptDuringADrainOf5000EventsStopsWithinTheBoundAndLosesNone)
{
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(20, 5000);   // one row each
    e2e::SimLine sim({setup}, 9600);
    WriteSite(sim);
    e2e::ToolProcess tool({"run", "--config", "site.json"}, "run.out", "run.err");
    ASSERT_TRUE(e2e::WaitFor([&] { return CountsOf(sim).acknowledged >= 100; })) << e2e::ReadFile("run.err");

    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.interrupt(), 0) << e2e::ReadFile("run.err");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    RecordProperty("stop_ms", static_cast<int>(took.count()));
    std::cout << "stopped " << took.count() << " ms after the interrupt\n";
    EXPECT_LT(took, kStopBound);

    // Every event acknowledged is a row, in order; the rest waits on the
    // controller for the next run.
    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    const velta36sim::EventCounts counts = CountsOf(sim);
    EXPECT_EQ(rows.size(), counts.acknowledged);
    EXPECT_EQ(counts.acknowledged + HeldBy(sim), 5000u);
    EXPECT_GT(HeldBy(sim), 4000u) << "stopped long before the drain's end";
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(e2e::Mismatch(rows[i], setup.events[i].expected), "") << "row " << i;
    EXPECT_NE(e2e::ReadFile("run.out").find("stopping once the batch in hand is stored and acknowledged"),
              std::string::npos);
}

TEST_F(Tool, CommandsGoThroughTheRunningSiteWhileItPollsTheLine)
{
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(21, 3000);   // a drain of minutes
    e2e::SimLine sim({setup}, 9600);
    WriteSite(sim);
    e2e::ToolProcess tool({"run", "--config", "site.json"}, "run.out", "run.err");
    ASSERT_TRUE(e2e::WaitFor([&] { return CountsOf(sim).acknowledged >= 50; })) << e2e::ReadFile("run.err");

    // Only the site's user and group may command it.
    struct stat socket;
    ASSERT_EQ(::stat("velta36.sock", &socket), 0);
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(socket.st_mode & 07777, 0660u);

    // The door opens (the simulator sees it open while the relay is held)
    // in the middle of the drain, which goes on afterwards.
    std::atomic<bool> done{false}, seenOpen{false};
    std::thread watch([&] {
        while (!done) {
            seenOpen = seenOpen || sim.with(1, [](SimulatedController& c) { return c.controller().DoorOpen(1); });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const e2e::ToolResult door = e2e::RunTool({"open-door", "--config", "site.json", "--door", "1"});
    done = true;
    watch.join();
    EXPECT_EQ(door.status, 0) << door.err;
    EXPECT_NE(door.out.find("done: open door 1 (" + sim.path() + ", address 1, through the running site)"),
              std::string::npos)
        << door.out;
    EXPECT_TRUE(seenOpen);

    const e2e::ToolResult card = e2e::RunTool({"add-card", "--config", "site.json", "--code", "0000ABCD", "--slot",
                                               "12", "--end", "2031-01-15", "--door", "2"});
    EXPECT_EQ(card.status, 0) << card.err;
    EXPECT_EQ(sim.with(1, [](SimulatedController& c) { return c.controller().Cards().at(12).code; }), "0000ABCD");

    const uint64_t before = CountsOf(sim).acknowledged;
    EXPECT_TRUE(e2e::WaitFor([&] { return CountsOf(sim).acknowledged >= before + 20; })) << "the drain goes on";
    EXPECT_TRUE(tool.running());
    EXPECT_EQ(tool.interrupt(), 0) << e2e::ReadFile("run.err");
    EXPECT_EQ(e2e::StoredRows().size(), CountsOf(sim).acknowledged);
    const std::string out = e2e::ReadFile("run.out");
    EXPECT_NE(out.find("front: open door 1: done"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists("velta36.sock")) << "the socket goes with the run";

    // With no site running, the command opens the line itself.
    const e2e::ToolResult alone = e2e::RunTool({"open-door", "--config", "site.json", "--door", "2"});
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.out.find("through the running site"), std::string::npos) << alone.out;
}

// One line's port is missing at the start: the other line is polled
// meanwhile, the missing one is shown in the metrics and tried again until
// its port appears, then drained too.
TEST_F(Tool, ALineThatCannotBeOpenedIsRetriedWhileTheOthersRun)
{
    e2e::ControllerSetup first, second;
    first.address = 1;
    first.events = e2e::IndependentEvents(23, 30);
    second.address = 2;
    second.events = e2e::IndependentEvents(24, 20);
    e2e::SimLine present({first}), late({second});
    const std::string latePort = dir_.file("late-tty");
    std::ofstream("site.json") << "[{\"port\": \"" + present.path() + "\", \"name\": \"front\", \"address\": 1},"
                                  " {\"port\": \"" + latePort + "\", \"name\": \"back\", \"address\": 2}]";
    e2e::ToolProcess tool({"run", "--config", "site.json", "--metrics", "site.prom", "--interval", "0.2"}, "run.out",
                          "run.err");
    ASSERT_TRUE(e2e::WaitFor([&] { return present.drained(); })) << e2e::ReadFile("run.out");
    ASSERT_TRUE(e2e::WaitFor([] {
        return e2e::ReadFile("site.prom").find("velta36_line_open{device=\"back\"") != std::string::npos;
    }));
    EXPECT_NE(e2e::ReadFile("site.prom").find(",error=\"" + latePort + ": no such serial device\"} 0"),
              std::string::npos)
        << e2e::ReadFile("site.prom");

    std::filesystem::create_symlink(late.path(), latePort);
    ASSERT_TRUE(e2e::WaitFor([&] { return late.drained(); })) << e2e::ReadFile("run.out");
    EXPECT_EQ(tool.interrupt(), 0) << e2e::ReadFile("run.err");
    const std::string out = e2e::ReadFile("run.out");
    EXPECT_EQ(e2e::Count(out, latePort + ": no such serial device; trying again"), 1u) << out;
    EXPECT_EQ(e2e::Count(out, latePort + ": open, its devices are polled"), 1u) << out;
    EXPECT_EQ(e2e::StoredRows().size(), 50u);
}

// A controller that stops answering gets one line, and one when it answers
// again; nothing in between however long it stays silent.
TEST_F(Tool, ASilentControllerIsToldOnceAndAgainWhenItAnswers)
{
    e2e::SimLine sim({});
    std::ofstream("site.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"gate\", \"address\": 4, "
                                  "\"baud\": 115200}";
    e2e::ToolProcess tool({"run", "--config", "site.json", "--interval", "0.1"}, "run.out", "run.err");
    auto out = [] { return e2e::ReadFile("run.out"); };
    ASSERT_TRUE(e2e::WaitFor([&] { return out().find("gate: no answer 3 times in a row") != std::string::npos; }));
    std::this_thread::sleep_for(std::chrono::seconds(2));   // more rounds time out, unsaid
    velta36sim::ControllerOptions controller;
    controller.address = 4;
    sim.line().Add(controller);
    ASSERT_TRUE(e2e::WaitFor([&] { return out().find("gate: answers again") != std::string::npos; })) << out();
    EXPECT_EQ(tool.interrupt(), 0);
    EXPECT_EQ(e2e::Count(out(), "gate: no answer"), 1u) << out();
    EXPECT_EQ(e2e::Count(out(), "gate: answers again"), 1u) << out();
}

TEST_F(Tool, OthersThanTheSitesUserAndGroupCannotCommandIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the command as another user";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr) << "no user nobody to run the command as";
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(22, 500);
    e2e::SimLine sim({setup}, 9600);
    WriteSite(sim);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);   // the configuration is readable to all
    e2e::ToolProcess run({"run", "--config", "site.json"}, "run.out", "run.err");
    ASSERT_TRUE(e2e::WaitFor([] { return std::filesystem::exists("velta36.sock"); }));
    e2e::ToolProcess stranger({"open-door", "--config", "site.json", "--door", "1"}, "stranger.out",
                              "stranger.err", nobody->pw_uid, nobody->pw_gid);
    ASSERT_TRUE(e2e::WaitFor([&] { return !stranger.running(); }));
    const std::string err = e2e::ReadFile("stranger.err");
    EXPECT_NE(err.find("velta36.sock: permission denied"), std::string::npos) << err;
    EXPECT_EQ(e2e::Lines(err), 1u) << err;
    EXPECT_FALSE(sim.with(1, [](SimulatedController& c) { return c.controller().DoorOpen(1); }));
}

}  // namespace
