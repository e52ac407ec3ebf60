// Turns a failed SQLite result into the runtime's exception.
#ifndef ODB_SQLITE_ERROR_HXX
#define ODB_SQLITE_ERROR_HXX

#include <odb/sqlite/forward.hxx>

namespace odb {
namespace sqlite {

// result is what a call on c returned; the extended code and the message
// are read from c's handle. SQLITE_NOMEM throws std::bad_alloc,
// SQLITE_BUSY throws timeout, and so does SQLITE_IOERR when the handle's
// extended code is SQLITE_IOERR_BLOCKED. SQLITE_LOCKED throws deadlock, or
// timeout for a table lock of the shared cache (statements wait those out
// before they get here). SQLITE_ABORT after the shared cache rolled the
// transaction back throws forced_rollback. Anything else throws
// database_exception(result, extended code, message). Never returns.
[[noreturn]] void translate_error(int result, connection& c);

}  // namespace sqlite
}  // namespace odb

#endif
