#include "bench_report.h"

#include <algorithm>
#include <iostream>

namespace velta36bench {

namespace {

double ToNs(double value, benchmark::TimeUnit unit)
{
    return value / benchmark::GetTimeUnitMultiplier(unit) * 1e9;
}

}  // namespace

// Plain tabular output: the report usually goes to a log or a pipe, where
// colour codes would only get in the way of reading it.
CollectingReporter::CollectingReporter(std::ostream& out) : ConsoleReporter(OO_Tabular)
{
    SetOutputStream(&out);
    SetErrorStream(&std::cerr);
}

void CollectingReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration)
            continue;
        Samples& s = samples_[run.run_name.str()];
        if (run.error_occurred) {
            s.failed = true;
            continue;
        }
        s.cpuNs.push_back(ToNs(run.GetAdjustedCPUTime(), run.time_unit));
        s.realNs.push_back(ToNs(run.GetAdjustedRealTime(), run.time_unit));
        for (const auto& counter : run.counters)
            s.counters[counter.first].push_back(counter.second.value);
    }
    ConsoleReporter::ReportRuns(runs);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double CollectingReporter::MedianCpuNs(const std::string& name) const
{
    auto it = samples_.find(name);
    return it == samples_.end() || it->second.failed ? -1 : Median(it->second.cpuNs);
}

double CollectingReporter::MedianRealNs(const std::string& name) const
{
    auto it = samples_.find(name);
    return it == samples_.end() || it->second.failed ? -1 : Median(it->second.realNs);
}

double CollectingReporter::MedianCounter(const std::string& name, const std::string& counter) const
{
    auto it = samples_.find(name);
    if (it == samples_.end() || it->second.failed)
        return -1;
    auto values = it->second.counters.find(counter);
    return values == it->second.counters.end() ? -1 : Median(values->second);
}

bool RunBenchmarks(int argc, char** argv, CollectingReporter& reporter)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}

}  // namespace velta36bench
