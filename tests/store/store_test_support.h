// Helpers of the event-store tests: the database file created the way an
// installation creates it (through the schema catalog), rows read back with
// plain SQLite independent of the mapping, and captured standard output.
#ifndef VELTA36_TESTS_STORE_STORE_TEST_SUPPORT_H
#define VELTA36_TESTS_STORE_STORE_TEST_SUPPORT_H

#include <sqlite3.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional.hpp>
#include <boost/optional/optional_io.hpp>
#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "velta36_event.hxx"

namespace storetest {

constexpr const char* kDatabaseFile = "ZRMDevice.db";

// A column's text, or none for SQL NULL. (These tests include ODB's headers
// and so compile as C++14: no std::optional.)
typedef boost::optional<std::string> Text;

// Creates the file (if needed) and (re)creates the velta36_event table.
inline void CreateEventDatabase(const std::string& path = kDatabaseFile) {
    odb::sqlite::database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    odb::transaction t(db.begin());
    odb::schema_catalog::create_schema(db, "", true);
    t.commit();
}

// Creates the file with no tables in it.
inline void CreateEmptyDatabase(const std::string& path = kDatabaseFile) {
    odb::sqlite::database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    odb::transaction t(db.begin());
    db.execute("CREATE TABLE unrelated (x INTEGER)");
    t.commit();
}

// A plain SQLite connection, for reading back and for holding locks.
class RawConnection {
public:
    explicit RawConnection(const std::string& path = kDatabaseFile, int flags = SQLITE_OPEN_READWRITE) {
        if (sqlite3_open_v2(path.c_str(), &handle_, flags, nullptr) != SQLITE_OK) {
            std::string message = sqlite3_errmsg(handle_);
            sqlite3_close(handle_);
            throw std::runtime_error("open " + path + ": " + message);
        }
    }
    ~RawConnection() { sqlite3_close(handle_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error(sql + ": " + message);
        }
    }

    // Every row of the first query result, each column as text; NULL is an
    // empty optional.
    std::vector<std::vector<Text>> query(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(handle_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(handle_));
        std::vector<std::vector<Text>> rows;
        int r;
        while ((r = sqlite3_step(st)) == SQLITE_ROW) {
            std::vector<Text> row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    const unsigned char* text = sqlite3_column_text(st, c);
                    row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                                 static_cast<std::size_t>(sqlite3_column_bytes(st, c))));
                }
            }
            rows.push_back(row);
        }
        sqlite3_finalize(st);
        if (r != SQLITE_DONE)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(handle_));
        return rows;
    }

    long long count(const std::string& table = "velta36_event") {
        return std::stoll(*query("SELECT count(*) FROM \"" + table + "\"").at(0).at(0));
    }

    sqlite3* handle() { return handle_; }

private:
    sqlite3* handle_ = nullptr;
};

// One stored row: the values and the SQLite storage class of each column.
struct StoredEvent {
    long long id = 0;
    long long data_id = 0;
    Text EventTime;
    long long ReaderChannel = 0;
    long long EventType = 0;
    Text CardNo;
    Text Reason;
    std::string types;  // typeof() of the seven columns, joined by ','
};

inline std::vector<StoredEvent> ReadEvents(const std::string& path = kDatabaseFile) {
    RawConnection c(path);
    std::vector<StoredEvent> events;
    for (const auto& row : c.query("SELECT id, data_id, EventTime, ReaderChannel, EventType, CardNo, Reason, "
                                   "typeof(id)||','||typeof(data_id)||','||typeof(EventTime)||','||"
                                   "typeof(ReaderChannel)||','||typeof(EventType)||','||typeof(CardNo)||','||"
                                   "typeof(Reason) FROM velta36_event ORDER BY id")) {
        StoredEvent e;
        e.id = std::stoll(*row[0]);
        e.data_id = std::stoll(*row[1]);
        e.EventTime = row[2];
        e.ReaderChannel = std::stoll(*row[3]);
        e.EventType = std::stoll(*row[4]);
        e.CardNo = row[5];
        e.Reason = row[6];
        e.types = *row[7];
        events.push_back(e);
    }
    return events;
}

inline velta36_event MakeEvent(const std::string& time = "2024-03-05 07:08:09", unsigned int dataId = 17,
                               const std::string& card = "00012345", const std::string& reason = "刷卡进门成功") {
    velta36_event e;
    e.data_id = dataId;
    e.EventTime = boost::posix_time::time_from_string(time);
    e.ReaderChannel = 2;
    e.EventType = 1;
    e.CardNo = card;
    e.Reason = reason;
    return e;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

}  // namespace storetest

#endif
