// velta36.so registers the creation routine of velta36_event with the
// runtime's catalog when it is loaded. The catalog never withdraws an
// entry, so the library stays mapped after dlclose (it is linked with
// -z nodelete) and the routine keeps working. This executable links none of
// the plug-in's objects.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "store_test_support.h"
#include "plugin_under_test.h"
#include "temp_work_dir.h"

namespace {

TEST(SchemaRegistration, ArrivesWithThePlugin) {
    EXPECT_FALSE(odb::schema_catalog::exists(odb::id_sqlite, ""));

    void* plugin = ::dlopen(velta36test::PluginUnderTest(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << ::dlerror();
    EXPECT_TRUE(odb::schema_catalog::exists(odb::id_sqlite, ""));

    {
        // The registered routine, run through the catalog, creates the table.
        velta36test::TempWorkDir dir;
        storetest::CreateEventDatabase();
        storetest::RawConnection raw;
        EXPECT_EQ(raw.query("SELECT name FROM sqlite_master WHERE name = 'velta36_event'").size(), 1u);
    }

    ASSERT_EQ(::dlclose(plugin), 0);
    EXPECT_TRUE(odb::schema_catalog::exists(odb::id_sqlite, ""));

    // The library is still mapped: loading it again without loading gives
    // the same handle, and the catalog's routine still creates the table.
    void* again = ::dlopen(velta36test::PluginUnderTest(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(again, nullptr) << "velta36.so was unmapped by dlclose";
    if (again != nullptr)
        ::dlclose(again);
    velta36test::TempWorkDir dir;
    storetest::CreateEventDatabase();
    storetest::RawConnection raw;
    EXPECT_EQ(raw.query("SELECT name FROM sqlite_master WHERE name = 'velta36_event'").size(), 1u);
}

}  // namespace
