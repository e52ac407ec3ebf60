// Simulated controllers on a pseudo-terminal of their own, served from a
// thread of this process: the built-in controller of `run` and the line of
// `simulate`. The one place of the tool that uses the controller
// simulator's library; nothing of it shows in this header.
#ifndef VELTA36_CLI_SIMULATED_LINE_H
#define VELTA36_CLI_SIMULATED_LINE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velta36cli {

// Shares of the replies or commands that meet each line fault (0..1).
struct SimulatedFaults {
    double splitReply = 0;        // reply written in several chunks
    double noiseBeforeReply = 0;  // a few stray bytes first
    double corruptChecksum = 0;   // data reply with a wrong checksum
    double refuseCommand = 0;     // command refused, not carried out
    double dropReply = 0;         // command carried out, its reply lost
    double loseCommand = 0;       // command lost on the line
};

struct SimulatedControllerSpec {
    int32_t address = 0;
    int32_t doors = 2;
    int32_t events = -1;   // -1: a realistic working day
    uint64_t seed = 1;
    SimulatedFaults faults;
};

// What one controller went through.
struct SimulatedControllerReport {
    int32_t address = 0;
    uint64_t framesHeard = 0;
    uint64_t acknowledged = 0;   // events
    uint64_t left = 0;           // events still stored
    uint64_t cardSlots = 0;      // written
    uint64_t faultsInjected = 0;
};

class SimulatedLine {
public:
    // toControllers: the chunk went from the line to the controllers.
    using Tap = std::function<void(bool toControllers, const char* data, std::size_t length)>;

    // baud 0: replies go out as fast as the line takes them.
    SimulatedLine(const std::vector<SimulatedControllerSpec>& controllers, int32_t baud);
    ~SimulatedLine();
    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    // Starts serving; returns the path of the pseudo-terminal to open. The
    // tap, when given, sees every chunk on the line (for a capture).
    std::string start(Tap tap = {});
    void stop();

    // No controller holds an event it has not had acknowledged.
    bool drained();
    uint64_t eventsSeeded() const;
    // In the order the controllers were given.
    std::vector<SimulatedControllerReport> report();

private:
    struct Controllers;
    std::unique_ptr<Controllers> controllers_;
};

}  // namespace velta36cli

#endif
