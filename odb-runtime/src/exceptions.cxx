// The runtime's exception classes. Their destructors and what() live here,
// so their type information is emitted once, in the runtime.
#include <odb/exceptions.hxx>

namespace odb {

exception::~exception() throw() {}
recoverable::~recoverable() throw() {}
database_exception::~database_exception() throw() {}

#define ODB_SIMPLE_EXCEPTION(type, text)                          \
    const char* type::what() const throw() { return text; }      \
    type* type::clone() const { return new type(*this); }

ODB_SIMPLE_EXCEPTION(null_pointer, "NULL pointer")
ODB_SIMPLE_EXCEPTION(already_in_transaction, "transaction already in progress in this thread")
ODB_SIMPLE_EXCEPTION(not_in_transaction, "operation can only be performed in transaction")
ODB_SIMPLE_EXCEPTION(transaction_already_finalized, "transaction already committed or rolled back")
ODB_SIMPLE_EXCEPTION(already_in_session, "session already in effect in this thread")
ODB_SIMPLE_EXCEPTION(not_in_session, "session not in effect in this thread")
ODB_SIMPLE_EXCEPTION(session_required, "session required to load this object relationship")
ODB_SIMPLE_EXCEPTION(connection_lost, "connection to database lost")
ODB_SIMPLE_EXCEPTION(timeout, "database operation timeout")
ODB_SIMPLE_EXCEPTION(deadlock, "transaction aborted due to deadlock")
ODB_SIMPLE_EXCEPTION(object_not_persistent, "object not persistent")
ODB_SIMPLE_EXCEPTION(object_already_persistent, "object already persistent")
ODB_SIMPLE_EXCEPTION(object_changed, "object changed concurrently")
ODB_SIMPLE_EXCEPTION(result_not_cached, "query result is not cached")

#undef ODB_SIMPLE_EXCEPTION

unknown_schema::unknown_schema(const std::string& name) : name_(name) {
    what_ = "unknown database schema '";
    what_ += name;
    what_ += "'";
}

unknown_schema::~unknown_schema() throw() {}

const char* unknown_schema::what() const throw() { return what_.c_str(); }

unknown_schema* unknown_schema::clone() const { return new unknown_schema(*this); }

}  // namespace odb
