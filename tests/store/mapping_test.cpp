// The velta36_event mapping: every column as written, read back with plain
// SQLite and through the mapping's load.
#include <gtest/gtest.h>

#include <odb/boost/date-time/exceptions.hxx>
#include <odb/exceptions.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/exceptions.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "temp_work_dir.h"
#include "velta36_event-odb.hxx"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using Traits = odb::access::object_traits_impl<velta36_event, odb::id_sqlite>;

// The statement texts and the quoted table name of the mapping, exactly:
// the hand-written mapping and the one the odb compiler generates (with
// --generate-query) must both hold these.
TEST(MappingTexts, EveryStatementAndTheTableName) {
    const std::string columns =
        "\"velta36_event\".\"id\", \"velta36_event\".\"data_id\", \"velta36_event\".\"EventTime\", "
        "\"velta36_event\".\"ReaderChannel\", \"velta36_event\".\"EventType\", \"velta36_event\".\"CardNo\", "
        "\"velta36_event\".\"Reason\"";
    EXPECT_STREQ(Traits::persist_statement,
                 "INSERT INTO \"velta36_event\" (\"id\", \"data_id\", \"EventTime\", \"ReaderChannel\", "
                 "\"EventType\", \"CardNo\", \"Reason\") VALUES (?, ?, ?, ?, ?, ?, ?)");
    EXPECT_EQ(Traits::find_statement,
              "SELECT " + columns + " FROM \"velta36_event\" WHERE \"velta36_event\".\"id\"=?");
    EXPECT_STREQ(Traits::update_statement,
                 "UPDATE \"velta36_event\" SET \"data_id\"=?, \"EventTime\"=?, \"ReaderChannel\"=?, "
                 "\"EventType\"=?, \"CardNo\"=?, \"Reason\"=? WHERE \"id\"=?");
    EXPECT_STREQ(Traits::erase_statement, "DELETE FROM \"velta36_event\" WHERE \"id\"=?");
    EXPECT_EQ(Traits::query_statement, "SELECT " + columns + " FROM \"velta36_event\"");
    EXPECT_STREQ(Traits::erase_query_statement, "DELETE FROM \"velta36_event\"");
    EXPECT_STREQ(Traits::table_name, "\"velta36_event\"");
}

class Mapping : public ::testing::Test {
protected:
    void SetUp() override { storetest::CreateEventDatabase(); }

    unsigned int Persist(velta36_event& e) {
        odb::transaction t(db.begin());
        unsigned int id = db.persist(e);
        t.commit();
        return id;
    }

    velta36_event Load(unsigned int id) {
        velta36_event e;
        odb::transaction t(db.begin());
        EXPECT_TRUE(Traits::find(db, id, e));
        t.commit();
        return e;
    }

    velta36test::TempWorkDir dir;
    odb::sqlite::database db{storetest::kDatabaseFile};
};

TEST_F(Mapping, EveryColumnAsWritten) {
    velta36_event e = storetest::MakeEvent("2024-03-05 07:08:09", 4242, "00012345", "刷卡进门成功");
    e.ReaderChannel = -3;
    e.EventType = 12;
    unsigned int id = Persist(e);

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(e.id, 1u);
    EXPECT_EQ(rows[0].data_id, 4242);
    EXPECT_EQ(rows[0].EventTime, storetest::Text("2024-03-05 07:08:09"));
    EXPECT_EQ(rows[0].ReaderChannel, -3);
    EXPECT_EQ(rows[0].EventType, 12);
    EXPECT_EQ(rows[0].CardNo, storetest::Text("00012345"));
    EXPECT_EQ(rows[0].Reason, storetest::Text("刷卡进门成功"));
    EXPECT_EQ(rows[0].types, "integer,integer,text,integer,integer,text,text");

    velta36_event back = Load(id);
    EXPECT_EQ(back.id, id);
    EXPECT_EQ(back.data_id, 4242u);
    EXPECT_EQ(back.EventTime, e.EventTime);
    EXPECT_EQ(back.ReaderChannel, -3);
    EXPECT_EQ(back.EventType, 12);
    EXPECT_EQ(back.CardNo, "00012345");
    EXPECT_EQ(back.Reason, "刷卡进门成功");
}

TEST_F(Mapping, EventTimeText) {
    struct Case {
        ptime time;
        storetest::Text stored;
    };
    const Case cases[] = {
        {time_from_string("2024-03-05 00:00:00"), storetest::Text("2024-03-05 00:00:00")},
        {time_from_string("2024-03-05 13:04:05.123456"), storetest::Text("2024-03-05 13:04:05.123456")},
        {time_from_string("2024-03-05 13:04:05.000001"), storetest::Text("2024-03-05 13:04:05.000001")},
        {time_from_string("1999-12-31 23:59:59"), storetest::Text("1999-12-31 23:59:59")},
        {ptime(boost::posix_time::not_a_date_time), boost::none},
    };
    for (const Case& c : cases) {
        velta36_event e = storetest::MakeEvent();
        e.EventTime = c.time;
        unsigned int id = Persist(e);
        auto rows = storetest::ReadEvents();
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().EventTime, c.stored);
        EXPECT_EQ(Load(id).EventTime, c.time) << (c.stored ? *c.stored : "NULL");
    }
    EXPECT_TRUE(Load(5).EventTime.is_not_a_date_time());
}

