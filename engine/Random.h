#pragma once
// The saver's random source: a 32-bit linear congruential generator, so a run
// can be replayed exactly from its seed (the seed is the time of day it started).
#include <cstdint>

namespace hakop {

class RandomSource {
public:
    static constexpr std::uint32_t Multiplier = 0x08088405u;

    // Milliseconds since midnight UTC: 0 .. 86 399 999.
    static std::uint32_t seedForTimeOfDay(int hour, int minute, int second, int millisecond);

    void setSeed(std::uint32_t seed) { m_seed = seed; }
    std::uint32_t seed() const { return m_seed; }
    // Seeds from the current UTC time of day.
    void randomize();

    // Uniform integer 0 .. n-1 (floor(seed * n / 2^32)); Random(0) gives 0 and still advances.
    std::uint32_t Random(std::uint32_t n);
    // Uniform real in [0, 1) in steps of 2^-32.
    double Random();

private:
    std::uint32_t next();
    std::uint32_t m_seed = 0;
};

} // namespace hakop
