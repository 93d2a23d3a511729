// A simulated day of ticks (864 000 at 100 ms) on a full-HD surface with the
// real artwork: every tick follows the state table, and at regular samples
// every pixel that differs from the backdrop is a black stamp or lies inside a
// sprite's current rectangle.
#include "ImageList.h"
#include "SaverScene.h"
#include "StateTable.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

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
    Exits seen;
    const auto started = std::chrono::steady_clock::now();
    for (int t = 1; t <= Ticks; ++t) {
        const Observed before = observe(scene.animation());
        const std::uint32_t seed = scene.random().seed();
        scene.tick();
        scene.paintPending();
        ASSERT_TRUE(followsStateTable(before, observe(scene.animation()), seed, scene.random().seed(), screen, seen))
            << "tick " << t;
        if (t % SampleEvery)
            continue;
        ASSERT_TRUE(onlyStampsAndSprites(scene, backdrop)) << "tick " << t;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("day run: %d ticks in %.1f s; exits right %ld left %ld (float %ld, tumble %ld, box %ld), "
                "respawns after tumble %ld, after float %ld\n",
                Ticks, seconds, seen.rightExits, seen.leftExits, seen.floats, seen.tumbles, seen.boxes,
                seen.tumbleRespawns, seen.floatRespawns);
    EXPECT_GT(seen.floats, 0);
    EXPECT_GT(seen.tumbles, 0);
    EXPECT_GT(seen.boxes, 0);
    EXPECT_GT(seen.floatRespawns, 0);
    EXPECT_GT(seen.tumbleRespawns, 0);
}
