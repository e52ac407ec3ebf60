#include "fuzz_rig.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "event_db.h"
#include "save_attempts.h"
#include "waiting_events.h"

namespace velta36fuzz {

namespace {

std::string g_dir;
bool g_ready = false;

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The in-memory event database: one shared cache, alive while the keeper
// connection is open. It keeps no rollback journal: under the address
// sanitizer every page copied into an in-memory journal is an allocation
// that is filled, and held back after it is freed. Nothing is lost by it: a
// save the input refuses is refused before it changes anything, and
// nothing else fails here.
const char kMemoryDatabase[] = "file:velta36-fuzz-events?mode=memory&cache=shared";
const int kMemoryFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI;
sqlite3* g_keeper = nullptr;
sqlite3_stmt* g_emptyEvents = nullptr;
unsigned long g_inputs = 0;

// The refusal plan of the input: bit k refuses the save of the event that
// follows the k-th one stored. One save gives up (its four attempts), then
// the store takes everything again. Kept here, outside the database, so
// that the refused attempts do not roll it back.
uint8_t g_refusals = 0;
int g_storedThisInput = 0;
int g_refusalsLeft = 0;

// velta36_fuzz_refuse(): called by the table's trigger before each insert;
// 1 refuses it.
void Refuse(sqlite3_context* context, int, sqlite3_value**)
{
    const bool refuse = g_refusalsLeft > 0 && g_storedThisInput < 8 && ((g_refusals >> g_storedThisInput) & 1);
    if (refuse)
        --g_refusalsLeft;
    else
        ++g_storedThisInput;
    sqlite3_result_int(context, refuse ? 1 : 0);
}

// Every connection of the process gets the function, the device's new
// ones too.
int RegisterRefuse(sqlite3* db, char**, const sqlite3_api_routines*)
{
    return sqlite3_create_function(db, "velta36_fuzz_refuse", 0, SQLITE_UTF8, nullptr, &Refuse, nullptr, nullptr);
}

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

void KeeperExec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(g_keeper, sql, nullptr, nullptr, &error) != SQLITE_OK)
        Fail(std::string(sql) + ": " + (error ? error : "?"));
}

sqlite3_stmt* KeeperPrepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(g_keeper, sql, -1, &statement, nullptr) != SQLITE_OK)
        Fail(std::string(sql) + ": " + sqlite3_errmsg(g_keeper));
    return statement;
}

void KeeperRun(sqlite3_stmt* statement)
{
    if (sqlite3_step(statement) != SQLITE_DONE)
        Fail(std::string("in-memory event database: ") + sqlite3_errmsg(g_keeper));
    sqlite3_reset(statement);
}

void SetUpMemoryDatabase()
{
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&RegisterRefuse));
    if (sqlite3_open_v2(kMemoryDatabase, &g_keeper, kMemoryFlags | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        Fail("cannot open the in-memory event database");
    KeeperExec("PRAGMA journal_mode=OFF");
    {
        // The table the way an installation makes it: from the catalog.
        odb::sqlite::database db(kMemoryDatabase, kMemoryFlags);
        odb::transaction t(db.begin());
        odb::schema_catalog::create_schema(db, "", false);
        t.commit();
    }
    // A trigger whose only work is a call, so that the insert stays cheap to
    // prepare on the new connection a device opens after a refused save.
    KeeperExec("CREATE TRIGGER fuzz_refuse BEFORE INSERT ON velta36_event WHEN velta36_fuzz_refuse() "
               "BEGIN SELECT RAISE(ABORT, 'refused by the fuzz input'); END");
    g_emptyEvents = KeeperPrepare("DELETE FROM velta36_event");
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
    // Under the address sanitizer every allocation is filled and freed
    // memory is held back for a while, so SQLite's page-sized buffers
    // (pages of the in-memory table, the scratch space of every b-tree
    // split) and the lookaside buffer of each new connection (a device
    // whose save failed opens its handle anew) would cost more than the rest
    // of an input together. Pages come from a fixed pool instead, and there is
    // no lookaside.
    int header = 0;
    sqlite3_config(SQLITE_CONFIG_PCACHE_HDRSZ, &header);
    const int pageSlot = 4096 + header;
    const int pages = 1024;
    static std::vector<char> pagePool(static_cast<std::size_t>(pageSlot) * pages);
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, pagePool.data(), pageSlot, pages);
    sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
    if (::chdir(g_dir.c_str()) != 0)
        Fail("cannot enter " + g_dir);
    velta36test::CreateEventDatabase("ZRMDevice.db");
    SetUpMemoryDatabase();

    if (std::getenv("VELTA36_FUZZ_VERBOSE") == nullptr) {
        std::fflush(stdout);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, STDOUT_FILENO);
            ::close(devnull);
        }
        // The plug-in's lines end with std::endl; written to /dev/null each
        // would still be a system call.
        static NullBuffer discard;
        std::cout.rdbuf(&discard);
    }
}

void AfterInput() {}

std::shared_ptr<odb::database> EventDatabase()
{
    // One handle for every input: its pool keeps the connection, and the
    // connection its prepared insert, from one input to the next. A device
    // that had a save fail opens a handle of its own like this one.
    static const std::shared_ptr<odb::database> handle =
        std::make_shared<odb::sqlite::database>(kMemoryDatabase, kMemoryFlags);
    return handle;
}

void PlanRefusals(uint8_t refusals)
{
    if (++g_inputs % 256 == 0)
        KeeperRun(g_emptyEvents);
    g_refusals = refusals;
    g_storedThisInput = 0;
    g_refusalsLeft = refusals != 0 ? velta36::kSaveAttempts : 0;
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
    Require(device.withheldCount >= 0 && device.withheldCount <= 10,
            "more records remembered of a withheld batch than it can hold", where);
    Require(velta36::WaitingCount(device) <= velta36::kMostWaitingEvents + 2,
            "more events waiting than records judged and two alarm ends", where);
}

bool SentBatchAcknowledgement(const velta36test::TestHost& rig)
{
    for (const refhost::HostEvent& event : rig.events) {
        const std::vector<unsigned char>& frame = event.bytes;
        if (event.kind == refhost::HostEvent::Kind::Send && frame.size() == 9 && frame[2] == 'v' && frame[3] == '0')
            return true;
    }
    return false;
}

void CheckSent(const velta36test::TestHost& rig, const char* where)
{
    for (const refhost::SentFrame& frame : rig.transport.sent()) {
        Require(frame.bytes.size() <= sizeof(rig.device->cmdBuffer), "frame longer than any frame buffer", where);
        // '0' + an address of 0 to 207: never '/' (a frame's end) or below.
        Require(frame.bytes.size() >= 2 && frame.bytes[1] >= '0', "frame without an address character", where);
    }
}

}  // namespace velta36fuzz
