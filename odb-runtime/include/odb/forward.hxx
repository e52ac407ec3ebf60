// Forward declarations shared by every part of the runtime.
#ifndef ODB_FORWARD_HXX
#define ODB_FORWARD_HXX

#include <cstddef>

namespace odb {

// The order is part of the interface: generated code registers with id_sqlite.
enum database_id { id_mysql, id_sqlite, id_pgsql, id_oracle, id_mssql, id_common };

class database;
class connection;
class transaction;
class transaction_impl;
class schema_catalog;

// Mapped classes befriend access; the mapping specialises its nested
// templates for them.
class access {
public:
    template <typename T>
    class object_traits;

    template <typename T, database_id DB>
    class object_traits_impl;
};

namespace details {
template <typename T>
class transfer_ptr;
}

}  // namespace odb

#endif
