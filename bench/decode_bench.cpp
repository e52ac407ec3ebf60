// CPU time of VELTA36::process on the replies of a steady drain: a full
// event reply (10 records decoded and each saved in its own transaction), a
// door-status reply and the acknowledgement of a full batch.
//
// Run it with the database on a RAM-backed folder so that the figure is the
// plug-in's work, not the disk's:
//   TMPDIR=/dev/shm velta36-bench-decode --benchmark_repetitions=5
#include <cstdio>
#include <iostream>
#include <memory>

#include <benchmark/benchmark.h>

#include "bench_report.h"
#include "decode_rig.h"
#include "event_db.h"
#include "temp_work_dir.h"

namespace {

using velta36bench::DecodeRig;

// One rig for the whole run: the device keeps its database connection open
// between replies, as it does on a host.
DecodeRig* rig = nullptr;
long long eventReplies = 0;

void BM_EventReply(benchmark::State& state)
{
    for (auto _ : state) {
        const std::string failure = rig->EventReply();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
        ++eventReplies;
    }
    state.SetItemsProcessed(state.iterations() * DecodeRig::kRecordsPerReply);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(rig->eventReplyBytes()));
}

void BM_StatusReply(benchmark::State& state)
{
    for (auto _ : state) {
        const std::string failure = rig->StatusReply();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
    }
}

void BM_Acknowledgement(benchmark::State& state)
{
    for (auto _ : state) {
        const std::string failure = rig->Acknowledgement();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            break;
        }
    }
}

BENCHMARK(BM_EventReply)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusReply)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Acknowledgement)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv)
{
    std::ostream& out = velta36bench::QuietStdout();
    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();
    out << "database: " << dir.file("ZRMDevice.db") << "\n";
    std::unique_ptr<DecodeRig> owned(new DecodeRig());
    rig = owned.get();

    velta36bench::CollectingReporter reporter(out);
    if (!velta36bench::RunBenchmarks(argc, argv, reporter))
        return 2;

    // Every timed event reply must have left ten rows behind.
    const long long rows = velta36bench::CountEventRows();
    const long long expected = eventReplies * DecodeRig::kRecordsPerReply;
    char line[256];
    if (rows != expected) {
        std::snprintf(line, sizeof line, "rows stored: %lld, expected %lld\n", rows, expected);
        out << line;
        return 1;
    }
    const double event = reporter.MedianCpuNs("BM_EventReply");
    const double status = reporter.MedianCpuNs("BM_StatusReply");
    const double ack = reporter.MedianCpuNs("BM_Acknowledgement");
    std::snprintf(line, sizeof line,
                  "RESULT decode event_cpu_us=%.2f status_cpu_ns=%.0f ack_cpu_ns=%.0f rows=%lld\n",
                  event / DecodeRig::kRecordsPerReply / 1e3, status, ack, rows);
    out << line;
    return 0;
}
