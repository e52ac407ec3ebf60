#include "velta36sim/random.h"

namespace velta36sim {

uint64_t Random::Next()
{
    state_ += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint32_t Random::Below(uint32_t bound)
{
    if (bound == 0)
        return 0;
    return static_cast<uint32_t>(Next() % bound);
}

int32_t Random::Between(int32_t low, int32_t high)
{
    if (high <= low)
        return low;
    const uint32_t span = static_cast<uint32_t>(high - low) + 1U;
    return low + static_cast<int32_t>(Below(span));
}

bool Random::Chance(double probability)
{
    if (probability <= 0)
        return false;
    if (probability >= 1)
        return true;
    // 53 random bits as a fraction in [0, 1).
    const double fraction = static_cast<double>(Next() >> 11) / 9007199254740992.0;
    return fraction < probability;
}

}  // namespace velta36sim
