// Storing one door event as a row of "velta36_event".
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include <odb/database.hxx>
#include <odb/exception.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "event_database.h"
#include "save_attempts.h"
#include "store_connection.h"
#include "velta36.h"
#include "velta36_event-odb.hxx"
#include "velta36_event.hxx"

namespace {

// After the first failed attempt of a save the others run on a fresh handle
// and connection (see ReopenEventDatabase): a fault that is over must not
// keep failing on a connection it spoiled, and what the last attempt
// reports is what the database says now. They share that connection: what
// makes them fail then (a lock held elsewhere, a full disk) leaves it sound,
// and a save does not open the file four times.
void DropConnection(VELTA36& device)
{
    device.storeConnection.reset();   // back to its pool before the pool goes
    try {
        device.db = ReopenEventDatabase(*device.db);
    } catch (const std::exception&) {
        // Out of memory for a new handle: the old one serves the next attempt.
    }
}

// Devices on other threads log too: the line goes out in one write, so two
// failures never share a line and a host reading the log for these lines
// sees each of them whole.
void LogSaveFailure(const char* prefix, const std::exception& e)
{
    std::string line = prefix;
    line += e.what();
    line += '\n';
    std::cout << line << std::flush;
}

}  // namespace

void VELTA36::SaveDoorEvent(velta36_event& event) {
    saveFailed = 0;
    for (int attempt = 1;; ++attempt) {
        try {
            if (!storeConnection)
                storeConnection = std::make_shared<velta36::StoreConnection>(
                    static_cast<odb::sqlite::database&>(*db));
            odb::transaction t(storeConnection->begin());
            db->persist(event);
            t.commit();
            return;
        } catch (const odb::exception& e) {
            LogSaveFailure(velta36::kSaveFailureOdb, e);
        } catch (const std::exception& e) {
            LogSaveFailure(velta36::kSaveFailureStd, e);
        }
        if (attempt == 1)
            DropConnection(*this);
        if (attempt >= velta36::kSaveAttempts) {
            // The caller learns it here: the event is not in the table.
            saveFailed = 1;
            return;
        }
    }
}
