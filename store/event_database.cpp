#include "event_database.h"

#include <sqlite3.h>

#include <odb/sqlite/database.hxx>

std::shared_ptr<odb::database> OpenEventDatabase() {
    return std::make_shared<odb::sqlite::database>("ZRMDevice.db", SQLITE_OPEN_READWRITE, true, "");
}

std::shared_ptr<odb::database> ReopenEventDatabase(const odb::database& old) {
    // Every handle a device holds is an SQLite one (OpenEventDatabase).
    const odb::sqlite::database& sqlite = static_cast<const odb::sqlite::database&>(old);
    return std::make_shared<odb::sqlite::database>(sqlite.name(), sqlite.flags(), sqlite.foreign_keys(),
                                                   sqlite.vfs());
}
