#include "velta36sim/simulated_controller.h"

#include <algorithm>

namespace velta36sim {

namespace {

// Stray bytes a disturbed line might carry. Never 'A' (a driver takes it
// for the start of a data reply), '/' (the end of any frame), '@' or 'h'.
char NoiseByte(Random& random)
{
    for (;;) {
        const char c = static_cast<char>(random.Between(0x20, 0x7E));
        if (c != 'A' && c != '/' && c != '@' && c != 'h')
            return c;
    }
}

}  // namespace

SimulatedController::SimulatedController(const ControllerOptions& options, const Clock& clock)
    : options_(options),
      controller_(options.address, options.doors, clock, options.initialTime),
      assembler_(AddressChar(options.address)),
      random_(options.faultSeed)
{
}

std::vector<Bytes> SimulatedController::Feed(const char* data, std::size_t length)
{
    std::vector<Bytes> out;
    for (const Command& command : assembler_.Feed(data, length))
        Answer(command, out);
    return out;
}

void SimulatedController::Answer(const Command& command, std::vector<Bytes>& out)
{
    const FaultRates& rates = options_.faults;
    const bool batchAcknowledgement = !command.eventRead && command.body == "v0";
    if (random_.Chance(rates.loseCommand)) {
        ++faults_.lostCommands;
        if (batchAcknowledgement)
            controller_.NoteAcknowledgementMissed();
        return;
    }
    ++framesHeard_;
    if (Controller::IsAcknowledged(command) && random_.Chance(rates.refuseCommand)) {
        // Refused: the controller does not carry the command out.
        ++faults_.refusedCommands;
        if (batchAcknowledgement)
            controller_.NoteAcknowledgementMissed();
        Deliver(Refusal(controller_.address()), false, out);
        return;
    }
    const Reply reply = controller_.Handle(command);
    if (reply.kind == ReplyKind::None)
        return;
    if (random_.Chance(rates.dropReply)) {
        ++faults_.droppedReplies;
        if (command.eventRead)
            controller_.NoteLastBatchLost();
        return;
    }
    const uint64_t corruptedBefore = faults_.corruptedChecksums;
    Deliver(reply.bytes, reply.kind == ReplyKind::Data, out);
    if (command.eventRead && faults_.corruptedChecksums != corruptedBefore)
        controller_.NoteLastBatchLost();
}

void SimulatedController::Deliver(Bytes reply, bool dataReply, std::vector<Bytes>& out)
{
    const FaultRates& rates = options_.faults;
    if (dataReply && reply.size() >= 6 && random_.Chance(rates.corruptChecksum)) {
        const std::size_t at = reply.size() - 5 + random_.Below(4);
        const int32_t nibble = (reply[at] - 0x60 + 1 + static_cast<int32_t>(random_.Below(15))) % 16;
        reply[at] = static_cast<char>(0x60 + nibble);
        ++faults_.corruptedChecksums;
    }
    if (random_.Chance(rates.noiseBeforeReply)) {
        Bytes noise;
        const int32_t count = random_.Between(1, 4);
        for (int32_t i = 0; i < count; ++i)
            noise += NoiseByte(random_);
        reply = noise + reply;
        ++faults_.noiseBursts;
    }
    if (reply.size() >= 2 && random_.Chance(rates.splitReply)) {
        // Two to four chunks, cut at distinct random places.
        const int32_t maxChunks = static_cast<int32_t>(std::min<std::size_t>(4, reply.size()));
        const int32_t chunks = random_.Between(2, maxChunks);
        std::vector<std::size_t> cuts;
        while (static_cast<int32_t>(cuts.size()) < chunks - 1) {
            const std::size_t cut = 1 + random_.Below(static_cast<uint32_t>(reply.size() - 1));
            if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end())
                cuts.push_back(cut);
        }
        std::sort(cuts.begin(), cuts.end());
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            out.push_back(reply.substr(from, cut - from));
            from = cut;
        }
        out.push_back(reply.substr(from));
        ++faults_.splitReplies;
        return;
    }
    out.push_back(reply);
}

Statistics SimulatedController::Stats() const
{
    Statistics stats;
    stats.framesHeard = framesHeard_;
    stats.framesRejected = assembler_.Rejected();
    stats.events = controller_.Counts();
    stats.faults = faults_;
    return stats;
}

}  // namespace velta36sim
