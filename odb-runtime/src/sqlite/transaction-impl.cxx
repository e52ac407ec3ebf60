// SQLite transactions.
#include <sqlite3.h>

#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/statement.hxx>
#include <odb/sqlite/transaction-impl.hxx>

namespace odb {
namespace sqlite {

transaction_impl::transaction_impl(sqlite::database& db, connection_ptr c, lock l)
    : odb::transaction_impl(db, c.get()), connection_(c), active_(false) {
    switch (l) {
    case deferred:
        connection_->begin_statement().execute();
        break;
    case immediate:
        connection_->begin_immediate_statement().execute();
        break;
    case exclusive:
        connection_->begin_exclusive_statement().execute();
        break;
    }
    active_ = true;
}

transaction_impl::~transaction_impl() {
    if (active_) {
        try {
            connection_->rollback_statement().execute();
        } catch (...) {
        }
    }
}

void transaction_impl::commit() {
    active_ = false;
    try {
        connection_->commit_statement().execute();
    } catch (...) {
        // A busy or failed COMMIT can leave SQLite inside the transaction;
        // the connection must not go back to the pool that way.
        if (sqlite3_get_autocommit(connection_->handle()) == 0) {
            try {
                connection_->rollback_statement().execute();
            } catch (...) {
            }
        }
        throw;
    }
}

void transaction_impl::rollback() {
    active_ = false;
    connection_->rollback_statement().execute();
}

sqlite::connection& transaction_impl::connection() { return *connection_; }

}  // namespace sqlite
}  // namespace odb
