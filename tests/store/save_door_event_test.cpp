// SaveDoorEvent on VELTA36 device objects: one row per event, four attempts
// with their messages, and no event lost to another device's lock.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

#include <odb/sqlite/database.hxx>

#include "faulty_vfs.h"
#include "store_test_support.h"
#include "temp_work_dir.h"
#include "velta36.h"
#include "velta36_event.hxx"

namespace {

using storetest::Lines;

const char kOdbFailure[] = "SaveDoorEvent odb::exception:";

class SaveDoorEvent : public ::testing::Test {
protected:
    // Saves one event on the device and returns what it printed.
    std::vector<std::string> Save(VELTA36& device, velta36_event& event) {
        ::testing::internal::CaptureStdout();
        device.SaveDoorEvent(event);
        return Lines(::testing::internal::GetCapturedStdout());
    }

    velta36test::TempWorkDir dir;
};

TEST_F(SaveDoorEvent, StoresOneRowSilently) {
    storetest::CreateEventDatabase();
    VELTA36 device;
    velta36_event event = storetest::MakeEvent("2024-03-05 13:04:05.25", 4242, "00012345", "刷卡进门成功");

    EXPECT_TRUE(Save(device, event).empty());

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(event.id, static_cast<unsigned int>(rows[0].id));
    EXPECT_EQ(rows[0].data_id, 4242);
    EXPECT_EQ(rows[0].EventTime, storetest::Text("2024-03-05 13:04:05.250000"));
    EXPECT_EQ(rows[0].Reason, storetest::Text("刷卡进门成功"));

    // The same object again is a second row with its own identifier.
    unsigned int first = event.id;
    EXPECT_TRUE(Save(device, event).empty());
    EXPECT_NE(event.id, first);
    rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(event.id, static_cast<unsigned int>(rows[1].id));
}

TEST_F(SaveDoorEvent, MissingTableFailsFourTimes) {
    storetest::CreateEmptyDatabase();
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();

    auto lines = Save(device, event);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_EQ(line, std::string(kOdbFailure) + "1: no such table: velta36_event");
    EXPECT_EQ(event.id, 0u);
    storetest::RawConnection raw;
    EXPECT_EQ(raw.query("SELECT name FROM sqlite_master WHERE name = 'velta36_event'").size(), 0u);
}

TEST_F(SaveDoorEvent, MissingFileIsNeverCreated) {
    auto device = std::make_unique<VELTA36>();
    ASSERT_NE(device->db, nullptr);
    velta36_event event = storetest::MakeEvent();

    auto lines = Save(*device, event);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_EQ(line, std::string(kOdbFailure) + "14: unable to open database file");
    EXPECT_NE(::access(storetest::kDatabaseFile, F_OK), 0);

    // The device stays usable: once the file exists, the next save works.
    storetest::CreateEventDatabase();
    EXPECT_TRUE(Save(*device, event).empty());
    EXPECT_EQ(storetest::RawConnection().count(), 1);
}

// The handle each device opens: "ZRMDevice.db" in the working directory,
// read-write only (never created), foreign keys enforced, default VFS.
TEST_F(SaveDoorEvent, DeviceHandleIsTheSharedFileReadWriteWithForeignKeys) {
    VELTA36 device;
    const auto* db = dynamic_cast<const odb::sqlite::database*>(device.db.get());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->name(), "ZRMDevice.db");
    EXPECT_EQ(db->flags(), SQLITE_OPEN_READWRITE);
    EXPECT_TRUE(db->foreign_keys());
    EXPECT_EQ(db->vfs(), "");
}

