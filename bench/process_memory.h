// Memory figures of the running process: the resident set and its peak from
// /proc/self/status, and the bytes that malloc has handed out and not got
// back (the growth of the latter per object is what an object costs).
#ifndef VELTA36_BENCH_PROCESS_MEMORY_H
#define VELTA36_BENCH_PROCESS_MEMORY_H

#include <cstdint>
#include <string>

namespace velta36bench {

// A "Vm..." field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when
// it cannot be read.
long long StatusKb(const std::string& field);

// Bytes allocated through malloc and still in use, mapped blocks included.
long long HeapInUse();

}  // namespace velta36bench

#endif
