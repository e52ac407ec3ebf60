// odb::sqlite::forced_rollback and odb::sqlite::database_exception.
#include <sstream>

#include <odb/sqlite/exceptions.hxx>

namespace odb {
namespace sqlite {

const char* forced_rollback::what() const throw() { return "transaction is forced to rollback"; }

forced_rollback* forced_rollback::clone() const { return new forced_rollback(*this); }

database_exception::database_exception(int error, int extended_error, const std::string& message)
    : error_(error), extended_error_(extended_error), message_(message) {
    std::ostringstream os;
    os << error_;
    if (error_ != extended_error_)
        os << " (" << extended_error_ << ")";
    os << ": " << message_;
    what_ = os.str();
}

database_exception::~database_exception() throw() {}

const char* database_exception::what() const throw() { return what_.c_str(); }

database_exception* database_exception::clone() const { return new database_exception(*this); }

}  // namespace sqlite
}  // namespace odb
