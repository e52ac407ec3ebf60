// Transactions: one current per thread, finalization, rollback on
// destruction and after a failed COMMIT, statements outside a transaction.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <odb/exceptions.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "temp_work_dir.h"

namespace {

const char kInsert[] = "INSERT INTO velta36_event VALUES (NULL, 7, NULL, 1, 1, '', '')";

class Transactions : public ::testing::Test {
protected:
    void SetUp() override { storetest::CreateEventDatabase(); }

    velta36test::TempWorkDir dir;
    odb::sqlite::database db{storetest::kDatabaseFile};
};

TEST_F(Transactions, CurrentIsPerThread) {
    EXPECT_FALSE(odb::transaction::has_current());
    EXPECT_THROW(odb::transaction::current(), odb::not_in_transaction);
    {
        odb::transaction t(db.begin());
        EXPECT_TRUE(odb::transaction::has_current());
        EXPECT_EQ(&odb::transaction::current(), &t);
        EXPECT_EQ(&t.database(), &db);

        bool otherThreadHasOne = true;
        std::thread([&] { otherThreadHasOne = odb::transaction::has_current(); }).join();
        EXPECT_FALSE(otherThreadHasOne);
        t.commit();
        EXPECT_FALSE(odb::transaction::has_current());
    }
    EXPECT_FALSE(odb::transaction::has_current());
}

TEST_F(Transactions, SecondCurrentTransactionIsRefusedAndRolledBack) {
    odb::transaction outer(db.begin());
    db.execute(kInsert);

    odb::sqlite::database other(storetest::kDatabaseFile);
    EXPECT_THROW(odb::transaction inner(other.begin()), odb::already_in_transaction);
    EXPECT_EQ(&odb::transaction::current(), &outer);

    // A transaction that is not made current is allowed.
    odb::transaction side(other.begin(), false);
    EXPECT_EQ(&odb::transaction::current(), &outer);
    side.rollback();

    outer.commit();
    // The refused transaction's BEGIN holds nothing: the file can be written.
    storetest::RawConnection raw;
    raw.exec(kInsert);
    EXPECT_EQ(raw.count(), 2);
}

TEST_F(Transactions, FinalizedTwiceThrows) {
    odb::transaction committed(db.begin());
    committed.commit();
    EXPECT_THROW(committed.commit(), odb::transaction_already_finalized);
    EXPECT_THROW(committed.rollback(), odb::transaction_already_finalized);

    odb::transaction rolledBack(db.begin());
    rolledBack.rollback();
    EXPECT_THROW(rolledBack.rollback(), odb::transaction_already_finalized);
    EXPECT_THROW(rolledBack.commit(), odb::transaction_already_finalized);
}

TEST_F(Transactions, DestructorRollsBack) {
    {
        odb::transaction t(db.begin());
        db.execute(kInsert);
    }
    EXPECT_FALSE(odb::transaction::has_current());
    EXPECT_EQ(storetest::RawConnection().count(), 0);

    odb::transaction t(db.begin());
    db.execute(kInsert);
    t.commit();
    EXPECT_EQ(storetest::RawConnection().count(), 1);
}

TEST_F(Transactions, ExecuteNeedsATransaction) {
    EXPECT_THROW(db.execute(kInsert), odb::not_in_transaction);
    EXPECT_THROW(db.execute(std::string(kInsert)), odb::not_in_transaction);
    EXPECT_THROW(db.execute(kInsert, sizeof(kInsert) - 1), odb::not_in_transaction);

    odb::transaction t(db.begin());
    EXPECT_EQ(db.execute(kInsert), 1u);
    EXPECT_EQ(db.execute(std::string("UPDATE velta36_event SET data_id = 8")), 1u);
    // The length bounds the statement: the tail is not part of it.
    std::string padded = std::string(kInsert) + " garbage";
    EXPECT_EQ(db.execute(padded.c_str(), sizeof(kInsert) - 1), 1u);
    EXPECT_EQ(db.execute("SELECT * FROM velta36_event"), 2u);
    t.commit();
}

TEST_F(Transactions, BusyCommitRollsBackAndLeavesTheHandleUsable) {
    storetest::RawConnection reader;
    odb::transaction t(db.begin());
    db.execute(kInsert);

    // A reader's shared lock keeps COMMIT from getting the exclusive lock.
    reader.exec("BEGIN");
    reader.query("SELECT count(*) FROM velta36_event");
    EXPECT_THROW(t.commit(), odb::timeout);
    EXPECT_FALSE(odb::transaction::has_current());
    reader.exec("COMMIT");

    // The pooled connection came back outside any transaction.
    odb::transaction again(db.begin());
    EXPECT_EQ(db.execute("SELECT * FROM velta36_event"), 0u);
    db.execute(kInsert);
    again.commit();
    EXPECT_EQ(storetest::RawConnection().count(), 1);
}

TEST_F(Transactions, ImmediateAndExclusiveTakeTheLockAtBegin) {
    odb::transaction t(db.begin_immediate());
    storetest::RawConnection other;
    EXPECT_THROW(other.exec(kInsert), std::runtime_error);
    t.rollback();
    other.exec(kInsert);

    odb::transaction x(db.begin_exclusive());
    EXPECT_THROW(other.query("SELECT count(*) FROM velta36_event"), std::runtime_error);
    x.commit();
    EXPECT_EQ(other.count(), 1);
}

// Handles of one process on one file share SQLite's cache: a connection
// that meets another's uncommitted write waits for its commit (SQLite's
// unlock notification) and then reads the committed row. With a cache of
// its own it would read around the writer and see no row; without the
// wait it would fail at once.
TEST_F(Transactions, HandlesOfOneProcessShareTheCacheAndWaitForEachOther) {
    odb::sqlite::database other(storetest::kDatabaseFile);
    odb::transaction writing(db.begin());
    db.execute(kInsert);

    std::string seen = "nothing";
    std::thread reader([&] {
        try {
            odb::transaction t(other.begin());
            // A query's execute gives the number of rows it returned.
            seen = std::to_string(other.execute("SELECT * FROM velta36_event"));
            t.commit();
        } catch (const std::exception& e) {
            seen = e.what();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    writing.commit();
    reader.join();
    EXPECT_EQ(seen, "1");
}

}  // namespace
