// Simulated controllers on a pseudo-terminal of their own, served from a
// thread of this process: the built-in controller of `run` and the line of
// `simulate`.
#ifndef VELTA36_CLI_SIMULATED_LINE_H
#define VELTA36_CLI_SIMULATED_LINE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "velta36sim/clock.h"
#include "velta36sim/faults.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

namespace velta36cli {

struct SimulatedControllerSpec {
    int32_t address = 0;
    int32_t doors = 2;
    int32_t events = -1;   // -1: a realistic working day
    uint64_t seed = 1;
    velta36sim::FaultRates faults;
};

class SimulatedLine {
public:
    // baud 0: replies go out as fast as the line takes them.
    SimulatedLine(const std::vector<SimulatedControllerSpec>& controllers, int32_t baud);
    ~SimulatedLine();

    // Starts serving; returns the path of the pseudo-terminal to open. The
    // tap, when given, sees every chunk on the line (for a capture).
    std::string start(std::function<void(velta36sim::TapDirection, const char*, std::size_t)> tap = {});
    void stop();

    // No controller holds an event it has not had acknowledged.
    bool drained();
    uint64_t eventsSeeded() const { return seeded_; }
    velta36sim::SharedLine& line() { return line_; }

private:
    velta36sim::SteadyClock clock_;
    velta36sim::SharedLine line_;
    std::unique_ptr<velta36sim::LineServer> server_;
    int32_t baud_;
    uint64_t seeded_ = 0;
};

}  // namespace velta36cli

#endif
