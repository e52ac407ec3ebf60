// Exceptions of the Boost profile.
#include <odb/boost/date-time/exceptions.hxx>

namespace odb {
namespace boost {

exception::~exception() throw() {}

namespace date_time {

const char* special_value::what() const throw() { return "unrepresentable date/time special value"; }

special_value* special_value::clone() const { return new special_value(*this); }

}  // namespace date_time
}  // namespace boost
}  // namespace odb
