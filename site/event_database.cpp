#include "event_database.h"

#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>
#include <odb/transaction.hxx>

#include "control_request.h"

namespace velta36site {

namespace {

const char* const kTable = "velta36_event";
const char* const kColumns = "SELECT \"id\", \"data_id\", \"EventTime\", \"ReaderChannel\", \"EventType\", "
                             "\"CardNo\", \"Reason\" FROM \"velta36_event\"";

bool FileExists(const std::string& file)
{
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

bool TableExists(sqlite3* db)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?", -1, &statement,
                           nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("cannot inspect the database: ") + sqlite3_errmsg(db));
    sqlite3_bind_text(statement, 1, kTable, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

// A file the tool creates gets a write-ahead log: with many controllers
// storing on one disk, a commit then waits for one sync of the log instead
// of the journal's several, and readers no longer block the plug-in's
// saves. The journal mode belongs to the file, so an installation's own
// file keeps whatever mode it has. Connections keep SQLite's default
// synchronous=FULL, under which a commit in WAL mode is on the disk before
// it returns: an event acknowledged to the controller survives a power
// cut. Where the log cannot be used (a file system without shared memory)
// the file stays in the rollback journal's mode, which is as safe.
void UseWriteAheadLog(sqlite3* db)
{
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
}

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

}  // namespace

DatabaseSetup EnsureEventDatabase(const std::string& file)
{
    const bool existed = FileExists(file);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot open " + file + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
    sqlite3_busy_timeout(raw, 2000);
    if (!existed)
        UseWriteAheadLog(raw);
    if (TableExists(raw))
        return DatabaseSetup::Existing;
    db.reset();

    // Same route as a host installation: the catalog runs the creation
    // routine the plug-in registered, inside one transaction, without
    // dropping anything.
    odb::sqlite::database handle(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    odb::transaction t(handle.begin());
    odb::schema_catalog::create_schema(handle, "", false);
    t.commit();
    return existed ? DatabaseSetup::CreatedTable : DatabaseSetup::CreatedFile;
}

EventReader::EventReader(const std::string& file, int busyWaitMs)
{
    if (!FileExists(file))
        throw std::runtime_error("no event database " + file + " here (run the host first, or pass --dir)");
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open " + file + ": " + why);
    }
    busyWaitMs_ = busyWaitMs;
    sqlite3_busy_handler(db_, &EventReader::WaitForWriter, this);
}

// Tries again every millisecond rather than on SQLite's growing sleeps: a
// reader that follows the table waits out a commit, not a backlog of them.
int EventReader::WaitForWriter(void* self, int tries)
{
    const EventReader& reader = *static_cast<const EventReader*>(self);
    if (tries >= reader.busyWaitMs_)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

EventReader::~EventReader()
{
    sqlite3_close(db_);
}

int64_t EventReader::number(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("cannot read events: ") + sqlite3_errmsg(db_));
    // A statement prepared before the table was dropped fails only here.
    const bool read = sqlite3_step(statement) == SQLITE_ROW;
    const int64_t n = read ? sqlite3_column_int64(statement, 0) : 0;
    const std::string why = read ? "" : sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    if (!read)
        throw std::runtime_error("cannot read events: " + why);
    return n;
}

int64_t EventReader::count()
{
    return number("SELECT COUNT(*) FROM \"velta36_event\"");
}

int64_t EventReader::maxId()
{
    return number("SELECT COALESCE(MAX(\"id\"), 0) FROM \"velta36_event\"");
}

int64_t EventReader::dataVersion()
{
    return number("PRAGMA data_version");
}

std::vector<StoredEvent> EventReader::after(int64_t id)
{
    return query(std::string(kColumns) + " WHERE \"id\" > ?1 ORDER BY \"id\"", {}, {id});
}

std::optional<StoredEvent> EventReader::row(int64_t id)
{
    const std::vector<StoredEvent> rows = query(std::string(kColumns) + " WHERE \"id\" = ?1", {}, {id});
    if (rows.empty())
        return std::nullopt;
    return rows.front();
}

std::vector<StoredEvent> EventReader::newest(const EventFilter& filter)
{
    std::string sql = std::string(kColumns) + " WHERE 1";
    std::vector<std::string> texts;
    if (filter.since) {
        texts.push_back(*filter.since);
        sql += " AND \"EventTime\" >= ?" + std::to_string(texts.size());
    }
    if (filter.until) {
        texts.push_back(*filter.until);
        sql += " AND \"EventTime\" <= ?" + std::to_string(texts.size());
    }
    if (filter.cardNo) {
        texts.push_back(*filter.cardNo);
        sql += " AND \"CardNo\" = ?" + std::to_string(texts.size());
    }
    std::vector<int64_t> numbers;
    auto anyOf = [&sql, &texts, &numbers](const char* column, const std::vector<int64_t>& values) {
        if (values.empty())
            return;
        sql += std::string(" AND \"") + column + "\" IN (";
        for (std::size_t i = 0; i < values.size(); ++i) {
            numbers.push_back(values[i]);
            sql += (i > 0 ? ", ?" : "?") + std::to_string(texts.size() + numbers.size());
        }
        sql += ")";
    };
    anyOf("ReaderChannel", filter.channels);
    anyOf("EventType", filter.types);
    anyOf("data_id", filter.dataIds);
    numbers.push_back(filter.limit);
    // Events of one batch share a minute; the id keeps their order.
    sql += " ORDER BY \"EventTime\" IS NULL, \"EventTime\" DESC, \"id\" DESC LIMIT ?" +
           std::to_string(texts.size() + numbers.size());
    return query(sql, texts, numbers);
}

std::vector<StoredEvent> EventReader::query(const std::string& sql, const std::vector<std::string>& texts,
                                            const std::vector<int64_t>& numbers)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("cannot read events: ") + sqlite3_errmsg(db_));
    int index = 1;
    for (const std::string& text : texts)
        sqlite3_bind_text(statement, index++, text.c_str(), -1, SQLITE_TRANSIENT);
    for (int64_t number : numbers)
        sqlite3_bind_int64(statement, index++, number);
    std::vector<StoredEvent> rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        StoredEvent row;
        row.id = sqlite3_column_int64(statement, 0);
        row.dataId = sqlite3_column_int64(statement, 1);
        if (sqlite3_column_type(statement, 2) != SQLITE_NULL)
            row.eventTime = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
        row.readerChannel = sqlite3_column_int64(statement, 3);
        row.eventType = sqlite3_column_int64(statement, 4);
        const unsigned char* card = sqlite3_column_text(statement, 5);
        const unsigned char* reason = sqlite3_column_text(statement, 6);
        row.cardNo = card ? reinterpret_cast<const char*>(card) : "";
        row.reason = reason ? reinterpret_cast<const char*>(reason) : "";
        rows.push_back(row);
    }
    const bool failed = rc != SQLITE_DONE;
    const std::string why = failed ? sqlite3_errmsg(db_) : "";
    sqlite3_finalize(statement);
    if (failed)
        throw std::runtime_error("cannot read events: " + why);
    return rows;
}

