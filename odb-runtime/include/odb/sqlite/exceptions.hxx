// Errors that SQLite reports, with its primary and extended result codes.
#ifndef ODB_SQLITE_EXCEPTIONS_HXX
#define ODB_SQLITE_EXCEPTIONS_HXX

#include <string>

#include <odb/exceptions.hxx>

namespace odb {
namespace sqlite {

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
