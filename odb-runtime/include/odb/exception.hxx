// The root of the runtime's exceptions.
#ifndef ODB_EXCEPTION_HXX
#define ODB_EXCEPTION_HXX

#include <exception>

namespace odb {

struct exception : std::exception {
    // Defined in the runtime so that the type information of the hierarchy
    // lives there and plug-ins catch the very types the runtime throws.
    virtual ~exception() throw();

    virtual const char* what() const throw() = 0;
    virtual exception* clone() const = 0;
};

}  // namespace odb

#endif
