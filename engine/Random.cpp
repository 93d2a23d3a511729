#include "Random.h"

#include <QDateTime>
#include <QTime>

namespace hakop {

std::uint32_t RandomSource::seedForTimeOfDay(int hour, int minute, int second, int millisecond)
{
    return static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond);
}

void RandomSource::randomize()
{
    const QTime t = QDateTime::currentDateTimeUtc().time();
    m_seed = seedForTimeOfDay(t.hour(), t.minute(), t.second(), t.msec());
}

std::uint32_t RandomSource::next()
{
    // Unsigned arithmetic wraps modulo 2^32, which is exactly the generator's step.
    m_seed = m_seed * Multiplier + 1u;
    return m_seed;
}

std::uint32_t RandomSource::Random(std::uint32_t n)
{
    const std::uint64_t product = static_cast<std::uint64_t>(next()) * n;
    return static_cast<std::uint32_t>(product >> 32);
}

double RandomSource::Random()
{
    // 2^-32 is exact in a double, and so is every product with a 32-bit integer.
    return static_cast<double>(next()) * (1.0 / 4294967296.0);
}

} // namespace hakop
