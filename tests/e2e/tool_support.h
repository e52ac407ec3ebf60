// Running the velta36 program as a user does, from the tests: its exit
// status and what it printed, in a scratch folder of its own (fixture
// Tool; the mipsel job leaves these tests out, as they start a program).
#ifndef VELTA36_TESTS_E2E_TOOL_SUPPORT_H
#define VELTA36_TESTS_E2E_TOOL_SUPPORT_H

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string Quote(const std::string& arg)
{
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline ToolResult RunTool(const std::vector<std::string>& args)
{
    std::string command = Quote(VELTA36_TOOL_PATH);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " >tool.out 2>tool.err </dev/null";
    const int raw = std::system(command.c_str());
    ToolResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = ReadFile("tool.out");
    result.err = ReadFile("tool.err");
    return result;
}

inline std::size_t Lines(const std::string& text)
{
    std::size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

class Tool : public ::testing::Test {
protected:
    e2e::ScratchDir dir_;
};

}  // namespace e2e

#endif
