#include "event_database.h"

#include <sqlite3.h>

#include <odb/sqlite/database.hxx>

std::shared_ptr<odb::database> OpenEventDatabase() {
    return std::make_shared<odb::sqlite::database>("ZRMDevice.db", SQLITE_OPEN_READWRITE, true, "");
}
