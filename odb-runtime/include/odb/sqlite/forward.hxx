// Forward declarations of the SQLite back end.
#ifndef ODB_SQLITE_FORWARD_HXX
#define ODB_SQLITE_FORWARD_HXX

#include <memory>

#include <odb/forward.hxx>

namespace odb {
namespace sqlite {

class database;
class connection;
class connection_factory;
class transaction_impl;
class statement;

typedef std::shared_ptr<connection> connection_ptr;

}  // namespace sqlite
}  // namespace odb

#endif
