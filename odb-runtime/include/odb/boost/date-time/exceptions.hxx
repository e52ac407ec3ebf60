// Errors of the Boost date-time profile.
#ifndef ODB_BOOST_DATE_TIME_EXCEPTIONS_HXX
#define ODB_BOOST_DATE_TIME_EXCEPTIONS_HXX

#include <odb/boost/exception.hxx>

namespace odb {
namespace boost {
namespace date_time {

// A special value (infinity) that the column cannot represent.
struct special_value : odb::boost::exception {
    virtual const char* what() const throw();
    virtual special_value* clone() const;
};

}  // namespace date_time
}  // namespace boost
}  // namespace odb

#endif
