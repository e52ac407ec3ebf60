// Time per stored door event: VELTA36::SaveDoorEvent against a plain SQLite
// program doing the same work on the same file: a prepared INSERT of the
// same row, each in its own BEGIN and COMMIT, with the same open flags and
// the same connection settings (foreign keys on, default journal mode).
//
// The database lives in a fresh directory under $TMPDIR (default /tmp), so
//   TMPDIR=/dev/shm velta36-bench-store
// compares the two on a RAM-backed file system, where no fsync hides the
// CPU cost. BM_SaveAndRawPaired stores one event each way per iteration,
// alternating which goes first, and times each side on its own: both see
// the same load and the same disk within milliseconds, which on a shared
// machine (whose fsync time swings several-fold from second to second)
// separate benchmarks cannot promise. Its counters give the time per save
// of each side and their ratio; the median over --benchmark_repetitions is
// printed at the end. The two separate benchmarks show each side alone.
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_report.h"
#include "bench_store.h"
#include "event_db.h"
#include "temp_work_dir.h"
#include "velta36.h"
#include "velta36_event.hxx"

namespace {

void BM_SaveDoorEvent(benchmark::State& state)
{
    VELTA36 device;
    velta36_event event = velta36bench::SampleEvent();
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

void BM_RawSqliteInsert(benchmark::State& state)
{
    velta36bench::RawStore store;
    const velta36_event event = velta36bench::SampleEvent();
    sqlite3_int64 previous = 0;
    for (auto _ : state) {
        sqlite3_int64 id = previous;
        try {
            id = store.Save(event);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        if (id == previous) {
            state.SkipWithError("raw insert stored no row");
            break;
        }
        previous = id;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SaveAndRawPaired(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    VELTA36 device;
    velta36bench::RawStore store;
    velta36_event event = velta36bench::SampleEvent();
    Clock::duration saveTime{}, rawTime{};
    bool saveFirst = true;
    for (auto _ : state) {
        event.id = 0;
        sqlite3_int64 rawId = 0;
        try {
            if (saveFirst) {
                const Clock::time_point t0 = Clock::now();
                device.SaveDoorEvent(event);
                const Clock::time_point t1 = Clock::now();
                rawId = store.Save(event);
                saveTime += t1 - t0;
                rawTime += Clock::now() - t1;
            } else {
                const Clock::time_point t0 = Clock::now();
                rawId = store.Save(event);
                const Clock::time_point t1 = Clock::now();
                device.SaveDoorEvent(event);
                rawTime += t1 - t0;
                saveTime += Clock::now() - t1;
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        if (event.id == 0 || rawId == 0 || static_cast<sqlite3_int64>(event.id) == rawId) {
            state.SkipWithError("a side stored no row");
            break;
        }
        saveFirst = !saveFirst;
    }
    const double n = static_cast<double>(state.iterations());
    const double saveUs = std::chrono::duration<double, std::micro>(saveTime).count();
    const double rawUs = std::chrono::duration<double, std::micro>(rawTime).count();
    if (n > 0 && rawUs > 0) {
        state.counters["save_us"] = saveUs / n;
        state.counters["raw_us"] = rawUs / n;
        state.counters["ratio"] = saveUs / rawUs;
    }
}

BENCHMARK(BM_SaveAndRawPaired)->Unit(benchmark::kMicrosecond);
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

    const std::string paired = "BM_SaveAndRawPaired";
    const double ratio = reporter.MedianCounter(paired, "ratio");
    if (ratio > 0) {
        char line[320];
        std::snprintf(line, sizeof line,
                      "RESULT store save_us=%.2f raw_us=%.2f ratio=%.3f alone_save_us=%.2f alone_raw_us=%.2f "
                      "alone_save_cpu_us=%.2f alone_raw_cpu_us=%.2f\n",
                      reporter.MedianCounter(paired, "save_us"), reporter.MedianCounter(paired, "raw_us"), ratio,
                      reporter.MedianRealNs("BM_SaveDoorEvent") / 1e3, reporter.MedianRealNs("BM_RawSqliteInsert") / 1e3,
                      reporter.MedianCpuNs("BM_SaveDoorEvent") / 1e3, reporter.MedianCpuNs("BM_RawSqliteInsert") / 1e3);
        out << line;
    }
    return 0;
}
