// The root of the Boost profile's exceptions.
#ifndef ODB_BOOST_EXCEPTION_HXX
#define ODB_BOOST_EXCEPTION_HXX

#include <odb/exceptions.hxx>

namespace odb {
namespace boost {

struct exception : odb::exception {
    virtual ~exception() throw();
};

}  // namespace boost
}  // namespace odb

#endif
