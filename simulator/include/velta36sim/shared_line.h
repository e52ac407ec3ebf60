// Several simulated controllers on one line: every byte reaches every
// controller and each answers only frames for its own address. Safe to
// call from several threads.
#ifndef VELTA36SIM_SHARED_LINE_H
#define VELTA36SIM_SHARED_LINE_H

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "velta36sim/simulated_controller.h"

namespace velta36sim {

class SharedLine {
public:
    explicit SharedLine(const Clock& clock) : clock_(clock) {}

    // Adds a controller; throws std::invalid_argument if the address is
    // taken or the door count is not 1 or 2.
    SimulatedController& Add(const ControllerOptions& options);

    std::vector<Bytes> Feed(const char* data, std::size_t length);
    std::vector<Bytes> Feed(const Bytes& bytes) { return Feed(bytes.data(), bytes.size()); }

    // Runs fn on the controller of the address under the line's lock
    // (for reading state or storing events while the line is served).
    // Returns false when there is no such controller.
    bool With(int32_t address, const std::function<void(SimulatedController&)>& fn);

    std::vector<int32_t> Addresses() const;
    Statistics Stats(int32_t address) const;   // zeros for an unknown address
    Statistics TotalStats() const;

private:
    const Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::pair<int32_t, std::unique_ptr<SimulatedController>>> controllers_;
};

// Sums two sets of statistics.
Statistics operator+(const Statistics& a, const Statistics& b);

}  // namespace velta36sim

#endif
