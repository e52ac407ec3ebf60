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