// Foreign keys are enforced on the device's own connection: an installation
// whose table refers to its devices has an event of an unknown device
// refused, with SQLite's message, on every attempt.
TEST_F(SaveDoorEvent, ForeignKeysAreEnforced) {
    storetest::RawConnection(storetest::kDatabaseFile, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
        .exec("CREATE TABLE device (id INTEGER PRIMARY KEY);"
              "INSERT INTO device VALUES (7);"
              "CREATE TABLE velta36_event (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,"
              " data_id INTEGER NOT NULL REFERENCES device (id), EventTime DATETIME NULL,"
              " ReaderChannel INTEGER NOT NULL, EventType INTEGER NOT NULL,"
              " CardNo varchar(20) NOT NULL, Reason varchar(20) NOT NULL)");
    VELTA36 device;
    velta36_event known = storetest::MakeEvent("2024-03-05 07:08:09", 7);
    EXPECT_TRUE(Save(device, known).empty());

    velta36_event unknown = storetest::MakeEvent("2024-03-05 07:08:09", 8);
    auto lines = Save(device, unknown);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_EQ(line, std::string(kOdbFailure) + "19 (787): FOREIGN KEY constraint failed");

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].data_id, 7);
}

TEST_F(SaveDoorEvent, InfiniteTimeFailsEveryAttempt) {
    storetest::CreateEventDatabase();
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();
    event.EventTime = boost::posix_time::ptime(boost::posix_time::pos_infin);

    auto lines = Save(device, event);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_EQ(line, std::string(kOdbFailure) + "unrepresentable date/time special value");
    EXPECT_EQ(storetest::RawConnection().count(), 0);
}

TEST_F(SaveDoorEvent, NotADateTimeIsStoredAsNull) {
    storetest::CreateEventDatabase();
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();
    event.EventTime = boost::posix_time::ptime();

    EXPECT_TRUE(Save(device, event).empty());
    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].EventTime, boost::none);
}

TEST_F(SaveDoorEvent, SecondAttemptAfterAFailedWrite) {
    storetest::CreateEventDatabase();
    storetest::FaultyVfs vfs(1, SQLITE_IOERR_WRITE);
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();

    auto lines = Save(device, event);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(kOdbFailure) + "10 (778): disk I/O error");
    EXPECT_EQ(vfs.remaining(), 0);

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(event.id, static_cast<unsigned int>(rows[0].id));
}

TEST_F(SaveDoorEvent, StandardExceptionsHaveTheirOwnText) {
    storetest::CreateEventDatabase();
    storetest::FaultyVfs vfs(4, SQLITE_NOMEM);
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();

    auto lines = Save(device, event);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines)
        EXPECT_EQ(line, "SaveDoorEvent std::exception:std::bad_alloc");
    EXPECT_EQ(storetest::RawConnection().count(), 0);
}

// Another connection holds a lock for a moment while the device saves; the
// save waits for it instead of failing.
void HoldLockWhileSaving(const char* lockStatement, bool readFirst) {
    storetest::CreateEventDatabase();
    VELTA36 device;
    velta36_event event = storetest::MakeEvent();

    storetest::RawConnection other;
    other.exec(lockStatement);
    if (readFirst)
        other.query("SELECT count(*) FROM velta36_event");
    else
        other.exec("INSERT INTO velta36_event VALUES (NULL, 1, NULL, 1, 1, 'other', '')");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.exec("COMMIT");
    });

    ::testing::internal::CaptureStdout();
    device.SaveDoorEvent(event);
    std::string output = ::testing::internal::GetCapturedStdout();
    release.join();

    EXPECT_EQ(output, "");
    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), readFirst ? 1u : 2u);
    EXPECT_EQ(event.id, static_cast<unsigned int>(rows.back().id));
}

TEST_F(SaveDoorEvent, InsertWaitsForAnotherWriter) { HoldLockWhileSaving("BEGIN IMMEDIATE", false); }

TEST_F(SaveDoorEvent, CommitWaitsForAReader) { HoldLockWhileSaving("BEGIN", true); }

