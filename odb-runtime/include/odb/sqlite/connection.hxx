// One open SQLite connection.
#ifndef ODB_SQLITE_CONNECTION_HXX
#define ODB_SQLITE_CONNECTION_HXX

#include <cstddef>

#include <odb/connection.hxx>
#include <odb/sqlite/forward.hxx>

struct sqlite3;

namespace odb {
namespace sqlite {

class connection : public odb::connection {
public:
    typedef sqlite::database database_type;

    // Opens the database file with exactly the database's flags and VFS and
    // sets its foreign-key enforcement. Throws on failure.
    explicit connection(database_type& db);
    ~connection();

    database_type& database();
    sqlite3* handle() { return handle_; }

    using odb::connection::execute;
    virtual unsigned long long execute(const char* statement, std::size_t length);

private:
    database_type& db_;
    sqlite3* handle_;
};

}  // namespace sqlite
}  // namespace odb

#endif
