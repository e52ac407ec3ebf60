// The plug-in writes a diagnostic line per decoded event (and its settings)
// to standard output. In a benchmark those lines would drown the report, so
// the programs send standard output to /dev/null and report on what it was
// before. The lines are still formatted and written: their cost is part of
// what is measured.
#ifndef VELTA36_BENCH_QUIET_STDOUT_H
#define VELTA36_BENCH_QUIET_STDOUT_H

#include <ostream>

namespace velta36bench {

// Points file descriptor 1 (and with it std::cout) at /dev/null and returns
// a stream on what standard output was before. Call once, first thing.
std::ostream& QuietStdout();

}  // namespace velta36bench

#endif
