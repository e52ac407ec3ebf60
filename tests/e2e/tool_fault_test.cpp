// `velta36 run` as a user runs it, on a pseudo-terminal, while the event
// database breaks under it in every way a site sees, one after another, as
// events keep coming: the table dropped and made anew, the file locked by
// another program, the file moved away, a read-only file, a read-only
// folder, a full disk. The tool keeps polling, says in one line when a
// fault starts and in one when it is over, and in the end every event is in
// the database exactly once.
//
// Read-only files stop nobody running as root, so as root the tool runs as
// the user "nobody"; the full disk is a small file system mounted for the
// test, which needs root (the fault is left out otherwise).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "e2e_support.h"
#include "raw_database.h"
#include "tool_process.h"

namespace {

using velta36sim::SimulatedController;
using velta36test::RawDatabase;

using e2e::Count;
using e2e::ReadFile;
using e2e::ToolProcess;

// A small file system of its own for the database folder, so that a full
// disk can be made by filling it. Only root may mount.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& dir) : dir_(dir)
    {
        mounted_ = ::geteuid() == 0 && ::mount("velta36-test", dir.c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

class ToolUnderDatabaseFaults : public ::testing::Test {
protected:
    e2e::ScratchDir dir_;
};

TEST_F(ToolUnderDatabaseFaults, run_keeps_polling_and_stores_every_event_once)
{
    e2e::Plugin();   // the table is made through the schema catalog it fills
    // Whom the tool runs as: read-only files mean nothing to root.
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr) << "no user nobody to run the tool as";
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    auto giveToTool = [uid, gid](const std::string& path) {
        ASSERT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
    };
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir("db", 0755), 0);
    SmallFileSystem smallDisk(dir_.file("db"));
    giveToTool("db");
    const std::string file = dir_.file("db/ZRMDevice.db");
    ASSERT_EQ(::chdir("db"), 0);
    velta36site::EnsureEventDatabase();
    ASSERT_EQ(::chdir(".."), 0);
    // The site's own file, in the rollback journal mode a host creates it
    // with (the tool's own files log ahead; the faults below are the ones a
    // host's file meets, and a file in WAL mode moved away while open keeps
    // taking events through the log and file the plug-in has open).
    RawDatabase(file).exec("PRAGMA journal_mode=DELETE");
    giveToTool(file);

    const std::vector<velta36sim::GeneratedEvent> events = e2e::IndependentEvents(91, 80);
    std::size_t delivered = 10;
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events.assign(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(delivered));
    e2e::SimLine sim({setup});
    giveToTool(sim.path());
    std::ofstream("device.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"front\", \"address\": 1, \"data_id\": 31, \"baud\": 115200,"
                                    " \"appSetting\": {\"doors\": 2}}";
    auto held = [&sim] {
        return sim.with(1, [](SimulatedController& c) { return c.controller().StoredEvents().size(); });
    };
    auto deliver = [&](std::size_t count) {
        std::vector<velta36sim::GeneratedEvent> more(events.begin() + static_cast<std::ptrdiff_t>(delivered),
                                                     events.begin() + static_cast<std::ptrdiff_t>(delivered + count));
        sim.with(1, [&more](SimulatedController& c) {
            c.controller().StoreEvents(velta36sim::RecordsOf(more));
            return 0;
        });
        delivered += count;
    };

    ToolProcess tool({"run", "--config", "device.json", "--dir", "db", "--interval", "0.05"},
                     "tool.out", "tool.err", uid, gid);
    auto out = [] { return ReadFile("tool.out"); };
    ASSERT_TRUE(e2e::WaitFor([&] { return held() == 0; })) << out() << ReadFile("tool.err");

    std::vector<velta36site::StoredEvent> goneWithTheTable;
    std::unique_ptr<RawDatabase> locker;
    struct Fault {
        const char* name;
        std::function<void()> start;
        std::function<void()> end;
        const char* says;   // part of the tool's line when it starts
    };
    std::vector<Fault> faults = {
        {"table dropped",
         [&] {
             ASSERT_EQ(::chdir("db"), 0);
             goneWithTheTable = e2e::StoredRows();
             RawDatabase(file).exec("DROP TABLE velta36_event");
             ASSERT_EQ(::chdir(".."), 0);
         },
         [&] {
             ASSERT_EQ(::chdir("db"), 0);
             velta36site::EnsureEventDatabase();
             ASSERT_EQ(::chdir(".."), 0);
         },
         "no such table: velta36_event"},
        {"file locked by another program",
         [&] {
             locker.reset(new RawDatabase(file));
             locker->exec("BEGIN EXCLUSIVE");
         },
         [&] {
             locker->exec("COMMIT");
             locker.reset();
         },
         "database operation timeout"},
        {"file moved away", [&] { ASSERT_EQ(std::rename(file.c_str(), dir_.file("db/moved").c_str()), 0); },
         [&] { ASSERT_EQ(std::rename(dir_.file("db/moved").c_str(), file.c_str()), 0); },
         "unable to open database file"},
        {"read-only file",
         [&] {
             // A copy without write permission put in its place: the tool's
             // next connection can only read it.
             RawDatabase holder(file);
             holder.exec("BEGIN IMMEDIATE");
             const std::string copy = dir_.file("db/copy");
             std::ofstream(copy, std::ios::binary) << std::ifstream(file, std::ios::binary).rdbuf();
             giveToTool(copy);
             ASSERT_EQ(::chmod(copy.c_str(), 0444), 0);
             ASSERT_EQ(std::rename(copy.c_str(), file.c_str()), 0);
             holder.exec("COMMIT");
         },
         [&] { ASSERT_EQ(::chmod(file.c_str(), 0644), 0); }, "attempt to write a readonly database"},
        {"read-only folder", [&] { ASSERT_EQ(::chmod(dir_.file("db").c_str(), 0555), 0); },
         [&] { ASSERT_EQ(::chmod(dir_.file("db").c_str(), 0755), 0); }, "attempt to write a readonly database"},
    };
    const std::string filler = dir_.file("db/filler");
    if (smallDisk.mounted()) {
        faults.push_back({"disk full",
                          [&] {
                              // Fill what is left of the small file system.
                              std::ofstream fill(filler, std::ios::binary);
                              const std::string block(4096, 'x');
                              while (fill.write(block.data(), static_cast<std::streamsize>(block.size())))
                                  ;
                          },
                          [&] { ASSERT_EQ(std::remove(filler.c_str()), 0); }, "database or disk is full"});
    } else {
        std::cout << "[   NOTE   ] no small file system could be mounted (not root): no full disk\n";
    }

    for (std::size_t i = 0; i < faults.size(); ++i) {
        const Fault& fault = faults[i];
        SCOPED_TRACE(fault.name);
        fault.start();
        deliver(10);
        // One line when the fault starts, with what the database says.
        ASSERT_TRUE(e2e::WaitFor([&] { return Count(out(), "front: events not stored (") == i + 1; })) << out();
        const std::string text = out();
        const std::size_t line = text.rfind("front: events not stored (");
        EXPECT_NE(text.find(fault.says, line), std::string::npos) << text.substr(line);
        // Polling goes on: the doors are still reported.
        sim.with(1, [i](SimulatedController& c) {
            c.controller().SetDoorOpen(1, i % 2 == 0);
            return 0;
        });
        ASSERT_TRUE(e2e::WaitFor([&] {
            return Count(out(), i % 2 == 0 ? "front: door 1 open" : "front: door 1 closed") > 0 &&
                   out().rfind("front: door 1") > line;
        })) << out();
        EXPECT_EQ(held(), 10u) << "the controller keeps the events";
        EXPECT_TRUE(tool.running());

        fault.end();
        ASSERT_TRUE(e2e::WaitFor([&] { return held() == 0 && Count(out(), "front: events stored again") == i + 1; }))
            << out();
    }
    EXPECT_EQ(Count(out(), "front: events not stored ("), faults.size());

    EXPECT_EQ(tool.interrupt(), 0) << ReadFile("tool.err");
    EXPECT_EQ(ReadFile("tool.err"), "");
    ASSERT_EQ(::chdir("db"), 0);
    std::vector<velta36site::StoredEvent> rows = goneWithTheTable;
    for (const velta36site::StoredEvent& row : e2e::StoredRows())
        rows.push_back(row);
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(rows.size(), delivered);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(e2e::Mismatch(rows[i], events[i].expected), "") << "row " << i;
        EXPECT_EQ(rows[i].dataId, 31);
    }
}

}  // namespace
