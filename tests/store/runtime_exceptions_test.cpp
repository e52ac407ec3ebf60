// The runtime's exception texts and hierarchy, and how SQLite results map
// onto them.
#include <gtest/gtest.h>

#include <new>
#include <typeinfo>

#include <odb/boost/date-time/exceptions.hxx>
#include <odb/exceptions.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/error.hxx>
#include <odb/sqlite/exceptions.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "temp_work_dir.h"

namespace {

TEST(RuntimeExceptions, TextsAndBases) {
    EXPECT_STREQ(odb::object_already_persistent().what(), "object already persistent");
    EXPECT_STREQ(odb::object_not_persistent().what(), "object not persistent");
    EXPECT_STREQ(odb::timeout().what(), "database operation timeout");
    EXPECT_STREQ(odb::deadlock().what(), "transaction aborted due to deadlock");
    EXPECT_STREQ(odb::connection_lost().what(), "connection to database lost");
    EXPECT_STREQ(odb::not_in_transaction().what(), "operation can only be performed in transaction");
    EXPECT_STREQ(odb::already_in_transaction().what(), "transaction already in progress in this thread");
    EXPECT_STREQ(odb::transaction_already_finalized().what(), "transaction already committed or rolled back");
    EXPECT_STREQ(odb::unknown_schema("audit").what(), "unknown database schema 'audit'");
    EXPECT_STREQ(odb::unknown_schema("").what(), "unknown database schema ''");
    EXPECT_STREQ(odb::boost::date_time::special_value().what(), "unrepresentable date/time special value");

    odb::timeout timeout;
    EXPECT_NE(dynamic_cast<odb::recoverable*>(&timeout), nullptr);
    odb::deadlock deadlock;
    EXPECT_NE(dynamic_cast<odb::recoverable*>(&deadlock), nullptr);
    odb::boost::date_time::special_value special;
    EXPECT_NE(dynamic_cast<odb::exception*>(&special), nullptr);
    odb::sqlite::database_exception db(1, 1, "x");
    EXPECT_NE(dynamic_cast<odb::database_exception*>(&db), nullptr);
    EXPECT_NE(dynamic_cast<std::exception*>(&db), nullptr);
}

TEST(RuntimeExceptions, CloneKeepsTypeAndText) {
    odb::sqlite::database_exception original(19, 1299, "NOT NULL constraint failed: velta36_event.Reason");
    std::unique_ptr<odb::exception> copy(original.clone());
    const odb::exception& copied = *copy;
    EXPECT_EQ(typeid(copied), typeid(odb::sqlite::database_exception));
    EXPECT_STREQ(copy->what(), original.what());

    std::unique_ptr<odb::exception> schema(odb::unknown_schema("s").clone());
    EXPECT_STREQ(schema->what(), "unknown database schema 's'");
}

TEST(SqliteDatabaseException, ExtendedCodeShownOnlyWhenItDiffers) {
    odb::sqlite::database_exception unique(19, 1555, "UNIQUE constraint failed: velta36_event.id");
    EXPECT_STREQ(unique.what(), "19 (1555): UNIQUE constraint failed: velta36_event.id");
    EXPECT_EQ(unique.error(), 19);
    EXPECT_EQ(unique.extended_error(), 1555);
    EXPECT_EQ(unique.message(), "UNIQUE constraint failed: velta36_event.id");

    EXPECT_STREQ(odb::sqlite::database_exception(1, 1, "near \"bogus\": syntax error").what(),
                 "1: near \"bogus\": syntax error");
}

class SqliteErrors : public ::testing::Test {
protected:
    velta36test::TempWorkDir dir;
};

// translate_error takes the result code of a call on a connection and
// reads the rest (extended code, message) from that connection's handle.
TEST_F(SqliteErrors, ResultCodesMapOntoTheirExceptions) {
    storetest::CreateEventDatabase();
    odb::sqlite::database db(storetest::kDatabaseFile);
    odb::transaction t(db.begin());
    auto& c = static_cast<odb::sqlite::connection&>(t.connection());

    EXPECT_THROW(odb::sqlite::translate_error(SQLITE_BUSY, c), odb::timeout);
    EXPECT_THROW(odb::sqlite::translate_error(SQLITE_NOMEM, c), std::bad_alloc);
    // A lock held inside this process's shared cache is waited out before
    // it gets here; any other SQLITE_LOCKED is a deadlock.
    EXPECT_THROW(odb::sqlite::translate_error(SQLITE_LOCKED, c), odb::deadlock);

    // Other codes: the code given, then the handle's extended code and
    // message, which still describe the last failed call.
    EXPECT_THROW(db.execute("bogus"), odb::sqlite::database_exception);
    try {
        odb::sqlite::translate_error(SQLITE_IOERR, c);
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_EQ(e.error(), SQLITE_IOERR);
        EXPECT_EQ(e.extended_error(), SQLITE_ERROR);
        EXPECT_STREQ(e.what(), "10 (1): near \"bogus\": syntax error");
    }
    try {
        odb::sqlite::translate_error(SQLITE_MISUSE, c);
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_STREQ(e.what(), "21: SQLite API misuse");
    }
}

TEST_F(SqliteErrors, StatementErrorsCarrySqliteCodesAndMessages) {
    storetest::CreateEventDatabase();
    odb::sqlite::database db(storetest::kDatabaseFile);
    odb::transaction t(db.begin());

    try {
        db.execute("bogus");
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_STREQ(e.what(), "1: near \"bogus\": syntax error");
    }

    // SQLite's NOT NULL message, with the extended code.
    try {
        db.execute("INSERT INTO velta36_event (data_id, ReaderChannel, EventType, CardNo) VALUES (1, 1, 1, '')");
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_STREQ(e.what(), "19 (1299): NOT NULL constraint failed: velta36_event.Reason");
    }

    try {
        db.execute("INSERT INTO velta36_event VALUES (1, 1, NULL, 1, 1, '', '')");
        db.execute("INSERT INTO velta36_event VALUES (1, 1, NULL, 1, 1, '', '')");
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_STREQ(e.what(), "19 (1555): UNIQUE constraint failed: velta36_event.id");
    }
}

TEST_F(SqliteErrors, BusyFileThrowsTimeoutAtOnce) {
    storetest::CreateEventDatabase();
    storetest::RawConnection writer;
    writer.exec("BEGIN IMMEDIATE");

    odb::sqlite::database db(storetest::kDatabaseFile);
    odb::transaction t(db.begin());  // deferred: takes no lock yet
    EXPECT_THROW(db.execute("INSERT INTO velta36_event VALUES (NULL, 1, NULL, 1, 1, '', '')"), odb::timeout);
    writer.exec("ROLLBACK");
}

TEST_F(SqliteErrors, MissingFileFailsAtBeginAndIsNotCreated) {
    odb::sqlite::database db(storetest::kDatabaseFile);  // opens nothing
    try {
        odb::transaction t(db.begin());
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& e) {
        EXPECT_EQ(e.error(), SQLITE_CANTOPEN);
        EXPECT_STREQ(e.what(), "14: unable to open database file");
    }
    EXPECT_FALSE(odb::transaction::has_current());
    EXPECT_NE(::access(storetest::kDatabaseFile, F_OK), 0);
}

TEST_F(SqliteErrors, EachConnectionEnforcesForeignKeysAsAsked) {
    storetest::CreateEventDatabase();
    for (bool on : {true, false}) {
        odb::sqlite::database db(storetest::kDatabaseFile, SQLITE_OPEN_READWRITE, on);
        odb::transaction t(db.begin());
        auto rows = db.execute("PRAGMA foreign_keys");
        EXPECT_EQ(rows, 1u);
        sqlite3_stmt* st = nullptr;
        // Read the setting through the transaction's own connection.
        auto& c = static_cast<odb::sqlite::connection&>(t.connection());
        ASSERT_EQ(sqlite3_prepare_v2(c.handle(), "PRAGMA foreign_keys", -1, &st, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(st, 0), on ? 1 : 0);
        sqlite3_finalize(st);
        t.commit();
    }
}

}  // namespace
