// A connection to a database, as seen by code that is not back-end specific.
#ifndef ODB_CONNECTION_HXX
#define ODB_CONNECTION_HXX

#include <cstddef>
#include <string>

#include <odb/forward.hxx>

namespace odb {

class connection {
public:
    typedef odb::database database_type;

    database_type& database() { return database_; }

    // Runs one statement and returns the number of affected (or returned)
    // rows.
    virtual unsigned long long execute(const char* statement, std::size_t length) = 0;

    unsigned long long execute(const char* statement);
    unsigned long long execute(const std::string& statement);

    virtual ~connection();

protected:
    explicit connection(database_type& db) : database_(db) {}

private:
    connection(const connection&);
    connection& operator=(const connection&);

    database_type& database_;
};

}  // namespace odb

#endif
