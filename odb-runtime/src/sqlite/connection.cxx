// An open SQLite connection.
#include <sqlite3.h>

#include <new>

#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/error.hxx>
#include <odb/sqlite/statement.hxx>

namespace odb {
namespace sqlite {

connection::connection(database_type& db) : odb::connection(db), db_(db), handle_(0) {
    // Exactly the caller's flags: no create, no busy handler, nothing that
    // changes how the file is locked.
    int r(sqlite3_open_v2(db.name().c_str(), &handle_, db.flags(), db.vfs().empty() ? 0 : db.vfs().c_str()));

    if (r != SQLITE_OK) {
        if (handle_ == 0)
            throw std::bad_alloc();
        try {
            translate_error(r, handle_);
        } catch (...) {
            sqlite3_close(handle_);
            handle_ = 0;
            throw;
        }
    }

    try {
        execute(db.foreign_keys() ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF");
    } catch (...) {
        sqlite3_close(handle_);
        handle_ = 0;
        throw;
    }
}

connection::~connection() {
    if (handle_ != 0)
        sqlite3_close(handle_);
}

connection::database_type& connection::database() { return db_; }

unsigned long long connection::execute(const char* text, std::size_t length) {
    statement st(*this, text, length);
    return st.execute();
}

}  // namespace sqlite
}  // namespace odb
