// The velta36 program as a user runs it: bad input is one line on standard
// error and exit status 2; a run against the built-in simulated controller
// or a pseudo-terminal stores every event; `events` lists them newest first.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tool_support.h"

namespace {

using e2e::Lines;
using e2e::RunTool;
using e2e::Tool;
using e2e::ToolResult;

// A metrics file read back as Prometheus reads it: every sample line is
// "name{labels} value" under the HELP and TYPE lines of its metric; the
// samples are keyed by name and labels.
std::map<std::string, double> ReadMetrics(const std::string& text)
{
    std::map<std::string, double> samples;
    std::set<std::string> typed;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# TYPE ", 0) == 0) {
            typed.insert(line.substr(7, line.find(' ', 7) - 7));
            continue;
        }
        if (line.rfind("# HELP ", 0) == 0)
            continue;
        const std::size_t brace = line.find('{');
        const std::size_t space = line.rfind(' ');
        EXPECT_TRUE(brace != std::string::npos && space != std::string::npos && space > brace) << line;
        if (brace == std::string::npos || space == std::string::npos)
            continue;
        EXPECT_TRUE(typed.count(line.substr(0, brace))) << "no TYPE before " << line;
        samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return samples;
}

TEST_F(Tool, BadInputIsOneLineAndExitStatusTwo)
{
    std::ofstream("bad.json") << "{\"appSetting\": ";
    std::ofstream("list.json") << "[{\"port\": \"/dev/ttyS9\", \"address\": 1}, {\"port\": \"/dev/ttyS9\", \"address\": 1}]";
    // The simulator runs only when asked for: a device without a port, or
    // an empty one, is refused, never served by invented events.
    std::ofstream("portless.json") << "{\"address\": 1}";
    std::ofstream("empty-port.json") << "[{\"port\": \"/dev/null\"}, {\"port\": \"\", \"address\": 2}]";
    const std::vector<std::vector<std::string>> cases = {
        {"run", "--no-such-option"},
        {"run", "--config", "bad.json"},
        {"run", "--config", "missing.json"},
        {"run", "--config", "list.json"},
        {"run", "--config", "portless.json", "--dir", "never"},
        {"run", "--config", "empty-port.json", "--dir", "never"},
        {"run", "--port", "", "--dir", "never"},
        {"run", "--config", "list.json", "--port", "/dev/null", "--dir", "never"},
        {"run", "--simulate", "--port", "/dev/null", "--dir", "never"},
        {"open-door", "--door", "1", "--config", "portless.json"},
        {"configure", "--port", "/dev/null", "--tries", "0"},
        {"simulate", "--events", "-1"},
        {"simulate", "--seconds", "-1"},
        {"simulate", "--address", "208"},
        {"simulate", "--refuse", "1.5"},
        {"scan", "--port", ""},
        {"run", "--baud", "12345"},
        {"open-door", "--door", "3"},
        {"open-door", "--door", "0"},
        {"open-door"},
        {"add-card", "--code", "1234567", "--slot", "1", "--end", "2030-12-31", "--door", "1"},
        {"add-card", "--code", "1234/678", "--slot", "1", "--end", "2030-12-31", "--door", "1"},
        {"add-card", "--code", "12345678", "--slot", "1", "--end", "2030-02-30", "--door", "1"},
        {"add-card", "--code", "12345678", "--slot", "10000", "--end", "2030-12-31", "--door", "1"},
        {"delete-card", "--slot", "1", "--door", "7"},
        {"events", "--since", "yesterday"},
        {"events", "--until", "2024-02-30"},
        {"events", "--since", "2024-03-05", "--until", "2024-03-04"},
        {"events", "--format", "xml"},
        {"events", "--channel", "5"},
        {"events", "--type", "7"},
        {"events", "--card", "1234"},
        {"events", "--limit", "0"},
        {"simulate", "--doors", "3"},
        {"simulate", "--capture", "no-such-folder/sim.pcapng", "--seconds", "1"},
        {"run", "--capture", "no-such-folder/run.pcapng", "--dir", "never"},
        {"run", "--metrics", "no-such-folder/velta36.prom", "--dir", "never"},
        {"run", "--metrics", ".", "--dir", "never"},
        {"open-door", "--door", "1", "--port", "/dev/null", "--capture", "."},
        {"run", "--rs485-rts", "low"},
        {"run", "--rs485", "--rs485-delay-after", "500"},
        {"run", "--rs485", "--rs485-rts", "sideways"},
        {"scan"},
        {"scan", "--port", "/dev/null", "--from", "-1"},
        {"scan", "--port", "/dev/null", "--to", "208"},
        {"scan", "--port", "/dev/null", "--from", "9", "--to", "3"},
        {"scan", "--port", "/dev/null", "--tries", "0"},
        {},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string shown;
        for (const std::string& arg : args)
            shown += arg + " ";
        const ToolResult result = RunTool(args);
        EXPECT_EQ(result.status, 2) << shown << "\n" << result.err;
        EXPECT_EQ(Lines(result.err), 1u) << shown << "\n" << result.err;
        EXPECT_EQ(result.err.rfind("velta36: ", 0), 0u) << shown << "\n" << result.err;
    }
    // Nothing was started for any of them: no folder, no database, no capture.
    EXPECT_FALSE(std::filesystem::exists("never"));
    EXPECT_FALSE(std::filesystem::exists("ZRMDevice.db"));
    EXPECT_FALSE(std::filesystem::exists("no-such-folder"));

    // A misspelled key is refused, with the key meant, before the line opens
    // (the port here does not exist), by the control commands as by run.
    std::ofstream("typo.json") << "{\"port\": \"/dev/no-such-tty\",\n \"adress\": 3}";
    for (const char* command : {"run", "configure"}) {
        const ToolResult typo = RunTool({command, "--config", "typo.json", "--dir", "never"});
        EXPECT_EQ(typo.status, 2) << command;
        EXPECT_EQ(typo.err, "velta36: typo.json, line 2: unknown key \"adress\" (did you mean \"address\"?)\n")
            << command;
    }
}

