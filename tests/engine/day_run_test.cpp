// A simulated day of ticks (864 000 at 100 ms) on a full-HD surface with the
// real artwork: every sprite stays within its 25 states and, over the day,
// passes through all of them (every exit, tumble and float happens), and at
// regular samples every pixel that differs from the backdrop is a black stamp
// or lies inside a sprite's current rectangle.
#include "engine/ImageList.h"
#include "engine/SaverScene.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <bitset>
#include <chrono>

using namespace hakop;
using namespace hakop::test;

TEST(DayRun, FullHdDayOfTicks)
{
    const QSize screen(1920, 1080);
    const QImage backdrop = patternBackdrop(screen);
    const TIForm frames;
    SaverScene scene(backdrop, frames);
    scene.show(RandomSource::seedForTimeOfDay(12, 34, 56, 789));
    scene.paintPending();

    constexpr int Ticks = 864000;
    constexpr int SampleEvery = 10000;
    std::bitset<26> reached;
    const auto started = std::chrono::steady_clock::now();
    for (int t = 1; t <= Ticks; ++t) {
        scene.tick();
        scene.paintPending();
        for (int i = 1; i <= 5; ++i) {
            const int state = scene.animation().state(i);
            ASSERT_TRUE(state >= 1 && state <= 25) << "sprite " << i << " in state " << state << " at tick " << t;
            reached.set(std::size_t(state));
        }
        if (t % SampleEvery)
            continue;
        ASSERT_TRUE(onlyStampsAndSprites(scene, backdrop)) << "tick " << t;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("day run: %d ticks in %.1f s\n", Ticks, seconds);
    EXPECT_EQ(reached.count(), 25u) << "states reached (bit 0 unused): " << reached.to_string();
}
