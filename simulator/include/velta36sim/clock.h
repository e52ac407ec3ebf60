// The time source of the simulator, injected so tests control it.
#ifndef VELTA36SIM_CLOCK_H
#define VELTA36SIM_CLOCK_H

#include <atomic>
#include <cstdint>

namespace velta36sim {

// A monotonic millisecond counter; only differences are used.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowMs() const = 0;
};

class SteadyClock : public Clock {
public:
    int64_t NowMs() const override;
};

// Moves only when told to.
class ManualClock : public Clock {
public:
    int64_t NowMs() const override { return nowMs_.load(); }
    void Advance(int64_t ms) { nowMs_ += ms; }

private:
    std::atomic<int64_t> nowMs_{0};
};

}  // namespace velta36sim

#endif
