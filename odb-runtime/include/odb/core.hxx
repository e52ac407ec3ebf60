// What a persistent class needs: the access class it befriends. The
// "#pragma db" lines are read only by the odb compiler; a C++ compiler sees
// them as unknown pragmas.
#ifndef ODB_CORE_HXX
#define ODB_CORE_HXX

#ifdef ODB_COMPILER
#define PRAGMA_DB_IMPL(x) _Pragma(#x)
#define PRAGMA_DB(x) PRAGMA_DB_IMPL(db x)
#else
#define PRAGMA_DB(x)
#endif

#include <odb/version.hxx>
#include <odb/forward.hxx>
#include <odb/traits.hxx>

#endif