std::optional<std::string> NormaliseTime(const std::string& text)
{
    std::string date = text.substr(0, 10);
    if (!IsCalendarDate(date))
        return std::nullopt;
    if (text.size() == 10)
        return date + " 00:00:00";
    if (text.size() != 16 && text.size() != 19)
        return std::nullopt;
    if (text[10] != ' ' && text[10] != 'T')
        return std::nullopt;
    auto two = [&text](std::size_t at, int max, int& out) {
        if (!std::isdigit(static_cast<unsigned char>(text[at])) ||
            !std::isdigit(static_cast<unsigned char>(text[at + 1])))
            return false;
        out = (text[at] - '0') * 10 + (text[at + 1] - '0');
        return out <= max;
    };
    int hour = 0, minute = 0, second = 0;
    if (!two(11, 23, hour) || text[13] != ':' || !two(14, 59, minute))
        return std::nullopt;
    if (text.size() == 19 && (text[16] != ':' || !two(17, 59, second)))
        return std::nullopt;
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%s %02d:%02d:%02d", date.c_str(), hour, minute, second);
    return std::string(buffer);
}

std::optional<std::string> NormaliseUntil(const std::string& text)
{
    std::optional<std::string> time = NormaliseTime(text);
    if (time && text.size() == 10)
        time->replace(11, 8, "23:59:59");
    else if (time && text.size() == 16)
        time->replace(17, 2, "59");
    return time;
}

}  // namespace velta36site
