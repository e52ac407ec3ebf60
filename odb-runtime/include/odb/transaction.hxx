// odb::transaction: one database transaction, at most one current per thread.
#ifndef ODB_TRANSACTION_HXX
#define ODB_TRANSACTION_HXX

#include <memory>

#include <odb/forward.hxx>

namespace odb {

class transaction {
public:
    typedef odb::database database_type;
    typedef odb::connection connection_type;

    // Takes ownership of impl. Throws already_in_transaction when make_current
    // is set and the thread already has a current transaction.
    explicit transaction(transaction_impl* impl, bool make_current = true);

    // Rolls an unfinished transaction back; errors are swallowed.
    ~transaction();

    database_type& database();
    connection_type& connection();
    transaction_impl& implementation();

    void commit();
    void rollback();

    static bool has_current();
    static transaction& current();
    static void current(transaction&);
    static bool reset_current();

private:
    transaction(const transaction&);
    transaction& operator=(const transaction&);

    bool finalized_;
    std::unique_ptr<transaction_impl> impl_;
};

class transaction_impl {
public:
    typedef odb::database database_type;
    typedef odb::connection connection_type;

    virtual ~transaction_impl();

    virtual void commit() = 0;
    virtual void rollback() = 0;

    database_type& database() { return database_; }
    connection_type& connection() { return *connection_; }

protected:
    transaction_impl(database_type& db, connection_type* c = 0) : database_(db), connection_(c) {}

    database_type& database_;
    connection_type* connection_;
};

}  // namespace odb

#endif
