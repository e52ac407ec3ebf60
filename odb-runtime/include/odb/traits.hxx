// object_traits<T>: what the mapping of T declares in access::object_traits.
#ifndef ODB_TRAITS_HXX
#define ODB_TRAITS_HXX

#include <odb/forward.hxx>

namespace odb {

template <typename T>
class object_traits : public access::object_traits<T> {};

template <typename T, database_id DB>
class object_traits_impl : public access::object_traits_impl<T, DB> {};

}  // namespace odb

#endif
