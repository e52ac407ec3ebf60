// An SQLite transaction on one connection.
#ifndef ODB_SQLITE_TRANSACTION_IMPL_HXX
#define ODB_SQLITE_TRANSACTION_IMPL_HXX

#include <odb/transaction.hxx>
#include <odb/sqlite/forward.hxx>

namespace odb {
namespace sqlite {

class transaction_impl : public odb::transaction_impl {
public:
    enum lock { deferred, immediate, exclusive };

    // Sends "BEGIN" (or "BEGIN IMMEDIATE", "BEGIN EXCLUSIVE") on c.
    transaction_impl(sqlite::database& db, connection_ptr c, lock l);

    // A transaction that was neither committed nor rolled back is rolled
    // back here, so its connection goes back to the pool clean.
    ~transaction_impl();

    // A failing "COMMIT" that leaves SQLite inside the transaction is
    // followed by a rollback before the error propagates.
    virtual void commit();
    virtual void rollback();

    sqlite::connection& connection();

private:
    connection_ptr connection_;
    bool active_;
};

}  // namespace sqlite
}  // namespace odb

#endif
