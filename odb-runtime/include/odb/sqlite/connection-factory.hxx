// Where a database gets its connections from.
#ifndef ODB_SQLITE_CONNECTION_FACTORY_HXX
#define ODB_SQLITE_CONNECTION_FACTORY_HXX

#include <cstddef>
#include <memory>

#include <odb/sqlite/forward.hxx>

namespace odb {
namespace sqlite {

class connection_factory {
public:
    typedef sqlite::database database_type;

    virtual connection_ptr connect() = 0;

    // Called once by the database that takes the factory over.
    virtual void database(database_type& db) { db_ = &db; }

    virtual ~connection_factory();

protected:
    connection_factory() : db_(0) {}

    database_type* db_;
};

// A fresh connection for every transaction.
class new_connection_factory : public connection_factory {
public:
    virtual connection_ptr connect();
};

// Keeps released connections for reuse. max_connections 0 means no limit;
// at most min_connections idle connections are kept (all of them when it
// is 0, the default). Connections are opened on demand, never in advance.
//
// The connections of every pool in the process share one cache per file
// (SQLITE_OPEN_SHAREDCACHE, unless the database's flags ask for
// SQLITE_OPEN_PRIVATECACHE): they meet in table locks, which statements
// wait out through SQLite's unlock notification, rather than in file locks.
// Only another process holding the file gives SQLITE_BUSY.
class connection_pool_factory : public connection_factory {
public:
    explicit connection_pool_factory(std::size_t max_connections = 0, std::size_t min_connections = 0);
    ~connection_pool_factory();

    virtual connection_ptr connect();
    virtual void database(database_type& db);

private:
    connection_pool_factory(const connection_pool_factory&);
    connection_pool_factory& operator=(const connection_pool_factory&);

    struct pool;
    static connection_ptr handOut(const std::shared_ptr<pool>& p, connection* c);
    std::shared_ptr<pool> pool_;
    int extra_flags_;
};

}  // namespace sqlite
}  // namespace odb

#endif
