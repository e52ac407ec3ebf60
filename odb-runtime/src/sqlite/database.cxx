// odb::sqlite::database.
#include <odb/sqlite/database.hxx>

namespace odb {
namespace sqlite {

database::database(const std::string& name, int flags, bool foreign_keys, const std::string& vfs,
                   details::transfer_ptr<connection_factory> factory)
    : odb::database(id_sqlite), name_(name), flags_(flags), foreign_keys_(foreign_keys), vfs_(vfs),
      factory_(factory.transfer()) {
    if (!factory_)
        factory_.reset(new connection_pool_factory());
    factory_->database(*this);
}

database::~database() {}

connection_ptr database::connection() { return factory_->connect(); }

transaction_impl* database::begin() { return connection()->begin(); }

transaction_impl* database::begin_immediate() { return connection()->begin_immediate(); }

transaction_impl* database::begin_exclusive() { return connection()->begin_exclusive(); }

}  // namespace sqlite
}  // namespace odb
