// odb::sqlite::database: a handle on one SQLite database file.
#ifndef ODB_SQLITE_DATABASE_HXX
#define ODB_SQLITE_DATABASE_HXX

#include <sqlite3.h>

#include <memory>
#include <string>

#include <odb/database.hxx>
#include <odb/details/transfer-ptr.hxx>
#include <odb/sqlite/connection-factory.hxx>
#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/forward.hxx>
#include <odb/sqlite/transaction-impl.hxx>

namespace odb {
namespace sqlite {

class database : public odb::database {
public:
    typedef sqlite::connection connection_type;

    // Opens nothing: the factory's first connection is opened when the
    // first transaction begins. Without a factory a connection pool is used.
    database(const std::string& name,
             int flags = SQLITE_OPEN_READWRITE,
             bool foreign_keys = true,
             const std::string& vfs = "",
             details::transfer_ptr<connection_factory> = details::transfer_ptr<connection_factory>());
    ~database();

    const std::string& name() const { return name_; }
    int flags() const { return flags_; }
    bool foreign_keys() const { return foreign_keys_; }
    const std::string& vfs() const { return vfs_; }

    // "BEGIN", "BEGIN IMMEDIATE" and "BEGIN EXCLUSIVE".
    virtual transaction_impl* begin();
    transaction_impl* begin_immediate();
    transaction_impl* begin_exclusive();

    connection_ptr connection();

private:
    std::string name_;
    int flags_;
    bool foreign_keys_;
    std::string vfs_;
    std::unique_ptr<connection_factory> factory_;
};

}  // namespace sqlite
}  // namespace odb

#endif