TEST_F(Mapping, TextsAreStoredWholeAndEmptyIsNotNull) {
    const std::string reason = "控制器不允许（有效期、信用度）";
    ASSERT_EQ(reason.size(), 45u);
    velta36_event e = storetest::MakeEvent("2024-03-05 07:08:09", 1, "", reason);
    Persist(e);
    velta36_event empty = storetest::MakeEvent("2024-03-05 07:08:09", 1, "", "");
    Persist(empty);

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Reason, storetest::Text(reason));
    EXPECT_EQ(rows[0].CardNo, storetest::Text(""));
    EXPECT_EQ(rows[1].CardNo, storetest::Text(""));
    EXPECT_EQ(rows[1].Reason, storetest::Text(""));
    EXPECT_EQ(rows[1].types, "integer,integer,text,integer,integer,text,text");
    EXPECT_EQ(Load(rows[0].id).Reason, reason);
}

TEST_F(Mapping, SqliteAssignsIdsAndTheSameObjectTwiceGivesTwoRows) {
    storetest::RawConnection raw;
    raw.exec("INSERT INTO velta36_event VALUES (41, 1, NULL, 1, 1, '', '')");

    velta36_event e = storetest::MakeEvent();
    e.id = 7;  // ignored: the insert binds NULL
    EXPECT_EQ(Persist(e), 42u);
    EXPECT_EQ(e.id, 42u);
    EXPECT_EQ(Persist(e), 43u);
    EXPECT_EQ(e.id, 43u);

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].id, 42);
    EXPECT_EQ(rows[2].id, 43);
    EXPECT_EQ(rows[1].CardNo, rows[2].CardNo);

    // AUTOINCREMENT: an erased highest id is not handed out again.
    odb::transaction t(db.begin());
    Traits::erase(db, 43);
    t.commit();
    EXPECT_EQ(Persist(e), 44u);
}

TEST_F(Mapping, InfiniteTimeIsRefusedBeforeAnythingIsWritten) {
    for (auto special : {boost::posix_time::pos_infin, boost::posix_time::neg_infin}) {
        velta36_event e = storetest::MakeEvent();
        e.EventTime = ptime(special);
        odb::transaction t(db.begin());
        EXPECT_THROW(db.persist(e), odb::boost::date_time::special_value);
        EXPECT_EQ(e.id, 0u);
        t.commit();
    }
    EXPECT_EQ(storetest::RawConnection().count(), 0);
}

// The id is assigned by SQLite, so a constraint that fails on insert is
// never a row that already exists: it is reported with SQLite's code and
// message, not as object_already_persistent.
TEST_F(Mapping, ConstraintFailureOfTheInsertIsADatabaseError) {
    // A trigger that repeats the new id in a table of its own makes the
    // insert fail on a UNIQUE constraint.
    storetest::RawConnection raw;
    raw.exec("CREATE TABLE mirror (id INTEGER PRIMARY KEY)");
    raw.exec("INSERT INTO mirror VALUES (1)");
    raw.exec("CREATE TRIGGER copy AFTER INSERT ON velta36_event BEGIN INSERT INTO mirror VALUES (NEW.id); END");

    velta36_event e = storetest::MakeEvent();
    odb::transaction t(db.begin());
    try {
        db.persist(e);
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& ex) {
        EXPECT_STREQ(ex.what(), "19 (1555): UNIQUE constraint failed: mirror.id");
    }
    EXPECT_EQ(e.id, 0u);
}

TEST_F(Mapping, PersistNeedsATransactionAndATable) {
    velta36_event e = storetest::MakeEvent();
    EXPECT_THROW(db.persist(e), odb::not_in_transaction);

    storetest::RawConnection().exec("DROP TABLE velta36_event");
    odb::transaction t(db.begin());
    try {
        db.persist(e);
        FAIL() << "no exception";
    } catch (const odb::sqlite::database_exception& ex) {
        EXPECT_STREQ(ex.what(), "1: no such table: velta36_event");
    }
}

TEST_F(Mapping, UpdateAndEraseOfAMissingRow) {
    velta36_event e = storetest::MakeEvent();
    Persist(e);
    e.Reason = "门被非法打开";
    e.EventTime = ptime(boost::posix_time::not_a_date_time);

    odb::transaction t(db.begin());
    Traits::update(db, e);
    velta36_event missing = e;
    missing.id = 99;
    EXPECT_THROW(Traits::update(db, missing), odb::object_not_persistent);
    EXPECT_THROW(Traits::erase(db, 99), odb::object_not_persistent);
    velta36_event none;
    EXPECT_FALSE(Traits::find(db, 99, none));
    t.commit();

    auto rows = storetest::ReadEvents();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Reason, storetest::Text("门被非法打开"));
    EXPECT_EQ(rows[0].EventTime, boost::none);
}

}  // namespace
