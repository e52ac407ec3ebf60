// Registration of schema-creation functions by the mapping code.
#ifndef ODB_SCHEMA_CATALOG_IMPL_HXX
#define ODB_SCHEMA_CATALOG_IMPL_HXX

#include <odb/forward.hxx>

namespace odb {

// Returns true when the function wants a further pass.
typedef bool (*schema_create_function)(database&, unsigned short pass, bool drop);

// Registers the function for the life of the process: the catalog never
// withdraws it, not even when the entry object is destroyed. A library that
// registers one must therefore stay mapped once loaded (link it with
// -z nodelete), or a later create_schema calls into unmapped code.
struct schema_catalog_create_entry {
    schema_catalog_create_entry(database_id id, const char* name, schema_create_function create_function);
};

}  // namespace odb

#endif
