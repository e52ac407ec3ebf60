// Errors that SQLite reports, with its primary and extended result codes.
#ifndef ODB_SQLITE_EXCEPTIONS_HXX
#define ODB_SQLITE_EXCEPTIONS_HXX

#include <string>

#include <odb/exceptions.hxx>

namespace odb {
namespace sqlite {

// Connections of one process share a cache; when one of them rolls back,
// SQLite aborts the statements of the others' transactions as well, and
// their transaction must be rolled back too.
struct forced_rollback : recoverable {
    virtual const char* what() const throw();
    virtual forced_rollback* clone() const;
};

struct database_exception : odb::database_exception {
    database_exception(int error, int extended_error, const std::string& message);
    ~database_exception() throw();

    int error() const { return error_; }
    int extended_error() const { return extended_error_; }
    const std::string& message() const { return message_; }

    // "<error>: <message>", or "<error> (<extended>): <message>" when the
    // codes differ.
    virtual const char* what() const throw();
    virtual database_exception* clone() const;

private:
    int error_;
    int extended_error_;
    std::string message_;
    std::string what_;
};

}  // namespace sqlite
}  // namespace odb

#endif
