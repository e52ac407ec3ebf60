// The shared test fixtures themselves: other suites rely on them to tell a
// right result from a wrong one.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "device_test.h"

namespace {

void Execute(const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2("ZRMDevice.db", &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

TEST(TempWorkDirTest, IsTheWorkingDirectoryAndIsRemovedAfterwards)
{
    const std::filesystem::path before = std::filesystem::current_path();
    std::string path;
    {
        velta36test::TempWorkDir dir;
        path = dir.path();
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(path));
        std::ofstream("left-behind") << "x";
        EXPECT_TRUE(std::filesystem::exists(dir.file("left-behind")));
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_FALSE(std::filesystem::exists(path));
}

class EventDbTest : public velta36test::DeviceTest {};

TEST_F(EventDbTest, FreshDatabaseHasAnEmptyTable)
{
    EXPECT_TRUE(std::filesystem::exists("ZRMDevice.db"));
    EXPECT_TRUE(velta36test::ReadEventRows().empty());
}

TEST_F(EventDbTest, RowsComeBackInIdOrderWithNullsTold)
{
    Execute("INSERT INTO velta36_event (id, data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) "
            "VALUES (7, 3, NULL, 1, 0, '', '未知卡'), (2, 4, '2024-03-05 07:08:09', 2, 12, '00001234', '')");
    const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, 2);
    EXPECT_EQ(rows[0].EventTime, std::optional<std::string>("2024-03-05 07:08:09"));
    EXPECT_EQ(rows[0].Reason, std::optional<std::string>(""));   // empty, not NULL
    EXPECT_EQ(rows[1].id, 7);
    EXPECT_EQ(rows[1].data_id, 3);
    EXPECT_FALSE(rows[1].EventTime.has_value());                  // NULL
    EXPECT_EQ(rows[1].ReaderChannel, 1);
    EXPECT_EQ(rows[1].EventType, 0);
    EXPECT_EQ(rows[1].Reason, std::optional<std::string>("未知卡"));
}

TEST_F(EventDbTest, WrongStorageClassesAreReported)
{
    Execute("INSERT INTO velta36_event (data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) "
            "VALUES (1, 20240305, 1, 1, '00001234', '')");
    EXPECT_THROW(velta36test::ReadEventRows(), std::runtime_error);   // EventTime as an integer

    Execute("DELETE FROM velta36_event");
    Execute("INSERT INTO velta36_event (data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) "
            "VALUES (1, NULL, '1', 1, '00001234', '')");
    EXPECT_NO_THROW(velta36test::ReadEventRows());   // '1' is converted by the column's integer affinity
    Execute("UPDATE velta36_event SET CardNo = X'3132'");
    EXPECT_THROW(velta36test::ReadEventRows(), std::runtime_error);   // CardNo as a blob
}

TEST(EventDbMissing, ReadingWithoutAFileOrTableFails)
{
    velta36test::TempWorkDir dir;
    EXPECT_THROW(velta36test::ReadEventRows(), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists("ZRMDevice.db"));   // reading never creates it
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open("ZRMDevice.db", &db), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_THROW(velta36test::ReadEventRows(), std::runtime_error);
}

TEST(FrameBuilders, EventRecordLayout)
{
    velta36test::EventRecordFields fields;
    const std::string record = velta36test::EventRecord(fields);
    EXPECT_EQ(record, std::string("200:123400140705003248\n"));
    EXPECT_EQ(record.size(), 23u);
    fields.year = 2100;
    EXPECT_THROW(velta36test::EventRecord(fields), std::invalid_argument);
    EXPECT_EQ(velta36test::CommandFrame("v0", '5'), "@5v000:6/");
    EXPECT_EQ(velta36test::Ack(), "h/");
}

}  // namespace
