// Prepared statements.
#include <sqlite3.h>

#include <climits>

#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/error.hxx>
#include <odb/sqlite/statement.hxx>

namespace odb {
namespace sqlite {

statement::statement(sqlite::connection& c, const char* text, std::size_t length) : connection_(c), stmt_(0) {
    int n(length > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(length));
    int r;
    while ((r = sqlite3_prepare_v2(c.handle(), text, n, &stmt_, 0)) == SQLITE_LOCKED)
        c.wait();
    if (r != SQLITE_OK)
        translate_error(r, c);
}

statement::~statement() { sqlite3_finalize(stmt_); }

void statement::reset() {
    if (stmt_ == 0)
        return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int statement::step() {
    int r;
    // Only the first step of a run can meet a table lock.
    while ((r = sqlite3_step(stmt_)) == SQLITE_LOCKED) {
        if (sqlite3_extended_errcode(connection_.handle()) != SQLITE_LOCKED_SHAREDCACHE)
            break;
        sqlite3_reset(stmt_);
        connection_.wait();
    }
    return r;
}

void statement::fail(int result) {
    // The exception takes the connection's error code and message while
    // they still describe the failed step; resetting comes after.
    try {
        translate_error(result, connection_);
    } catch (...) {
        sqlite3_reset(stmt_);
        throw;
    }
}

void statement::bind_null(int parameter) {
    int r(sqlite3_bind_null(stmt_, parameter));
    if (r != SQLITE_OK)
        translate_error(r, connection_);
}

void statement::bind_integer(int parameter, long long value) {
    int r(sqlite3_bind_int64(stmt_, parameter, static_cast<sqlite3_int64>(value)));
    if (r != SQLITE_OK)
        translate_error(r, connection_);
}

void statement::bind_text(int parameter, const std::string& value) {
    // An empty string is bound as an empty text, never as NULL.
    int r(sqlite3_bind_text(stmt_, parameter, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
    if (r != SQLITE_OK)
        translate_error(r, connection_);
}

unsigned long long statement::execute() {
    if (stmt_ == 0)  // an empty statement text
        return 0;

    unsigned long long rows(0);
    int r;
    for (r = step(); r == SQLITE_ROW; r = sqlite3_step(stmt_))
        ++rows;

    if (r != SQLITE_DONE)
        fail(r);

    bool query(sqlite3_column_count(stmt_) != 0);
    sqlite3_reset(stmt_);
    return query ? rows : static_cast<unsigned long long>(sqlite3_changes(connection_.handle()));
}

bool statement::insert(bool id_assigned) {
    int r(step());
    if (r == SQLITE_DONE) {
        sqlite3_reset(stmt_);
        return true;
    }

    if (!id_assigned && r == SQLITE_CONSTRAINT) {
        sqlite3_reset(stmt_);
        return false;
    }
    fail(r);
}

long long statement::last_insert_id() const {
    return static_cast<long long>(sqlite3_last_insert_rowid(connection_.handle()));
}

bool statement::next() {
    int r(step());
    if (r == SQLITE_ROW)
        return true;
    if (r != SQLITE_DONE)
        fail(r);
    sqlite3_reset(stmt_);
    return false;
}

bool statement::column_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

long long statement::column_integer(int column) const {
    return static_cast<long long>(sqlite3_column_int64(stmt_, column));
}

std::string statement::column_text(int column) const {
    const unsigned char* text(sqlite3_column_text(stmt_, column));
    int n(sqlite3_column_bytes(stmt_, column));
    return text != 0 ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n)) : std::string();
}

}  // namespace sqlite
}  // namespace odb
