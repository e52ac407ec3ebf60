// Line and controller faults the simulator can inject, each at its own rate
// (probability per frame, 0..1), and what was injected.
#ifndef VELTA36SIM_FAULTS_H
#define VELTA36SIM_FAULTS_H

#include <cstdint>

namespace velta36sim {

struct FaultRates {
    double splitReply = 0;        // reply written in several random chunks
    double noiseBeforeReply = 0;  // a few stray bytes (never 'A' or '/') first
    double corruptChecksum = 0;   // data reply with a wrong checksum character
    double refuseCommand = 0;     // acknowledged command refused, not carried out
    double dropReply = 0;         // command carried out, its reply lost
    double loseCommand = 0;       // command lost on the line, never seen

    bool Any() const;
};

struct FaultCounts {
    uint64_t splitReplies = 0;
    uint64_t noiseBursts = 0;
    uint64_t corruptedChecksums = 0;
    uint64_t refusedCommands = 0;
    uint64_t droppedReplies = 0;
    uint64_t lostCommands = 0;

    uint64_t Total() const;
};

}  // namespace velta36sim

#endif
