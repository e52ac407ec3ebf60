#include "bench_store.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace velta36bench {

velta36_event SampleEvent()
{
    velta36_event event;
    event.data_id = 7;
    event.EventTime = boost::posix_time::ptime(boost::gregorian::date(2024, 3, 5),
                                               boost::posix_time::time_duration(14, 7, 0));
    event.ReaderChannel = 1;
    event.EventType = 1;
    event.CardNo = "00001234";
    event.Reason = "刷卡进门成功";
    return event;
}

RawStore::RawStore()
{
    try {
        Check(sqlite3_open_v2("ZRMDevice.db", &db_, SQLITE_OPEN_READWRITE, nullptr), "open");
        Check(sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr), "pragma");
        Prepare("BEGIN", &begin_);
        Prepare("COMMIT", &commit_);
        Prepare("INSERT INTO \"velta36_event\" (\"id\", \"data_id\", \"EventTime\", \"ReaderChannel\", "
                "\"EventType\", \"CardNo\", \"Reason\") VALUES (?, ?, ?, ?, ?, ?, ?)",
                &insert_);
    } catch (...) {
        Close();
        throw;
    }
}

RawStore::~RawStore()
{
    Close();
}

void RawStore::Close()
{
    sqlite3_finalize(begin_);
    sqlite3_finalize(commit_);
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    begin_ = commit_ = insert_ = nullptr;
    db_ = nullptr;
}

sqlite3_int64 RawStore::Save(const velta36_event& event)
{
    Step(begin_, "BEGIN");
    // The same text the mapping stores: date and time, no fraction.
    const boost::gregorian::date day = event.EventTime.date();
    const boost::posix_time::time_duration time = event.EventTime.time_of_day();
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                                     static_cast<int>(day.year()), static_cast<int>(day.month()),
                                     static_cast<int>(day.day()), static_cast<int>(time.hours()),
                                     static_cast<int>(time.minutes()), static_cast<int>(time.seconds()));
    sqlite3_bind_null(insert_, 1);
    sqlite3_bind_int64(insert_, 2, event.data_id);
    sqlite3_bind_text(insert_, 3, text, length, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert_, 4, event.ReaderChannel);
    sqlite3_bind_int64(insert_, 5, event.EventType);
    sqlite3_bind_text(insert_, 6, event.CardNo.data(), static_cast<int>(event.CardNo.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert_, 7, event.Reason.data(), static_cast<int>(event.Reason.size()), SQLITE_STATIC);
    try {
        Step(insert_, "INSERT");
        Step(commit_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return sqlite3_last_insert_rowid(db_);
}

void RawStore::Check(int rc, const char* what)
{
    if (rc != SQLITE_OK)
        throw std::runtime_error(std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory"));
}

void RawStore::Prepare(const char* sql, sqlite3_stmt** statement)
{
    Check(sqlite3_prepare_v2(db_, sql, -1, statement, nullptr), sql);
}

void RawStore::Step(sqlite3_stmt* statement, const char* what)
{
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db_));
}

}  // namespace velta36bench
