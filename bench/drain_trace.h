// Reads the line trace of a drain into batches: an event read sent, the
// event reply received, "v0" sent and its acknowledgement received. The
// window runs from the first event read to the acknowledgement of the last
// full batch, so that the rate it gives is the steady rate of the drain,
// free of the clock set and status request at the start and of the empty
// read at the end.
#ifndef VELTA36_BENCH_DRAIN_TRACE_H
#define VELTA36_BENCH_DRAIN_TRACE_H

#include <chrono>
#include <cstdint>
#include <vector>

#include "refhost/scheduler.h"

namespace velta36bench {

struct DrainWindow {
    uint64_t batches = 0;         // acknowledged batches in the window
    uint64_t records = 0;         // records in their event replies
    uint64_t bytesToDevice = 0;   // every frame the host sent in the window
    uint64_t bytesFromDevice = 0; // every byte the controller sent in it
    double seconds = 0;           // first event read sent .. last ack received
    // Of those seconds, the time from a reply's last byte to the next frame
    // sent: the host's and the plug-in's part (decoding, saving, sending).
    double hostSeconds = 0;

    // Bytes on the wire for one batch, both ways.
    double BytesPerBatch() const
    {
        return batches ? static_cast<double>(bytesToDevice + bytesFromDevice) / batches : 0;
    }
};

// The trace of one device's line, in order.
DrainWindow AnalyseDrain(const std::vector<refhost::TraceRecord>& trace);

}  // namespace velta36bench

#endif
