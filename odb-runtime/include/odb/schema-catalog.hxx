// The process-wide catalog of schema-creation functions.
#ifndef ODB_SCHEMA_CATALOG_HXX
#define ODB_SCHEMA_CATALOG_HXX

#include <string>

#include <odb/forward.hxx>

namespace odb {

class schema_catalog {
public:
    // Needs a current transaction. With drop, runs drop passes 1 and 2 of every
    // function registered under name first, then the create passes until
    // every function is done. Throws unknown_schema when nothing is
    // registered under name for db's kind of database.
    static void create_schema(database& db, const std::string& name = "", bool drop = true);

    static void drop_schema(database& db, const std::string& name = "");

    static bool exists(const database& db, const std::string& name = "");
    static bool exists(database_id id, const std::string& name = "");
};

}  // namespace odb

#endif
