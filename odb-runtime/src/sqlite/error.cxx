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

void translate_error(int result, connection& c) {
    sqlite3* handle(c.handle());
    int extended(sqlite3_extended_errcode(handle));
    std::string message;

    switch (result) {
    case SQLITE_NOMEM:
        throw std::bad_alloc();
    case SQLITE_MISUSE:
        // SQLite may not have recorded anything on the handle for a misuse.
        extended = result;
        message = "SQLite API misuse";
        break;
    case SQLITE_ABORT:
        if (extended == SQLITE_ABORT_ROLLBACK)
            throw forced_rollback();
        break;
    case SQLITE_LOCKED:
        if (extended != SQLITE_LOCKED_SHAREDCACHE)
            throw deadlock();
        throw timeout();
    case SQLITE_BUSY:
        throw timeout();
    case SQLITE_IOERR:
        if (extended == SQLITE_IOERR_BLOCKED)
            throw timeout();
        break;
    default:
        break;
    }

    if (message.empty())
        message = sqlite3_errmsg(handle);
    // SQLite's messages may end with a line feed; what() carries none.
    if (!message.empty() && message[message.size() - 1] == '\n')
        message.erase(message.size() - 1);

    throw database_exception(result, extended, message);
}

}  // namespace sqlite
}  // namespace odb