TEST_F(Tool, APortThatCannotBeOpenedLeavesNothingBehind)
{
    e2e::SimLine sim({});
    const int busy = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX | LOCK_NB), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/dev/no-such-tty", "no such serial device"},
        {sim.path(), "busy"},
    };
    for (const auto& [port, why] : cases) {
        const ToolResult result = RunTool({"run", "--port", port, "--dir", "never"});
        EXPECT_EQ(result.status, 1) << port;
        EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists("never")) << port;
    }
    ::close(busy);
}

TEST_F(Tool, RunDrainsTheBuiltInSimulatorAndEventsListsNewestFirst)
{
    const ToolResult run = RunTool({"run", "--dir", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("created ZRMDevice.db"), std::string::npos);
    EXPECT_NE(run.out.find("summary: 60 events stored"), std::string::npos) << run.out;

    std::filesystem::current_path("demo");
    EXPECT_EQ(e2e::StoredRows().size(), 60u);
    std::filesystem::current_path("..");

    const ToolResult events = RunTool({"events", "--dir", "demo", "--limit", "10"});
    ASSERT_EQ(events.status, 0) << events.err;
    std::istringstream lines(events.out);
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);)
        listed.push_back(line);
    ASSERT_EQ(listed.size(), 1u + 10u);   // the header, then the rows
    EXPECT_EQ(listed[0].rfind("time ", 0), 0u) << listed[0];
    for (std::size_t i = 2; i < listed.size(); ++i)
        EXPECT_GE(listed[i - 1].substr(0, 19), listed[i].substr(0, 19));

    // A second run finds the table and leaves the stored rows alone.
    const ToolResult again = RunTool({"run", "--dir", "demo"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out.find("created"), std::string::npos);
    std::filesystem::current_path("demo");
    EXPECT_EQ(e2e::StoredRows().size(), 120u);
    std::filesystem::current_path("..");
}

