// Registration of schema-creation functions by the mapping code.
#ifndef ODB_SCHEMA_CATALOG_IMPL_HXX
#define ODB_SCHEMA_CATALOG_IMPL_HXX

#include <odb/forward.hxx>

namespace odb {

// Returns true when the function wants a further pass.
typedef bool (*schema_create_function)(database&, unsigned short pass, bool drop);

struct schema_catalog_create_entry {
    schema_catalog_create_entry(database_id id, const char* name, schema_create_function create_function);

    // Withdraws the function, so that unloading the library that registered
    // it leaves no dangling pointer in the catalog.
    ~schema_catalog_create_entry();

private:
    schema_catalog_create_entry(const schema_catalog_create_entry&);
    schema_catalog_create_entry& operator=(const schema_catalog_create_entry&);

    database_id id_;
    const char* name_;
    schema_create_function function_;
};

}  // namespace odb

#endif