// The lock contention under test, without waiting for the disk: the file
// lives in memory-backed /dev/shm when there is one (locks work there as on
// any file system; fsync costs nothing).
class InMemoryTempDir {
public:
    InMemoryTempDir() {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        if (::access("/dev/shm", W_OK) == 0)
            ::setenv("TMPDIR", "/dev/shm", 1);
    }
    ~InMemoryTempDir() {
        if (hadOld_)
            ::setenv("TMPDIR", old_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

class SaveDoorEventContention : public ::testing::Test {
protected:
    // Each of `devices` new device objects saves `eventsEach` events on a
    // thread of its own (data_id the device's number, CardNo the event's);
    // returns what they printed.
    static std::string SaveFromThreads(int devices, int eventsEach) {
        std::vector<std::unique_ptr<VELTA36>> objects;
        for (int d = 0; d < devices; ++d)
            objects.push_back(std::make_unique<VELTA36>());

        ::testing::internal::CaptureStdout();
        std::vector<std::thread> threads;
        for (int d = 0; d < devices; ++d) {
            threads.emplace_back([&, d] {
                for (int i = 0; i < eventsEach; ++i) {
                    velta36_event event = storetest::MakeEvent("2024-03-05 07:08:09", static_cast<unsigned int>(d),
                                                               std::to_string(i));
                    objects[static_cast<std::size_t>(d)]->SaveDoorEvent(event);
                }
            });
        }
        for (auto& t : threads)
            t.join();
        return ::testing::internal::GetCapturedStdout();
    }

    InMemoryTempDir inMemory;
    velta36test::TempWorkDir dir;
};

TEST_F(SaveDoorEventContention, DevicesOnSeveralThreadsLoseNothing) {
    storetest::CreateEventDatabase();
    const int kDevices = 4;
    const int kEventsEach = 2000;

    std::string output = SaveFromThreads(kDevices, kEventsEach);

    EXPECT_EQ(output, "");
    storetest::RawConnection raw;
    EXPECT_EQ(raw.count(), kDevices * kEventsEach);
    auto distinct = raw.query("SELECT count(*) FROM (SELECT DISTINCT data_id, CardNo FROM velta36_event)");
    EXPECT_EQ(std::stoll(*distinct.at(0).at(0)), kDevices * kEventsEach);
}

// What the controller's host really meets: another program (an
// installation's own tools) holding a write transaction on the file for a
// second while devices on several threads save. Each attempt waits half a
// second for the file instead of failing at once, so a save outlasts the
// lock with the attempts it has and no event is lost; the attempts that ran
// out of time say so.
TEST_F(SaveDoorEventContention, AnotherProcessHoldingTheFileLosesNothing) {
    storetest::CreateEventDatabase();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other process: hold the write lock for 1.2 seconds.
        ::close(ready[0]);
        int status = 1;
        try {
            storetest::RawConnection other;
            other.exec("BEGIN IMMEDIATE");
            other.exec("INSERT INTO velta36_event VALUES (NULL, 99, NULL, 1, 1, 'other', '')");
            const char byte = 'x';
            if (::write(ready[1], &byte, 1) == 1) {
                ::usleep(1200 * 1000);
                other.exec("COMMIT");
                status = 0;
            }
        } catch (...) {
        }
        ::_exit(status);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the other process did not take the lock";
    ::close(ready[0]);

    const int kDevices = 3;
    const int kEventsEach = 20;
    std::string output = SaveFromThreads(kDevices, kEventsEach);

    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process failed";
    const std::vector<std::string> lines = Lines(output);
    EXPECT_LE(lines.size(), static_cast<std::size_t>(kDevices * 3)) << output;
    for (const std::string& line : lines)
        EXPECT_EQ(line, "SaveDoorEvent odb::exception:database operation timeout");
    storetest::RawConnection raw;
    EXPECT_EQ(raw.count(), 1 + kDevices * kEventsEach);
    EXPECT_EQ(std::stoll(*raw.query("SELECT count(*) FROM velta36_event WHERE data_id = 99").at(0).at(0)), 1);
}

}  // namespace
