// One simulated controller on a byte line: assembles command frames from
// the bytes it hears (split or merged writes, garbage in between), answers
// those for its address with a good checksum, and injects faults into the
// exchange. No threads and no I/O: bytes in, reply chunks out.
#ifndef VELTA36SIM_SIMULATED_CONTROLLER_H
#define VELTA36SIM_SIMULATED_CONTROLLER_H

#include <cstdint>
#include <vector>

#include "velta36sim/civil_time.h"
#include "velta36sim/clock.h"
#include "velta36sim/command_assembler.h"
#include "velta36sim/controller.h"
#include "velta36sim/faults.h"
#include "velta36sim/random.h"

namespace velta36sim {

struct ControllerOptions {
    int32_t address = 0;      // address character '0' + address
    int32_t doors = 2;        // 1 or 2
    uint64_t faultSeed = 1;   // seeds the fault decisions
    FaultRates faults;
    CivilTime initialTime;    // the clock before the driver sets it
};

struct Statistics {
    uint64_t framesHeard = 0;      // complete, valid frames for this address
    uint64_t framesRejected = 0;   // bad checksum or malformed, not answered
    EventCounts events;
    FaultCounts faults;
};

class SimulatedController {
public:
    SimulatedController(const ControllerOptions& options, const Clock& clock);

    // Feeds received bytes; returns the reply chunks to write, in order.
    // Each chunk is meant as one write on the line.
    std::vector<Bytes> Feed(const char* data, std::size_t length);
    std::vector<Bytes> Feed(const Bytes& bytes) { return Feed(bytes.data(), bytes.size()); }

    Controller& controller() { return controller_; }
    const Controller& controller() const { return controller_; }
    Statistics Stats() const;

private:
    void Answer(const Command& command, std::vector<Bytes>& out);
    void Deliver(Bytes reply, bool dataReply, std::vector<Bytes>& out);

    ControllerOptions options_;
    Controller controller_;
    CommandAssembler assembler_;
    Random random_;
    uint64_t framesHeard_ = 0;
    FaultCounts faults_;
};

}  // namespace velta36sim

#endif
