// Schema set-up of the tests and benchmarks, through the ODB schema catalog
// as a host installation does it.
//
// Compiled as C++14 (ODB 2.4's headers reject C++17), so it does not include
// event_db.h, whose row type is C++17; the declaration there is this one.
#include <string>

#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

namespace velta36test {

void CreateEventDatabase(const std::string& path);

void CreateEventDatabase(const std::string& path)
{
    odb::sqlite::database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    odb::transaction t(db.begin());
    odb::schema_catalog::create_schema(db, "", true);
    t.commit();
}

}  // namespace velta36test
