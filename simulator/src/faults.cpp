#include "velta36sim/faults.h"

namespace velta36sim {

bool FaultRates::Any() const
{
    return splitReply > 0 || noiseBeforeReply > 0 || corruptChecksum > 0 ||
           refuseCommand > 0 || dropReply > 0 || loseCommand > 0;
}

uint64_t FaultCounts::Total() const
{
    return splitReplies + noiseBursts + corruptedChecksums + refusedCommands +
           droppedReplies + lostCommands;
}

}  // namespace velta36sim
