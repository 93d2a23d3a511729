#include "engine/Random.h"

#include <gtest/gtest.h>

#include <cmath>

using hakop::RandomSource;

TEST(Random, IntegerCheckValuesFromSeedZero)
{
    RandomSource r;
    r.setSeed(0);
    const std::uint32_t expected[] = {0, 3, 86, 20, 27};
    for (std::uint32_t e : expected)
        EXPECT_EQ(r.Random(100u), e);
}

TEST(Random, RealCheckValuesFromSeedZero)
{
    RandomSource r;
    r.setSeed(0);
    EXPECT_EQ(r.Random(), std::ldexp(1.0, -32)); // exact: the first seed is 1
    EXPECT_NEAR(r.Random(), 0.0313799395, 1e-10);
    EXPECT_NEAR(r.Random(), 0.8610484672, 1e-10);
}

TEST(Random, EveryDrawAdvancesTheSameGenerator)
{
    // Integer and real draws share one sequence, and Random(0) still advances it.
    RandomSource a, b;
    a.setSeed(12345);
    b.setSeed(12345);
    EXPECT_EQ(a.Random(0u), 0u);
    b.Random();
    EXPECT_EQ(a.seed(), b.seed());
    EXPECT_EQ(a.seed(), 12345u * RandomSource::Multiplier + 1u);
    // The integer draw is the upper half of seed * n, so it stays below n even
    // for the largest seeds and the largest n.
    a.setSeed(0xffffffffu);
    const std::uint32_t seedAfter = 0xffffffffu * RandomSource::Multiplier + 1u;
    EXPECT_EQ(a.Random(0xffffffffu),
              std::uint32_t((std::uint64_t(seedAfter) * 0xffffffffu) >> 32));
    EXPECT_LT(a.Random(1920u), 1920u);
}

TEST(Random, RealsStayBelowOne)
{
    // The largest seed gives 1 - 2^-32, not 1.0. Seed s with s*M+1 = 2^32-1.
    // M is odd, so it has an inverse modulo 2^32.
    std::uint32_t inv = 1;
    for (int i = 0; i < 5; ++i)
        inv *= 2u - RandomSource::Multiplier * inv;
    RandomSource r;
    r.setSeed((0xffffffffu - 1u) * inv);
    const double v = r.Random();
    EXPECT_LT(v, 1.0);
    EXPECT_EQ(v, 1.0 - std::ldexp(1.0, -32));
}

TEST(Random, SeedIsMillisecondsSinceMidnight)
{
    EXPECT_EQ(RandomSource::seedForTimeOfDay(12, 34, 56, 789), 45296789u);
    EXPECT_EQ(RandomSource::seedForTimeOfDay(0, 0, 0, 0), 0u);
    EXPECT_EQ(RandomSource::seedForTimeOfDay(23, 59, 59, 999), 86399999u);
}

TEST(Random, RandomizeTakesTheTimeOfDay)
{
    RandomSource r;
    r.setSeed(0xffffffffu);
    r.randomize();
    EXPECT_LT(r.seed(), 86400000u);
}
