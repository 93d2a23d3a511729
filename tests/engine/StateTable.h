#pragma once
// An independent reading of the sprite state table, used to check every tick
// of an animation run: it replays the tick's random draws from the seed the
// tick started with (sprites 1..5 in order; inside a sprite first r, then the
// move, then the edge test, then a new position, left before top) and tells
// where each sprite must be and in which state.
#include "Animation.h"
#include "Random.h"

#include <gtest/gtest.h>

#include <QSize>
#include <array>
#include <sstream>

namespace hakop::test {

struct Observed {
    std::array<int, 5> state{}, left{}, top{};
};

inline Observed observe(const Animation& a)
{
    Observed o;
    for (int i = 1; i <= 5; ++i) {
        o.state[i - 1] = a.state(i);
        o.left[i - 1] = a.sprite(i)->Left();
        o.top[i - 1] = a.sprite(i)->Top();
    }
    return o;
}

struct Exits {
    long floats = 0, tumbles = 0, boxes = 0;          // leaving sideways, by kind
    long rightExits = 0, leftExits = 0;
    long tumbleRespawns = 0, floatRespawns = 0;      // reaching the bottom
    long floatStands = 0;                            // Random(8) = 0
};

inline ::testing::AssertionResult followsStateTable(const Observed& before, const Observed& after,
                                                     std::uint32_t seedBefore, std::uint32_t seedAfter,
                                                     QSize screen, Exits& seen)
{
    RandomSource rnd;
    rnd.setSeed(seedBefore);
    const int W = screen.width(), H = screen.height();
    auto rw = [&](int n) { return int(rnd.Random(std::uint32_t(n))); };
    for (int i = 0; i < 5; ++i) {
        const int s = before.state[i];
        int ns = 0, nl = before.left[i], nt = before.top[i];
        auto sideways = [&](double r) {
            if (r < 0.1) {
                nl = rw(W) - 85;
                nt = -75;
                ns = r < 0.03 ? 25 : 18;
                ++(r < 0.03 ? seen.floats : seen.tumbles);
            } else {
                nl = rw(W);
                nt = rw(H) - 35;
                ns = 1;
                ++seen.boxes;
            }
        };
        if (s == 12) {
            ns = rnd.Random() < 0.5 ? 13 : 20;
        } else if (s == 16 || s == 17) {
            const double r = rnd.Random();
            nl += 8;
            if (nl < W) ns = s == 16 ? 17 : 16;
            else { ++seen.rightExits; sideways(r); }
        } else if (s == 23 || s == 24) {
            const double r = rnd.Random();
            nl -= 8;
            if (nl > -85) ns = s == 23 ? 24 : 23;
            else { ++seen.leftExits; sideways(r); }
        } else if (s == 18 || s == 19) {
            nt += 16;
            if (nt < H) ns = s == 18 ? 19 : 18;
            else { nl = rw(W); nt = rw(H) - 35; ns = 1; ++seen.tumbleRespawns; }
        } else if (s == 25) {
            const int dy = rw(8);
            seen.floatStands += dy == 0;
            nt += dy;
            if (nt < H) ns = 25;
            else { nl = rw(W / 2) - 85; nt = rw(H) - 35; ns = 1; ++seen.floatRespawns; }
        } else if (s >= 1 && s <= 22) {
            ns = s + 1;
        } else {
            return ::testing::AssertionFailure() << "sprite " << i + 1 << " in state " << s;
        }
        if (after.state[i] != ns || after.left[i] != nl || after.top[i] != nt) {
            return ::testing::AssertionFailure()
                << "sprite " << i + 1 << " from state " << s << " at (" << before.left[i] << ", "
                << before.top[i] << "): expected state " << ns << " at (" << nl << ", " << nt
                << "), got state " << after.state[i] << " at (" << after.left[i] << ", " << after.top[i] << ")";
        }
    }
    if (rnd.seed() != seedAfter)
        return ::testing::AssertionFailure() << "the tick drew a different number of random values";
    return ::testing::AssertionSuccess();
}

} // namespace hakop::test
