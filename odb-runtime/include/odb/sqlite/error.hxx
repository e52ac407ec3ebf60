// Turns a failed SQLite result into the runtime's exception.
#ifndef ODB_SQLITE_ERROR_HXX
#define ODB_SQLITE_ERROR_HXX

#include <odb/sqlite/forward.hxx>

struct sqlite3;

namespace odb {
namespace sqlite {

// SQLITE_BUSY and SQLITE_IOERR_BLOCKED throw timeout, SQLITE_LOCKED throws
// deadlock, SQLITE_NOMEM throws std::bad_alloc, anything else throws
// database_exception with the connection's message. Never returns.
[[noreturn]] void translate_error(int result, sqlite3* handle);
[[noreturn]] void translate_error(int result, connection& c);

}  // namespace sqlite
}  // namespace odb

#endif
