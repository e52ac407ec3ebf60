// odb::transaction and the thread's current transaction.
#include <odb/exceptions.hxx>
#include <odb/transaction.hxx>

namespace odb {

namespace {
thread_local transaction* current_transaction = 0;
}

transaction::transaction(transaction_impl* impl, bool make_current) : finalized_(false), impl_(impl) {
    // impl_ already owns the implementation: should we refuse, it is
    // destroyed with us and rolls its BEGIN back.
    if (make_current) {
        if (current_transaction != 0)
            throw already_in_transaction();
        current_transaction = this;
    }
}

transaction::~transaction() {
    if (!finalized_) {
        try {
            rollback();
        } catch (...) {
        }
    }
    if (current_transaction == this)
        current_transaction = 0;
}

transaction::database_type& transaction::database() { return impl_->database(); }

transaction::connection_type& transaction::connection() { return impl_->connection(); }

transaction_impl& transaction::implementation() { return *impl_; }

void transaction::commit() {
    if (finalized_)
        throw transaction_already_finalized();
    finalized_ = true;
    if (current_transaction == this)
        current_transaction = 0;
    impl_->commit();
}

void transaction::rollback() {
    if (finalized_)
        throw transaction_already_finalized();
    finalized_ = true;
    if (current_transaction == this)
        current_transaction = 0;
    impl_->rollback();
}

bool transaction::has_current() { return current_transaction != 0; }

transaction& transaction::current() {
    if (current_transaction == 0)
        throw not_in_transaction();
    return *current_transaction;
}

void transaction::current(transaction& t) { current_transaction = &t; }

bool transaction::reset_current() {
    bool had(current_transaction != 0);
    current_transaction = 0;
    return had;
}

transaction_impl::~transaction_impl() {}

}  // namespace odb
