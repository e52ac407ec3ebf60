// The schema catalog and the registered creation routine of velta36_event.
#include <gtest/gtest.h>

#include <odb/exceptions.hxx>
#include <odb/schema-catalog-impl.hxx>
#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/exceptions.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "event_table_sql.h"
#include "temp_work_dir.h"

namespace {

const char* const kTableDefinition = velta36test::kEventTableDefinition;

class SchemaCatalog : public ::testing::Test {
protected:
    velta36test::TempWorkDir dir;
    odb::sqlite::database db{storetest::kDatabaseFile, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE};
};

TEST_F(SchemaCatalog, TheMappingIsRegisteredUnderTheEmptyName) {
    EXPECT_TRUE(odb::schema_catalog::exists(db));
    EXPECT_TRUE(odb::schema_catalog::exists(db, ""));
    EXPECT_FALSE(odb::schema_catalog::exists(db, "other"));
    EXPECT_FALSE(odb::schema_catalog::exists(odb::id_pgsql, ""));
}

TEST_F(SchemaCatalog, CreatesTheTableWithItsExactDefinition) {
    odb::transaction t(db.begin());
    odb::schema_catalog::create_schema(db);
    t.commit();

    auto rows = storetest::RawConnection().query("SELECT sql FROM sqlite_master WHERE name = 'velta36_event'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0], kTableDefinition);
}

TEST_F(SchemaCatalog, CreatingWithDropRecreatesTheTableEmpty) {
    storetest::CreateEventDatabase();
    storetest::RawConnection raw;
    raw.exec("INSERT INTO velta36_event VALUES (NULL, 1, NULL, 1, 1, 'a', 'b')");
    ASSERT_EQ(raw.count(), 1);

    odb::transaction t(db.begin());
    odb::schema_catalog::create_schema(db, "", true);
    t.commit();
    EXPECT_EQ(raw.count(), 0);

    // Without drop, an existing table is an error of the CREATE statement.
    odb::transaction again(db.begin());
    EXPECT_THROW(odb::schema_catalog::create_schema(db, "", false), odb::sqlite::database_exception);
}

TEST_F(SchemaCatalog, RefusesUnknownNamesAndWorkOutsideATransaction) {
    EXPECT_THROW(odb::schema_catalog::create_schema(db), odb::not_in_transaction);
    odb::transaction t(db.begin());
    try {
        odb::schema_catalog::create_schema(db, "audit");
        FAIL() << "no exception";
    } catch (const odb::unknown_schema& e) {
        EXPECT_EQ(e.name(), "audit");
    }
}

// A routine that records its calls, registered under its own name.
std::vector<std::pair<unsigned short, bool>> g_calls;
bool RecordingRoutine(odb::database&, unsigned short pass, bool drop) {
    g_calls.emplace_back(pass, drop);
    return pass < 3;  // asks for one more pass after passes 1 and 2
}

TEST_F(SchemaCatalog, RunsTwoDropPassesThenTwoCreatePasses) {
    {
        odb::schema_catalog_create_entry entry(odb::id_sqlite, "recording", &RecordingRoutine);
        g_calls.clear();
        odb::transaction t(db.begin());
        odb::schema_catalog::create_schema(db, "recording", true);
        t.commit();
    }
    // Dropping and creating have two passes each; a routine's wish for a
    // third is not acted on.
    std::vector<std::pair<unsigned short, bool>> expected = {{1, true}, {2, true}, {1, false}, {2, false}};
    EXPECT_EQ(g_calls, expected);

    // An entry is never withdrawn: the routine stays registered after the
    // entry object is gone, for the life of the process.
    EXPECT_TRUE(odb::schema_catalog::exists(db, "recording"));
    g_calls.clear();
    odb::transaction t(db.begin());
    odb::schema_catalog::create_schema(db, "recording", false);
    t.commit();
    expected = {{1, false}, {2, false}};
    EXPECT_EQ(g_calls, expected);
}

}  // namespace
