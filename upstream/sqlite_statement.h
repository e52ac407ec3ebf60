// A statement prepared for one use, finalised however the call ends, and
// the column reads the upstream's two databases share. Failures throw
// std::runtime_error naming what was being done.
#ifndef VELTA36_UPSTREAM_SQLITE_STATEMENT_H
#define VELTA36_UPSTREAM_SQLITE_STATEMENT_H

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velta36up {

class Statement {
public:
    // `what` begins the message of every failure ("reading events").
    Statement(sqlite3* db, const std::string& sql, std::string what) : db_(db), what_(std::move(what))
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
            fail();
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }
    void bind(int index, const std::string& text)
    {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    // True with a row to read, false when done.
    bool step()
    {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    sqlite3_stmt* get() { return statement_; }

    [[noreturn]] void fail() { throw std::runtime_error(what_ + ": " + sqlite3_errmsg(db_)); }

private:
    sqlite3* db_;
    std::string what_;
    sqlite3_stmt* statement_ = nullptr;
};

// A text column as it is stored (bytes, not up to the first NUL).
inline std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

}  // namespace velta36up

#endif
