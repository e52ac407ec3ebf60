// Mapping of SQLite result codes to the runtime's exceptions.
#include <sqlite3.h>

#include <new>
#include <string>

#include <odb/exceptions.hxx>
#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/error.hxx>
#include <odb/sqlite/exceptions.hxx>

namespace odb {
namespace sqlite {

void translate_error(int result, sqlite3* handle) {
    int primary(result & 0xff);
    int extended(handle != 0 ? sqlite3_extended_errcode(handle) : result);

    switch (primary) {
    case SQLITE_NOMEM:
        throw std::bad_alloc();
    case SQLITE_BUSY:
        throw timeout();
    case SQLITE_IOERR:
        if (extended == SQLITE_IOERR_BLOCKED)
            throw timeout();
        break;
    case SQLITE_LOCKED:
        throw deadlock();
    default:
        break;
    }

    std::string message(handle != 0 ? sqlite3_errmsg(handle) : sqlite3_errstr(result));
    // SQLite's messages may end with a line feed; what() carries none.
    while (!message.empty() && message[message.size() - 1] == '\n')
        message.erase(message.size() - 1);

    throw database_exception(primary, extended, message);
}

void translate_error(int result, connection& c) { translate_error(result, c.handle()); }

}  // namespace sqlite
}  // namespace odb
