// The connection a device's saves go through.
//
// How long a save waits for a lock held elsewhere is a setting of the
// connection (its busy handler), made once when the connection is taken
// from the handle's pool, not a statement compiled and run in every
// attempt. The device keeps the connection until an attempt to save fails;
// then it lets go of it and of the handle (see event_database.h).
#ifndef VELTA36_STORE_STORE_CONNECTION_H
#define VELTA36_STORE_STORE_CONNECTION_H

#include <chrono>

#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

namespace velta36 {

// Longest time one attempt spends waiting for locks, all its statements
// together. Nothing is lost when an attempt gives up (the batch stays on
// the controller), so the wait only has to ride out other writers'
// commits, not a lock held for long: four attempts keep one process() call
// at about two seconds while another program holds the file locked.
const int kLockWaitMs = 500;
// How often a waiting attempt tries the lock again. Short, so that a device
// is not starved by others that take the lock in between its tries.
const int kLockRetryMs = 1;

class StoreConnection {
public:
    // Takes a connection from the handle (opening the file if the pool has
    // none) and sets its lock wait. Throws what opening the file throws.
    explicit StoreConnection(odb::sqlite::database& db);
    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    // A new deferred transaction on this connection; the attempt's lock
    // wait starts now.
    odb::transaction_impl* begin();

private:
    static int WaitForLock(void* self, int tries);

    odb::sqlite::connection_ptr connection_;
    std::chrono::steady_clock::time_point attemptStarted_;
};

}  // namespace velta36

#endif
