#include "event_source.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <stdexcept>

#include "sqlite_statement.h"

namespace velta36up {

namespace {

const char* const kReading = "reading events";
const char* const kColumns =
    "SELECT \"id\", \"data_id\", \"EventTime\", \"ReaderChannel\", \"EventType\", \"CardNo\", \"Reason\" "
    "FROM \"velta36_event\" ";

std::string CurrentFileId(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::string();
    return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino));
}

SourceRow ReadRow(sqlite3_stmt* statement)
{
    SourceRow row;
    row.id = sqlite3_column_int64(statement, 0);
    row.dataId = sqlite3_column_int64(statement, 1);
    if (sqlite3_column_type(statement, 2) != SQLITE_NULL)
        row.eventTime = ColumnText(statement, 2);
    row.channel = sqlite3_column_int64(statement, 3);
    row.type = sqlite3_column_int64(statement, 4);
    row.card = ColumnText(statement, 5);
    row.reason = ColumnText(statement, 6);
    return row;
}

}  // namespace

EventSource::EventSource(std::string path, int busyWaitMs) : path_(std::move(path)), busyWaitMs_(busyWaitMs) {}

EventSource::~EventSource()
{
    close();
}

void EventSource::close()
{
    sqlite3_close(db_);
    db_ = nullptr;
    fileId_.clear();
}

bool EventSource::open()
{
    const std::string current = CurrentFileId(path_);
    if (current.empty()) {
        close();
        return false;
    }
    if (db_ && current == fileId_)
        return true;
    close();
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, busyWaitMs_);
    // Rows are read once, in order: a small cache keeps memory flat
    // whatever the backlog.
    sqlite3_exec(db_, "PRAGMA cache_size=-64", nullptr, nullptr, nullptr);
    fileId_ = current;
    return true;
}

std::optional<SourceRow> EventSource::row(int64_t id)
{
    if (!db_)
        throw std::runtime_error("reading events: the file is not open");
    Statement statement(db_, std::string(kColumns) + "WHERE \"id\" = ?1", kReading);
    statement.bind(1, id);
    if (!statement.step())
        return std::nullopt;
    return ReadRow(statement.get());
}

std::vector<SourceRow> EventSource::after(int64_t id, int limit)
{
    if (!db_)
        throw std::runtime_error("reading events: the file is not open");
    Statement statement(db_, std::string(kColumns) + "WHERE \"id\" > ?1 ORDER BY \"id\" LIMIT ?2", kReading);
    statement.bind(1, id);
    statement.bind(2, static_cast<int64_t>(limit));
    std::vector<SourceRow> rows;
    while (statement.step())
        rows.push_back(ReadRow(statement.get()));
    return rows;
}

std::map<int64_t, int64_t> EventSource::countsByDataId(int64_t upToId)
{
    if (!db_)
        throw std::runtime_error("reading events: the file is not open");
    Statement statement(
        db_, "SELECT \"data_id\", COUNT(*) FROM \"velta36_event\" WHERE \"id\" <= ?1 GROUP BY \"data_id\"", kReading);
    statement.bind(1, upToId);
    std::map<int64_t, int64_t> counts;
    while (statement.step())
        counts[sqlite3_column_int64(statement.get(), 0)] = sqlite3_column_int64(statement.get(), 1);
    return counts;
}

std::string EventSource::Fingerprint(const SourceRow& row)
{
    // Unit separators keep the fields apart whatever they hold.
    return std::to_string(row.dataId) + "\x1f" + (row.eventTime ? *row.eventTime : std::string("\x1e")) + "\x1f" +
           std::to_string(row.channel) + "\x1f" + std::to_string(row.type) + "\x1f" + row.card + "\x1f" + row.reason;
}

}  // namespace velta36up
