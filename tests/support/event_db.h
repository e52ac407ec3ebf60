// The event database as a test sees it: create "ZRMDevice.db" with its
// schema the way a host installation does (through the ODB schema catalog),
// and read the rows of "velta36_event" back with plain SQLite, independent
// of the mapping under test.
//
// Needs the event mapping linked in (velta36_core) or loaded (velta36.so),
// because the schema comes from its catalog registration, and the library
// velta36_test_schema.
#ifndef VELTA36_TESTS_SUPPORT_EVENT_DB_H
#define VELTA36_TESTS_SUPPORT_EVENT_DB_H

#include <sqlite3.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velta36test {

// Creates (or recreates, dropping the old table) the database file with the
// velta36_event table. path is relative to the working directory. Defined
// in event_db.cpp, the one place of the support code that includes ODB's
// headers (which must be compiled as C++14 against the installed runtime),
// in the library velta36_test_schema.
void CreateEventDatabase(const std::string& path = "ZRMDevice.db");

// One row of velta36_event. Every column is optional so that NULL is told
// apart from 0 and "": an empty optional is SQL NULL.
struct EventRow {
    std::optional<long long> id;
    std::optional<long long> data_id;
    std::optional<std::string> EventTime;
    std::optional<long long> ReaderChannel;
    std::optional<long long> EventType;
    std::optional<std::string> CardNo;
    std::optional<std::string> Reason;
};

namespace detail {

inline std::optional<long long> IntegerColumn(sqlite3_stmt* statement, int column)
{
    const int type = sqlite3_column_type(statement, column);
    if (type == SQLITE_NULL)
        return std::nullopt;
    if (type != SQLITE_INTEGER)
        throw std::runtime_error(std::string("column ") + sqlite3_column_name(statement, column) +
                                 " does not hold an integer");
    return static_cast<long long>(sqlite3_column_int64(statement, column));
}

inline std::optional<std::string> TextColumn(sqlite3_stmt* statement, int column)
{
    const int type = sqlite3_column_type(statement, column);
    if (type == SQLITE_NULL)
        return std::nullopt;
    if (type != SQLITE_TEXT)
        throw std::runtime_error(std::string("column ") + sqlite3_column_name(statement, column) +
                                 " does not hold text");
    const unsigned char* text = sqlite3_column_text(statement, column);
    const int bytes = sqlite3_column_bytes(statement, column);
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
}

}  // namespace detail

// All rows of velta36_event in id order. Throws std::runtime_error when the
// file or table is missing, or when a column holds a value of the wrong
// storage class (an integer column holding text, a text column holding an
// integer, ...), so a wrongly bound value cannot pass unnoticed.
inline std::vector<EventRow> ReadEventRows(const std::string& path = "ZRMDevice.db")
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("open " + path + ": " + message);
    }
    sqlite3_stmt* statement = nullptr;
    const char* sql =
        "SELECT id, data_id, EventTime, ReaderChannel, EventType, CardNo, Reason "
        "FROM velta36_event ORDER BY id";
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("select: " + message);
    }
    std::vector<EventRow> rows;
    try {
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            EventRow row;
            row.id = detail::IntegerColumn(statement, 0);
            row.data_id = detail::IntegerColumn(statement, 1);
            row.EventTime = detail::TextColumn(statement, 2);
            row.ReaderChannel = detail::IntegerColumn(statement, 3);
            row.EventType = detail::IntegerColumn(statement, 4);
            row.CardNo = detail::TextColumn(statement, 5);
            row.Reason = detail::TextColumn(statement, 6);
            rows.push_back(row);
        }
        if (step != SQLITE_DONE)
            throw std::runtime_error(std::string("step: ") + sqlite3_errmsg(db));
    } catch (...) {
        sqlite3_finalize(statement);
        sqlite3_close(db);
        throw;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

}  // namespace velta36test

#endif
