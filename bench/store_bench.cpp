// Time per stored door event: VELTA36::SaveDoorEvent against a plain SQLite
// program doing the same work on the same file: a prepared INSERT of the
// same row, each in its own BEGIN and COMMIT, with the same open flags and
// the same connection settings (foreign keys on, default journal mode).
//
// The database lives in a fresh directory under $TMPDIR (default /tmp), so
//   TMPDIR=/dev/shm velta36-bench-store
// compares the two on a RAM-backed file system, where no fsync hides the
// CPU cost. Use --benchmark_repetitions and
// --benchmark_enable_random_interleaving so that both are measured side by
// side under the same load; the ratio of the medians is printed at the end.
#include <sqlite3.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "bench_report.h"
#include "event_db.h"
#include "temp_work_dir.h"
#include "velta36.h"
#include "velta36_event.hxx"

namespace {

// A granted entry swipe as the decoder produces it.
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

void BM_SaveDoorEvent(benchmark::State& state)
{
    VELTA36 device;
    velta36_event event = SampleEvent();
    unsigned int previous = 0;
    for (auto _ : state) {
        event.id = 0;
        device.SaveDoorEvent(event);
        // SaveDoorEvent reports failure only on standard output; a save that
        // did not produce a new row would make the figure meaningless.
        if (event.id == 0 || event.id == previous) {
            state.SkipWithError("SaveDoorEvent stored no row");
            break;
        }
        previous = event.id;
    }
    state.SetItemsProcessed(state.iterations());
}

class RawStore {
public:
    RawStore()
    {
        Check(sqlite3_open_v2("ZRMDevice.db", &db_, SQLITE_OPEN_READWRITE, nullptr), "open");
        Check(sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr), "pragma");
        Prepare("BEGIN", &begin_);
        Prepare("COMMIT", &commit_);
        Prepare("INSERT INTO \"velta36_event\" (\"id\", \"data_id\", \"EventTime\", \"ReaderChannel\", "
                "\"EventType\", \"CardNo\", \"Reason\") VALUES (?, ?, ?, ?, ?, ?, ?)",
                &insert_);
    }
    ~RawStore()
    {
        sqlite3_finalize(begin_);
        sqlite3_finalize(commit_);
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    RawStore(const RawStore&) = delete;
    RawStore& operator=(const RawStore&) = delete;

    // One row in its own transaction; returns its identifier.
    sqlite3_int64 Save(const velta36_event& event)
    {
        Step(begin_, "BEGIN");
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
        Step(insert_, "INSERT");
        Step(commit_, "COMMIT");
        return sqlite3_last_insert_rowid(db_);
    }

private:
    void Check(int rc, const char* what)
    {
        if (rc != SQLITE_OK)
            throw std::runtime_error(std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory"));
    }
    void Prepare(const char* sql, sqlite3_stmt** statement)
    {
        Check(sqlite3_prepare_v2(db_, sql, -1, statement, nullptr), sql);
    }
    void Step(sqlite3_stmt* statement, const char* what)
    {
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (rc != SQLITE_DONE)
            throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db_));
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

void BM_RawSqliteInsert(benchmark::State& state)
{
    RawStore store;
    const velta36_event event = SampleEvent();
    sqlite3_int64 previous = 0;
    for (auto _ : state) {
        const sqlite3_int64 id = store.Save(event);
        if (id == previous) {
            state.SkipWithError("raw insert stored no row");
            break;
        }
        previous = id;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_SaveDoorEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSqliteInsert)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    std::ostream& out = velta36bench::QuietStdout();
    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();
    out << "database: " << dir.file("ZRMDevice.db") << "\n";

    velta36bench::CollectingReporter reporter(out);
    if (!velta36bench::RunBenchmarks(argc, argv, reporter))
        return 2;

    const double save = reporter.MedianRealNs("BM_SaveDoorEvent");
    const double raw = reporter.MedianRealNs("BM_RawSqliteInsert");
    if (save > 0 && raw > 0) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "RESULT store save_us=%.2f raw_us=%.2f ratio=%.3f save_cpu_us=%.2f raw_cpu_us=%.2f\n",
                      save / 1e3, raw / 1e3, save / raw, reporter.MedianCpuNs("BM_SaveDoorEvent") / 1e3,
                      reporter.MedianCpuNs("BM_RawSqliteInsert") / 1e3);
        out << line;
    }
    return 0;
}
