// Statements a connection keeps prepared between transactions: reusable
// after a failure, prepared again after the schema changes, never holding a
// lock between uses, and finalized when the connection closes.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <odb/exceptions.hxx>
#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/exceptions.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "temp_work_dir.h"
#include "velta36_event-odb.hxx"

namespace {

using Traits = odb::access::object_traits_impl<velta36_event, odb::id_sqlite>;

class KeptStatements : public ::testing::Test {
protected:
    void SetUp() override { storetest::CreateEventDatabase(); }

    // Persists in a transaction of its own and returns the connection used.
    odb::connection* Persist(velta36_event& e) {
        odb::transaction t(db.begin());
        db.persist(e);
        odb::connection* c = &t.connection();
        t.commit();
        return c;
    }

    velta36test::TempWorkDir dir;
    odb::sqlite::database db{storetest::kDatabaseFile};
};

TEST_F(KeptStatements, InsertThatFailedOnALockWorksOnceTheLockIsGone) {
    velta36_event first = storetest::MakeEvent();
    odb::connection* c = Persist(first);

    storetest::RawConnection writer;
    writer.exec("BEGIN IMMEDIATE");
    {
        velta36_event e = storetest::MakeEvent();
        odb::transaction t(db.begin());
        EXPECT_EQ(&t.connection(), c);  // the pooled connection
        EXPECT_THROW(db.persist(e), odb::timeout);
    }
    writer.exec("ROLLBACK");

    velta36_event e = storetest::MakeEvent("2024-03-05 08:00:00", 18);
    EXPECT_EQ(Persist(e), c);
    EXPECT_EQ(e.id, 2u);
    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].data_id, 18);
    EXPECT_EQ(rows[1].EventTime, storetest::Text("2024-03-05 08:00:00"));
}

TEST_F(KeptStatements, InsertThatFailedAConstraintWorksAgain) {
    velta36_event first = storetest::MakeEvent();
    Persist(first);

    storetest::RawConnection raw;
    raw.exec("CREATE TABLE mirror (id INTEGER PRIMARY KEY)");
    raw.exec("INSERT INTO mirror VALUES (2)");
    raw.exec("CREATE TRIGGER copy AFTER INSERT ON velta36_event BEGIN INSERT INTO mirror VALUES (NEW.id); END");
    velta36_event e = storetest::MakeEvent();
    {
        odb::transaction t(db.begin());
        EXPECT_THROW(db.persist(e), odb::sqlite::database_exception);
    }
    raw.exec("DROP TRIGGER copy");

    Persist(e);
    EXPECT_EQ(e.id, 2u);
    EXPECT_EQ(raw.count(), 2);
}

TEST_F(KeptStatements, DroppedTableGivesSqliteMessageAndRecreatedTableTakesInserts) {
    velta36_event e = storetest::MakeEvent();
    odb::connection* c = Persist(e);

    storetest::RawConnection().exec("DROP TABLE velta36_event");
    for (int i = 0; i < 2; ++i) {
        odb::transaction t(db.begin());
        EXPECT_EQ(&t.connection(), c);
        try {
            db.persist(e);
            FAIL() << "no exception";
        } catch (const odb::sqlite::database_exception& ex) {
            EXPECT_STREQ(ex.what(), "1: no such table: velta36_event");
        }
    }

    // The catalog drops and creates on the same pooled connection.
    {
        odb::transaction t(db.begin());
        EXPECT_EQ(&t.connection(), c);
        odb::schema_catalog::create_schema(db, "", true);
        t.commit();
    }
    velta36_event again = storetest::MakeEvent("2024-03-05 09:10:11", 19);
    EXPECT_EQ(Persist(again), c);
    EXPECT_EQ(again.id, 1u);
    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].data_id, 19);
}

TEST_F(KeptStatements, FoundRowLeavesNoReadLockBehind) {
    velta36_event e = storetest::MakeEvent();
    Persist(e);
    {
        velta36_event loaded;
        odb::transaction t(db.begin());
        ASSERT_TRUE(Traits::find(db, e.id, loaded));
        EXPECT_EQ(loaded.data_id, e.data_id);
        t.commit();
    }
    // A query still open on the idle connection would keep its shared lock,
    // and this commit (no busy timeout) would fail at once.
    storetest::RawConnection writer;
    writer.exec("BEGIN; INSERT INTO velta36_event VALUES (NULL, 1, NULL, 1, 1, '', ''); COMMIT");
    EXPECT_EQ(writer.count(), 2);
}

TEST_F(KeptStatements, ClosingTheConnectionFinalizesThem) {
    // SQLite's own state from the first open stays; measure after it.
    { storetest::RawConnection warmUp; }
    sqlite3_int64 before = sqlite3_memory_used();
    {
        odb::sqlite::database other(storetest::kDatabaseFile);
        velta36_event e = storetest::MakeEvent();
        odb::transaction t(other.begin());
        other.persist(e);
        EXPECT_TRUE(Traits::find(other, e.id, e));
        t.commit();
    }
    // A connection with statements still prepared is not closed at all.
    EXPECT_EQ(sqlite3_memory_used(), before);
}

}  // namespace
