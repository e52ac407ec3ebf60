// Storing one door event as a row of "velta36_event".
#include <exception>
#include <iostream>

#include <odb/database.hxx>
#include <odb/exception.hxx>
#include <odb/transaction.hxx>

#include "velta36.h"
#include "velta36_event-odb.hxx"
#include "velta36_event.hxx"

namespace {

// The first attempt and three more.
const int kRetries = 3;

// Device objects polled on other threads write to the same file. Without a
// busy timeout SQLite reports a lock held by one of them at once, and four
// immediate attempts can all fail within a millisecond, losing an event the
// controller has already been told to delete. Each attempt therefore waits
// up to five seconds for the lock. The setting belongs to the attempt's
// connection, so it is made inside the transaction, before the insert needs
// the lock.
const char kWaitForLock[] = "PRAGMA busy_timeout=5000";

}  // namespace

void VELTA36::SaveDoorEvent(velta36_event& event) {
    for (int retries = 0;; ++retries) {
        try {
            odb::transaction t(db->begin());
            db->execute(kWaitForLock);
            db->persist(event);
            t.commit();
            return;
        } catch (const odb::exception& e) {
            std::cout << "SaveDoorEvent odb::exception:" << e.what() << std::endl;
        } catch (const std::exception& e) {
            std::cout << "SaveDoorEvent std::exception:" << e.what() << std::endl;
        }
        if (retries >= kRetries)
            return;
    }
}