// A "v0" lost on the line: the controller sends the stored batch again and
// the plug-in stores it again. The summary counts exactly those rows.
TEST_F(Tool, SummaryCountsRowsStoredAgainAfterALostAcknowledgement)
{
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(73, 60);
    setup.faults.loseCommand = 0.2;
    setup.faultSeed = 5;
    e2e::SimLine sim({setup});
    std::ofstream("device.json") << "{\"name\": \"front\", \"port\": \"" << sim.path()
                                 << "\", \"address\": 1, \"baud\": 115200}";
    const ToolResult run = RunTool({"run", "--config", "device.json", "--rounds", "25"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(sim.drained()) << run.out;
    const uint64_t again =
        sim.with(1, [](velta36sim::SimulatedController& c) { return c.controller().Counts().resentAfterLostAck; });
    ASSERT_GT(again, 0u) << "the seed loses no \"v0\"";
    EXPECT_EQ(e2e::StoredRows().size(), 60u + again);
    EXPECT_NE(run.out.find("front: " + std::to_string(again) + " rows stored again: the controller missed \"v0\""),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("door openings not stored"), std::string::npos) << run.out;
}

// --trace on a line whose replies come in chunks: one line per whole frame
// (each received one ends its frame), the plug-in's lines marked.
TEST_F(Tool, TraceShowsWholeFramesAndMarksThePluginsLines)
{
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(29, 12);
    setup.faults.splitReply = 1;
    e2e::SimLine sim({setup});
    const ToolResult run = RunTool({"run", "--port", sim.path(), "--address", "1", "--rounds", "1", "--trace"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::size_t received = 0, plugin = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" <- ") != std::string::npos) {
            ++received;
            EXPECT_EQ(line.back(), '/') << line;
        }
        plugin += line.rfind("plug-in: tm_year:", 0) == 0;
    }
    EXPECT_EQ(plugin, 12u) << run.out;   // one time line per record decoded
    EXPECT_GE(received, 4u) << run.out;  // clock, status, two event replies, acknowledgements
}

TEST_F(Tool, RunAndCommandsOnAPseudoTerminal)
{
    e2e::ControllerSetup setup;
    setup.address = 2;
    setup.events = e2e::IndependentEvents(61, 40);
    e2e::SimLine sim({setup});

    std::ofstream("device.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"front\", \"address\": 2, \"data_id\": 77, \"baud\": 115200,"
                                    " \"appSetting\": {\"doors\": 2}}";
    const ToolResult run = RunTool(
        {"run", "--config", "device.json", "--rounds", "2", "--metrics", "site.prom"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("front: door 1 closed, door 2 closed"), std::string::npos) << run.out;
    const std::vector<velta36site::StoredEvent> rows = e2e::StoredRows();
    ASSERT_EQ(rows.size(), 40u);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(e2e::Mismatch(rows[i], setup.events[i].expected), "") << "row " << i;
    EXPECT_EQ(rows[0].dataId, 77);

    // The metrics file as the run left it: the device's rows counted under
    // its name, both doors, nothing half-written beside it.
    std::map<std::string, double> metrics = ReadMetrics(e2e::ReadFile("site.prom"));
    const std::string front = "{device=\"front\",port=\"" + sim.path() + "\",address=\"2\"";
    EXPECT_EQ(metrics["velta36_rounds_completed_total" + front + "}"], 2);
    EXPECT_EQ(metrics["velta36_events_stored_total" + front + "}"], 40);
    EXPECT_EQ(metrics["velta36_saves_failed_total" + front + "}"], 0);
    EXPECT_EQ(metrics["velta36_database_fault" + front + "}"], 0);
    EXPECT_EQ(metrics.count("velta36_door_open" + front + ",door=\"1\"}"), 1u);
    EXPECT_EQ(metrics.count("velta36_door_open" + front + ",door=\"2\"}"), 1u);
    const std::string age = "velta36_last_round_age_seconds" + front + "}";
    ASSERT_EQ(metrics.count(age), 1u);
    EXPECT_GE(metrics[age], 0);
    EXPECT_LT(metrics[age], 60);
    EXPECT_EQ(metrics["velta36_line_open" + front + "}"], 1);
    EXPECT_EQ(metrics.size(), 9u) << e2e::ReadFile("site.prom");
    EXPECT_FALSE(std::filesystem::exists("site.prom.tmp"));

    const ToolResult add = RunTool({"add-card", "--config", "device.json", "--code",
                                    "00001234", "--slot", "7", "--end", "2031-01-15", "--door", "1"});
    EXPECT_EQ(add.status, 0) << add.err;
    const velta36sim::CardSlot slot =
        sim.with(2, [](velta36sim::SimulatedController& c) { return c.controller().Cards().at(7); });
    EXPECT_EQ(slot.code, "00001234");
    EXPECT_EQ(slot.endDate, "150131");

    // Nobody at address 5: the command times out and says so.
    const ToolResult silent = RunTool({"configure", "--port", sim.path(), "--address", "5", "--baud", "115200"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("no answer"), std::string::npos) << silent.err;
}

// A controller that refuses some commands: the step it refused is named,
// and --tries runs the download again from the start until it goes through
// (the refusals follow the seed: the same ones every time).
TEST_F(Tool, ARefusedStepIsNamedAndTriedAgain)
{
    e2e::ControllerSetup setup;
    setup.address = 3;
    setup.faults.refuseCommand = 0.1;
    setup.faultSeed = 7;
    e2e::SimLine sim({setup});
    const std::vector<std::string> line = {"configure", "--port", sim.path(), "--address", "3", "--baud", "115200"};
    auto with = [&line](const std::string& tries) {
        std::vector<std::string> args = line;
        args.insert(args.end(), {"--tries", tries});
        return args;
    };

    const ToolResult tried = RunTool(with("40"));
    EXPECT_EQ(tried.status, 0) << tried.err;
    EXPECT_NE(tried.out.find("refused by the controller (it answered \"n3/\"); again from the start (try 2 of 40)"),
              std::string::npos)
        << tried.out;
    EXPECT_NE(tried.out.find("done: download the configuration"), std::string::npos) << tried.out;

    const ToolResult once = RunTool(with("1"));
    EXPECT_EQ(once.status, 1);
    EXPECT_EQ(Lines(once.err), 1u) << once.err;
    EXPECT_NE(once.err.find("download the configuration: step "), std::string::npos) << once.err;
    EXPECT_NE(once.err.find("\") was refused by the controller (it answered \"n3/\") (" + sim.path() + ", address 3)"),
              std::string::npos)
        << once.err;
}

}  // namespace
