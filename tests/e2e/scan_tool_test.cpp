// `velta36 scan` on a line shared by several simulated controllers: exactly
// the addresses that answer are listed, with their door status; and a port
// without RS-485 asked for it is one clear line.
#include <gtest/gtest.h>

#include "tool_process.h"
#include "tool_support.h"

namespace {

using e2e::RunTool;
using e2e::Tool;
using e2e::ToolResult;

e2e::ControllerSetup At(int32_t address)
{
    e2e::ControllerSetup setup;
    setup.address = address;
    return setup;
}

// The rows of the table, up to the summary line: address and what the
// reply says.
std::map<int32_t, std::string> Answers(const std::string& out)
{
    std::map<int32_t, std::string> rows;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);   // heading
    while (std::getline(in, line) && line.find("addresses answered") == std::string::npos) {
        int32_t address = -1;
        char reply[64] = {};
        if (std::sscanf(line.c_str(), "%d %63s", &address, reply) == 2)
            rows[address] = line.substr(line.find(reply) + std::strlen(reply));
    }
    return rows;
}

TEST_F(Tool, ScanFindsExactlyTheControllersThatAnswer)
{
    // 12 is ':' + 2 on the wire ('<'); 7 is there but its replies are lost;
    // 9 answers after noise.
    e2e::ControllerSetup silent = At(7);
    silent.faults.dropReply = 1;
    e2e::ControllerSetup noisy = At(9);
    noisy.faults.noiseBeforeReply = 1;
    e2e::SimLine sim({At(1), At(4), silent, noisy, At(12)});
    sim.line().With(4, [](velta36sim::SimulatedController& c) { c.controller().SetDoorOpen(2, true); });

    const ToolResult result =
        RunTool({"scan", "--port", sim.path(), "--baud", "115200", "--from", "0", "--to", "15", "--wait", "100"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::map<int32_t, std::string> answers = Answers(result.out);
    std::vector<int32_t> found;
    for (const auto& answer : answers)
        found.push_back(answer.first);
    EXPECT_EQ(found, (std::vector<int32_t>{1, 4, 9, 12})) << result.out;
    EXPECT_NE(answers.at(1).find("door status 3: door 1 closed, door 2 closed"), std::string::npos) << result.out;
    EXPECT_NE(answers.at(4).find("door status 1: door 1 closed, door 2 open"), std::string::npos) << result.out;
    EXPECT_NE(answers.at(9).find(" of noise)"), std::string::npos) << result.out;
    EXPECT_EQ(answers.at(12).find("names address"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("4 of 16 addresses answered"), std::string::npos) << result.out;
    // Each controller heard one request; the lost replies were not asked twice.
    EXPECT_EQ(sim.with(7, [](velta36sim::SimulatedController& c) { return c.Stats().framesHeard; }), 1u);
}

// Each address is printed as it answers: an interrupt in the middle of a
// long scan keeps what was found, and says how far it got.
TEST_F(Tool, AnInterruptedScanPrintsWhatItFound)
{
    e2e::SimLine sim({At(2)});
    e2e::ToolProcess scan({"scan", "--port", sim.path(), "--baud", "115200", "--wait", "100"}, "scan.out",
                          "scan.err");
    ASSERT_TRUE(e2e::WaitFor([] { return e2e::ReadFile("scan.out").find("door status 3") != std::string::npos; }));
    EXPECT_EQ(scan.interrupt(), 130);
    const std::string out = e2e::ReadFile("scan.out");
    EXPECT_EQ(Answers(out).count(2), 1u) << out;
    EXPECT_NE(out.find("interrupted: 1 of "), std::string::npos) << out;
    EXPECT_NE(out.find(" not asked)"), std::string::npos) << out;
}

TEST_F(Tool, ScanOfASilentLineFailsWithOneLine)
{
    e2e::SimLine sim({At(3)});
    const ToolResult result = RunTool({"scan", "--port", sim.path(), "--baud", "115200", "--from", "4", "--to",
                                       "6", "--wait", "50", "--tries", "2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(e2e::Lines(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find("no controller answered"), std::string::npos) << result.err;
    EXPECT_EQ(sim.with(3, [](velta36sim::SimulatedController& c) { return c.Stats().framesHeard; }), 0u);
}

TEST_F(Tool, Rs485OnAPortWithoutItIsOneClearLine)
{
    e2e::SimLine sim({At(0)});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"run", "--port", sim.path(), "--rs485", "--rounds", "1"},
          std::vector<std::string>{"scan", "--port", sim.path(), "--rs485", "--to", "1"}}) {
        const ToolResult result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_EQ(e2e::Lines(result.err), 1u) << result.err;
        EXPECT_NE(result.err.find(sim.path() + ": no RS-485 mode on this port"), std::string::npos) << result.err;
    }
    // Nothing went out on the line.
    EXPECT_EQ(sim.with(0, [](velta36sim::SimulatedController& c) { return c.Stats().framesHeard; }), 0u);
}

}  // namespace
