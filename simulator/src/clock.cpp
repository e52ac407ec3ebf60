#include "velta36sim/clock.h"

#include <chrono>

namespace velta36sim {

int64_t SteadyClock::NowMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace velta36sim
