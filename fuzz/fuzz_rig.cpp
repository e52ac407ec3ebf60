#include "fuzz_rig.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "event_db.h"

namespace velta36fuzz {

namespace {

std::string g_dir;
bool g_ready = false;
unsigned long g_inputs = 0;

void RemoveDir()
{
    std::error_code ignored;
    if (!g_dir.empty())
        std::filesystem::remove_all(g_dir, ignored);
}

void Fail(const std::string& message)
{
    std::fprintf(stderr, "velta36 fuzz: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace

void Setup()
{
    if (g_ready)
        return;
    g_ready = true;
    // tmpfs where there is one: every event is its own transaction, and a
    // synced write per transaction on disk would dominate the run.
    std::string base = "/dev/shm";
    if (!std::filesystem::is_directory(base))
        base = std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/velta36-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        Fail("cannot make a working directory under " + base);
    g_dir = name.data();
    std::atexit(RemoveDir);
    if (::chdir(g_dir.c_str()) != 0)
        Fail("cannot enter " + g_dir);
    velta36test::CreateEventDatabase("ZRMDevice.db");

    if (std::getenv("VELTA36_FUZZ_VERBOSE") == nullptr) {
        std::fflush(stdout);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, STDOUT_FILENO);
            ::close(devnull);
        }
    }
}

void AfterInput()
{
    if (++g_inputs % 2048 != 0)
        return;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2("ZRMDevice.db", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        sqlite3_exec(db, "DELETE FROM velta36_event", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
}

void Require(bool condition, const char* what, const char* where)
{
    if (!condition)
        Fail(std::string(where) + ": " + what);
}

void CheckDevice(const velta36test::TestHost& rig, const char* where)
{
    const VELTA36& device = *rig.device;
    Require(device.rxLength >= 0 && device.rxLength <= static_cast<int>(sizeof(device.rxBuffer)),
            "receive buffer fill outside its buffer", where);
    Require(device.cmdLength >= 0 && device.cmdLength <= static_cast<int>(sizeof(device.cmdBuffer)),
            "command length beyond the command buffer", where);
}

void CheckSent(const velta36test::TestHost& rig, const char* where)
{
    for (const refhost::SentFrame& frame : rig.transport.sent())
        Require(frame.bytes.size() <= sizeof(rig.device->cmdBuffer), "frame longer than any frame buffer", where);
}

}  // namespace velta36fuzz
