// An open SQLite connection.
#include <sqlite3.h>

#include <cstring>
#include <new>

#include <odb/exceptions.hxx>
#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/sqlite/error.hxx>
#include <odb/sqlite/statement.hxx>
#include <odb/sqlite/transaction-impl.hxx>

namespace odb {
namespace sqlite {

connection::connection(database_type& db, int extra_flags) : odb::connection(db), db_(db), handle_(0), unlocked_(false) {
    int flags(db.flags() | extra_flags);
    if (db.name().empty() || db.name() == ":memory:")
        flags |= SQLITE_OPEN_CREATE;
    if ((flags & SQLITE_OPEN_FULLMUTEX) == 0)
        flags |= SQLITE_OPEN_NOMUTEX;

    // No busy handler: another process's lock on the file is reported at
    // once (odb::timeout).
    int r(sqlite3_open_v2(db.name().c_str(), &handle_, flags, db.vfs().empty() ? 0 : db.vfs().c_str()));

    if (r != SQLITE_OK) {
        if (handle_ == 0)
            throw std::bad_alloc();
        try {
            translate_error(r, *this);
        } catch (...) {
            sqlite3_close(handle_);
            handle_ = 0;
            throw;
        }
    }

    try {
        execute(db.foreign_keys() ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF");
    } catch (...) {
        sqlite3_close(handle_);
        handle_ = 0;
        throw;
    }
}

connection::~connection() {
    // sqlite3_close refuses a connection with statements still prepared.
    cache_.clear();
    begin_.reset();
    begin_immediate_.reset();
    begin_exclusive_.reset();
    commit_.reset();
    rollback_.reset();
    if (handle_ != 0)
        sqlite3_close(handle_);
}

connection::database_type& connection::database() { return db_; }

transaction_impl* connection::begin() {
    return new transaction_impl(db_, shared_from_this(), transaction_impl::deferred);
}

transaction_impl* connection::begin_immediate() {
    return new transaction_impl(db_, shared_from_this(), transaction_impl::immediate);
}

transaction_impl* connection::begin_exclusive() {
    return new transaction_impl(db_, shared_from_this(), transaction_impl::exclusive);
}

// SQLite calls this on the thread of the connection that ended the
// blocking transaction, once per waiting connection registered with it.
void unlock_notify(void** connections, int count) {
    for (int i(0); i != count; ++i) {
        connection* c(static_cast<connection*>(connections[i]));
        std::lock_guard<std::mutex> l(c->unlock_mutex_);
        c->unlocked_ = true;
        c->unlock_cond_.notify_one();
    }
}

void connection::wait() {
    {
        std::lock_guard<std::mutex> l(unlock_mutex_);
        unlocked_ = false;
    }
    // SQLITE_LOCKED: the blocking connection is waiting for this one. When
    // the lock is already gone, SQLite calls back at once, from here.
    if (sqlite3_unlock_notify(handle_, &unlock_notify, this) == SQLITE_LOCKED)
        throw deadlock();

    std::unique_lock<std::mutex> l(unlock_mutex_);
    unlock_cond_.wait(l, [this] { return unlocked_; });
}

unsigned long long connection::execute(const char* text, std::size_t length) {
    statement st(*this, text, length);
    return st.execute();
}

statement& connection::kept(std::unique_ptr<statement>& slot, const char* text, std::size_t length) {
    if (slot)
        slot->reset();
    else
        slot.reset(new statement(*this, text, length));
    return *slot;
}

statement& connection::begin_statement() { return kept(begin_, "BEGIN", 5); }

statement& connection::begin_immediate_statement() { return kept(begin_immediate_, "BEGIN IMMEDIATE", 15); }

statement& connection::begin_exclusive_statement() { return kept(begin_exclusive_, "BEGIN EXCLUSIVE", 15); }

statement& connection::commit_statement() { return kept(commit_, "COMMIT", 6); }

statement& connection::rollback_statement() { return kept(rollback_, "ROLLBACK", 8); }

statement& connection::cached_statement(const char* text, std::size_t length) {
    for (std::size_t i(0); i != cache_.size(); ++i) {
        const std::string& t(cache_[i].first);
        if (t.size() == length && std::memcmp(t.data(), text, length) == 0)
            return kept(cache_[i].second, text, length);
    }
    // Prepared before it is added: a text that fails to prepare is not kept.
    std::unique_ptr<statement> st(new statement(*this, text, length));
    cache_.push_back(std::make_pair(std::string(text, length), std::move(st)));
    return *cache_.back().second;
}

}  // namespace sqlite
}  // namespace odb
