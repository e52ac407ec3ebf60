#include "store_connection.h"

#include <sqlite3.h>

#include <thread>

namespace velta36 {

StoreConnection::StoreConnection(odb::sqlite::database& db)
    : connection_(db.connection()), attemptStarted_(std::chrono::steady_clock::now())
{
    // The SQLite functions come from the SQLite the host process has loaded
    // for its ODB runtime, like every other SQLite function the runtime
    // calls; the plug-in does not link SQLite itself.
    sqlite3_busy_handler(connection_->handle(), &StoreConnection::WaitForLock, this);
}

StoreConnection::~StoreConnection()
{
    // The connection may stay open in its pool a little longer than this.
    sqlite3_busy_handler(connection_->handle(), nullptr, nullptr);
}

odb::transaction_impl* StoreConnection::begin()
{
    attemptStarted_ = std::chrono::steady_clock::now();
    return connection_->begin();
}

// SQLite calls this when a lock it needs is held elsewhere; non-zero means
// try again.
int StoreConnection::WaitForLock(void* self, int)
{
    const StoreConnection& connection = *static_cast<const StoreConnection*>(self);
    if (std::chrono::steady_clock::now() - connection.attemptStarted_ >= std::chrono::milliseconds(kLockWaitMs))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryMs));
    return 1;
}

}  // namespace velta36
