// The process-wide schema catalog.
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <odb/database.hxx>
#include <odb/exceptions.hxx>
#include <odb/schema-catalog-impl.hxx>
#include <odb/schema-catalog.hxx>
#include <odb/transaction.hxx>

namespace odb {

namespace {

typedef std::pair<database_id, std::string> schema_key;
typedef std::vector<schema_create_function> create_functions;

struct catalog {
    std::mutex mutex;
    std::map<schema_key, create_functions> schemas;
};

// Never destroyed: entries of libraries unloaded during static destruction
// still find it.
catalog& the_catalog() {
    static catalog* c = new catalog;
    return *c;
}

create_functions functions_of(database_id id, const std::string& name) {
    catalog& c(the_catalog());
    std::lock_guard<std::mutex> l(c.mutex);
    std::map<schema_key, create_functions>::const_iterator i(c.schemas.find(schema_key(id, name)));
    if (i == c.schemas.end())
        throw unknown_schema(name);
    return i->second;
}

// Dropping and creating have two passes each. Pass 2 runs only when a
// function asked for it in pass 1; what the functions answer in pass 2 is
// not acted on.
const unsigned short last_pass = 2;

void run_passes(database& db, const create_functions& fs, bool drop) {
    for (unsigned short pass(1); pass <= last_pass; ++pass) {
        bool done(true);
        for (create_functions::const_iterator i(fs.begin()); i != fs.end(); ++i)
            if ((*i)(db, pass, drop))
                done = false;
        if (done)
            break;
    }
}

}  // namespace

void schema_catalog::create_schema(database& db, const std::string& name, bool drop) {
    create_functions fs(functions_of(db.id(), name));
    transaction::current();  // throws not_in_transaction

    if (drop)
        run_passes(db, fs, true);
    run_passes(db, fs, false);
}

void schema_catalog::drop_schema(database& db, const std::string& name) {
    create_functions fs(functions_of(db.id(), name));
    transaction::current();
    run_passes(db, fs, true);
}

bool schema_catalog::exists(const database& db, const std::string& name) { return exists(db.id(), name); }

bool schema_catalog::exists(database_id id, const std::string& name) {
    catalog& c(the_catalog());
    std::lock_guard<std::mutex> l(c.mutex);
    return c.schemas.find(schema_key(id, name)) != c.schemas.end();
}

schema_catalog_create_entry::schema_catalog_create_entry(database_id id, const char* name,
                                                         schema_create_function create_function) {
    catalog& c(the_catalog());
    std::lock_guard<std::mutex> l(c.mutex);
    c.schemas[schema_key(id, name)].push_back(create_function);
}

}  // namespace odb
