// A small seeded generator (splitmix64). Written out rather than taken from
// <random> so that a seed gives the same sequence with every standard
// library and on 32-bit targets.
#ifndef VELTA36SIM_RANDOM_H
#define VELTA36SIM_RANDOM_H

#include <cstdint>

namespace velta36sim {

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next();
    // Uniform in [0, bound); 0 when bound is 0.
    uint32_t Below(uint32_t bound);
    // Uniform in [low, high].
    int32_t Between(int32_t low, int32_t high);
    // True with the given probability (0 never, 1 always).
    bool Chance(double probability);

private:
    uint64_t state_;
};

}  // namespace velta36sim

#endif
