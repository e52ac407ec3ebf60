// One open SQLite connection.
#ifndef ODB_SQLITE_CONNECTION_HXX
#define ODB_SQLITE_CONNECTION_HXX

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <odb/connection.hxx>
#include <odb/sqlite/forward.hxx>
#include <odb/sqlite/statement.hxx>

struct sqlite3;

namespace odb {
namespace sqlite {

class connection : public odb::connection, public std::enable_shared_from_this<connection> {
public:
    typedef sqlite::database database_type;

    // Opens the database file with the database's flags and VFS, plus
    // extra_flags (the pool's shared cache), and sets its foreign-key
    // enforcement. A connection serves one thread at a time, so SQLite's own
    // locking of the handle is left out (SQLITE_OPEN_NOMUTEX) unless the
    // flags ask for SQLITE_OPEN_FULLMUTEX; a temporary or in-memory database
    // ("" or ":memory:") is always created. Throws on failure.
    explicit connection(database_type& db, int extra_flags = 0);

    // Finalizes the kept statements, then closes the file.
    ~connection();

    database_type& database();
    sqlite3* handle() { return handle_; }

    // A new transaction on this connection ("BEGIN", "BEGIN IMMEDIATE",
    // "BEGIN EXCLUSIVE"); it keeps the connection for as long as it lives.
    // The connection must be held by a connection_ptr.
    virtual transaction_impl* begin();
    transaction_impl* begin_immediate();
    transaction_impl* begin_exclusive();

    // Blocks until the connection of this process's shared cache that
    // holds the table lock this connection just met has finished its
    // transaction (SQLite's unlock notification). Throws deadlock when that
    // connection is itself waiting for this one.
    void wait();

    // Prepares the text anew on every call: any statement, DDL included.
    using odb::connection::execute;
    virtual unsigned long long execute(const char* statement, std::size_t length);

    // Statements kept prepared for as long as the connection is open. Each
    // is prepared at its first use and handed out reset, with no parameter
    // bound. SQLite prepares a kept statement again by itself when the
    // schema has changed under it.
    sqlite::statement& begin_statement();
    sqlite::statement& begin_immediate_statement();
    sqlite::statement& begin_exclusive_statement();
    sqlite::statement& commit_statement();
    sqlite::statement& rollback_statement();

    // The kept statement of this text (mapping code's statements, whose
    // number is fixed). The caller must leave it reset when it is done, so
    // that no unfinished query holds a lock on the file.
    sqlite::statement& cached_statement(const char* text, std::size_t length);

private:
    sqlite::statement& kept(std::unique_ptr<sqlite::statement>& slot, const char* text, std::size_t length);

    database_type& db_;
    sqlite3* handle_;

    std::mutex unlock_mutex_;
    std::condition_variable unlock_cond_;
    bool unlocked_;
    friend void unlock_notify(void** connections, int count);

    std::unique_ptr<sqlite::statement> begin_;
    std::unique_ptr<sqlite::statement> begin_immediate_;
    std::unique_ptr<sqlite::statement> begin_exclusive_;
    std::unique_ptr<sqlite::statement> commit_;
    std::unique_ptr<sqlite::statement> rollback_;
    std::vector<std::pair<std::string, std::unique_ptr<sqlite::statement> > > cache_;
};

}  // namespace sqlite
}  // namespace odb

#endif
