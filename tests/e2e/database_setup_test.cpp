// The database the tool sets up: a file it creates is in write-ahead-log
// mode, and a connection opened on it the way the plug-in opens one syncs
// every commit in full; a file that was there keeps its own mode.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "e2e_support.h"

namespace {

// What a fresh read-write connection (like the plug-in's) reports.
std::string Pragma(const char* name)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(velta36site::kDatabaseFile, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open the database");
    }
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, (std::string("PRAGMA ") + name).c_str(), -1, &statement, nullptr);
    std::string value;
    if (statement && sqlite3_step(statement) == SQLITE_ROW)
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

class DatabaseSetup : public ::testing::Test {
protected:
    void SetUp() override { e2e::Plugin(); }   // the table comes from its catalog registration

    e2e::ScratchDir dir_;
};

TEST_F(DatabaseSetup, NewFileLogsAheadAndSyncsInFull)
{
    ASSERT_EQ(velta36site::EnsureEventDatabase(), velta36site::DatabaseSetup::CreatedFile);
    EXPECT_EQ(Pragma("journal_mode"), "wal");
    EXPECT_EQ(Pragma("synchronous"), "2");   // FULL: a commit is on the disk when it returns
    // Set up again, it stays as it is.
    EXPECT_EQ(velta36site::EnsureEventDatabase(), velta36site::DatabaseSetup::Existing);
    EXPECT_EQ(Pragma("journal_mode"), "wal");
}

TEST_F(DatabaseSetup, ExistingFileKeepsItsJournalMode)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(velta36site::kDatabaseFile, &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE site_notes(text)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    ASSERT_EQ(velta36site::EnsureEventDatabase(), velta36site::DatabaseSetup::CreatedTable);
    EXPECT_EQ(Pragma("journal_mode"), "delete");
}

}  // namespace
