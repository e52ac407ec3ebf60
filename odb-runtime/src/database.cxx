// odb::database and odb::connection: what does not depend on the back end.
#include <cstring>

#include <odb/connection.hxx>
#include <odb/database.hxx>
#include <odb/transaction.hxx>

namespace odb {

database::~database() {}

unsigned long long database::execute(const char* statement) {
    return execute(statement, std::strlen(statement));
}

unsigned long long database::execute(const std::string& statement) {
    return execute(statement.c_str(), statement.size());
}

// Runs on the connection of the thread's current transaction; current()
// throws not_in_transaction when there is none.
unsigned long long database::execute(const char* statement, std::size_t length) {
    return transaction::current().connection().execute(statement, length);
}

connection::~connection() {}

unsigned long long connection::execute(const char* statement) {
    return execute(statement, std::strlen(statement));
}

unsigned long long connection::execute(const std::string& statement) {
    return execute(statement.c_str(), statement.size());
}

}  // namespace odb
