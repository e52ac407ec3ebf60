// A simulated controller on a manual clock, with helpers that send whole
// command frames and join the reply chunks.
#ifndef VELTA36SIM_TESTS_SIM_HARNESS_H
#define VELTA36SIM_TESTS_SIM_HARNESS_H

#include <string>
#include <vector>

#include "velta36sim/frames.h"
#include "velta36sim/simulated_controller.h"

namespace velta36sim {

inline std::string Joined(const std::vector<Bytes>& chunks)
{
    std::string all;
    for (const Bytes& chunk : chunks)
        all += chunk;
    return all;
}

struct SimHarness {
    explicit SimHarness(ControllerOptions options = ControllerOptions()) : sim(options, clock) {}

    std::string Send(const Bytes& command) { return Joined(sim.Feed(CommandFrame(address(), command))); }
    std::string Read() { return Joined(sim.Feed(EventReadFrame(address()))); }
    char address() const { return sim.controller().address(); }
    Controller& controller() { return sim.controller(); }

    ManualClock clock;
    SimulatedController sim;
};

// Number of records in an event reply ('A', 23 per record, checksum, '/').
inline int RecordsIn(const std::string& reply)
{
    return reply.size() < 6 ? -1 : static_cast<int>((reply.size() - 6) / 23);
}

}  // namespace velta36sim

#endif
