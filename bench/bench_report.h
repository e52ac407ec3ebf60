// Running Google Benchmark in our programs: the report goes to the stream
// QuietStdout returns, and the reporter keeps every repetition so that a
// program can print figures derived from them (ratios, time per event)
// after the run.
#ifndef VELTA36_BENCH_BENCH_REPORT_H
#define VELTA36_BENCH_BENCH_REPORT_H

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "quiet_stdout.h"

namespace velta36bench {

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(std::ostream& out);

    void ReportRuns(const std::vector<Run>& runs) override;

    // Median over the repetitions of a benchmark (its full name, as printed,
    // without aggregate suffix), in nanoseconds per iteration. Negative when
    // the benchmark did not run or failed.
    double MedianCpuNs(const std::string& name) const;
    double MedianRealNs(const std::string& name) const;
    // Median over the repetitions of a user counter of the benchmark.
    double MedianCounter(const std::string& name, const std::string& counter) const;

private:
    struct Samples {
        std::vector<double> cpuNs;
        std::vector<double> realNs;
        std::map<std::string, std::vector<double>> counters;
        bool failed = false;
    };
    std::map<std::string, Samples> samples_;
};

// Parses the benchmark flags, runs the benchmarks with the reporter and
// returns false when the command line was not understood.
bool RunBenchmarks(int argc, char** argv, CollectingReporter& reporter);

double Median(std::vector<double> values);

}  // namespace velta36bench

#endif
