// Start and Step against the state table, on synthetic frames.
#include "Animation.h"
#include "ImageList.h"
#include "MemoryCanvas.h"
#include "SaverScene.h"
#include "StateTable.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

using namespace hakop;
using namespace hakop::test;

namespace {

const TIForm& frames()
{
    static const TIForm f(syntheticFrames());
    return f;
}

} // namespace

TEST(Animation, StartPlacesFiveRisingBoxes)
{
    SaverScene scene(patternBackdrop(QSize(640, 480)), frames());
    scene.show(0);
    RandomSource expected;
    expected.setSeed(0);
    const Animation& a = scene.animation();
    for (int i = 1; i <= 5; ++i) {
        const Sprite* s = a.sprite(i);
        EXPECT_EQ(a.state(i), 1);
        EXPECT_EQ(s->Left(), int(expected.Random(640u)) - 85) << "width drawn first, sprite " << i;
        EXPECT_EQ(s->Top(), int(expected.Random(480u)) - 35);
        EXPECT_EQ(s->rect().size(), QSize(85, 75));
        EXPECT_TRUE(s->Transparent());
        EXPECT_EQ(s->Picture(), frames().Frames(1));
        EXPECT_EQ(scene.surface().paintList()[i - 1], s) << "attached in order";
    }
    EXPECT_EQ(scene.random().seed(), expected.seed());
    EXPECT_EQ(scene.surface().pending(), QRegion(scene.surface().rect()));
    EXPECT_EQ(scene.surface().pixels(), scene.Backdrop()) << "nothing drawn before the first pass";
}

TEST(Animation, TimingFromStart)
{
    SaverScene scene(patternBackdrop(QSize(800, 600)), frames());
    scene.show(45296789);
    const Observed start = observe(scene.animation());
    const std::uint32_t seed = scene.random().seed();
    for (int t = 1; t <= 11; ++t)
        scene.tick();
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(scene.animation().state(i), 12);
    EXPECT_EQ(scene.random().seed(), seed) << "no draws while the story only advances";

    scene.tick(); // the 12th tick draws the turn
    RandomSource r;
    r.setSeed(seed);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(scene.animation().state(i), r.Random() < 0.5 ? 13 : 20);

    scene.tick();
    scene.tick();
    scene.tick();
    for (int i = 1; i <= 5; ++i) {
        const int st = scene.animation().state(i);
        ASSERT_TRUE(st == 16 || st == 23) << st;
        EXPECT_EQ(scene.animation().sprite(i)->Picture(), frames().Frames(st))
            << "the first walking frame shows after the 15th tick";
    }
    EXPECT_EQ(observe(scene.animation()).left, start.left) << "nobody moved yet";

    scene.tick();
    for (int i = 0; i < 5; ++i) {
        const int dir = scene.animation().state(i + 1) == 17 ? 8 : -8;
        EXPECT_EQ(scene.animation().sprite(i + 1)->Left(), start.left[i] + dir) << "first move on the 16th";
        EXPECT_EQ(scene.animation().sprite(i + 1)->Top(), start.top[i]);
    }
}

// A small screen makes exits frequent; every tick is checked against the
// table, and the seed is one in which every kind of exit happens.
TEST(Animation, EveryTickFollowsTheStateTable)
{
    const QSize screen(320, 200);
    SaverScene scene(patternBackdrop(screen), frames());
    scene.show(45296789);
    Exits seen;
    for (int t = 0; t < 20000; ++t) {
        const Observed before = observe(scene.animation());
        const std::uint32_t seed = scene.random().seed();
        scene.tick();
        ASSERT_TRUE(followsStateTable(before, observe(scene.animation()), seed, scene.random().seed(), screen, seen))
            << "tick " << t + 1;
    }
    EXPECT_GT(seen.rightExits, 0);
    EXPECT_GT(seen.leftExits, 0);
    EXPECT_GT(seen.floats, 0);
    EXPECT_GT(seen.tumbles, 0);
    EXPECT_GT(seen.boxes, 0);
    EXPECT_GT(seen.tumbleRespawns, 0);
    EXPECT_GT(seen.floatRespawns, 0);
    EXPECT_GT(seen.floatStands, 0);
}

TEST(Animation, ScreenSizeIsReadAtEveryUse)
{
    QSize screen(1000, 600);
    SaverScene scene(patternBackdrop(QSize(1000, 600)), frames(), [&] { return screen; });
    scene.show(7);
    for (int t = 0; t < 16; ++t)
        scene.tick();
    // Shrinking the screen under walking sprites moves the edges at once.
    screen = QSize(200, 150);
    Exits seen;
    for (int t = 0; t < 400; ++t) {
        const Observed before = observe(scene.animation());
        const std::uint32_t seed = scene.random().seed();
        scene.tick();
        ASSERT_TRUE(followsStateTable(before, observe(scene.animation()), seed, scene.random().seed(), screen, seen));
    }
    EXPECT_GT(seen.rightExits + seen.leftExits, 0);
}

// Catches the pixels as the tick's first paint pass left them: a pass draws
// every sprite with the same clip, so the first drawing with another clip
// starts the second pass.
class FirstPassCanvas : public MemoryCanvas {
public:
    using MemoryCanvas::MemoryCanvas;
    bool watching = false;
    QImage afterFirstPass;

    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override
    {
        if (watching && afterFirstPass.isNull()) {
            if (m_firstClip.isEmpty())
                m_firstClip = clip;
            else if (clip != m_firstClip)
                afterFirstPass = read().copy();
        }
        MemoryCanvas::drawFrame(frame, at, keyed, clip, box);
    }

private:
    QRegion m_firstClip;
};

TEST(Animation, TwoPhaseSwapStampsTheSilhouetteBeforeMoving)
{
    // During the tick, sprite 1's pass must paint its silhouette at its place
    // before it moves; catch the surface right after the first pass.
    auto owned = std::make_unique<FirstPassCanvas>(patternBackdrop(QSize(640, 480)));
    FirstPassCanvas& canvas = *owned;
    SaverScene scene(std::move(owned), frames());
    scene.show(45296789);
    for (int t = 0; t < 15; ++t) {
        scene.tick();
        scene.paintPending();
    }
    Sprite* first = scene.animation().sprite(1);
    const QRect at = first->rect();
    const int slot = scene.animation().state(1) + 25;
    const QRect later[] = {scene.animation().sprite(2)->rect(), scene.animation().sprite(3)->rect(),
                           scene.animation().sprite(4)->rect(), scene.animation().sprite(5)->rect()};
    canvas.watching = true;
    scene.tick();
    ASSERT_FALSE(canvas.afterFirstPass.isNull()) << "the tick ran more than one pass";
    const QImage& afterFirstPass = canvas.afterFirstPass;
    EXPECT_NE(first->rect(), at) << "the sprite moved afterwards";
    const QImage& sil = frames().Frames(slot).image();
    int stamped = 0;
    for (int y = 0; y < 75; ++y)
        for (int x = 0; x < 85; ++x)
            if (sil.pixel(x, y) == Black && scene.surface().rect().contains(at.left() + x, at.top() + y)) {
                bool covered = false;
                for (const QRect& r : later)
                    covered |= r.contains(at.left() + x, at.top() + y);
                if (!covered) {
                    ASSERT_EQ(afterFirstPass.pixel(at.left() + x, at.top() + y), Black);
                    ++stamped;
                }
            }
    EXPECT_GT(stamped, 0);
}

TEST(Animation, StepAfterFreeingDoesNothing)
{
    SaverScene scene(patternBackdrop(QSize(300, 200)), frames());
    scene.tick(); // before show: no sprites yet
    scene.show(3);
    for (int t = 0; t < 5; ++t)
        scene.tick();
    scene.paintPending();
    const QImage drawn = scene.surface().pixels().copy();
    scene.close();
    EXPECT_TRUE(scene.surface().paintList().empty());
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(scene.animation().sprite(i), nullptr);
    scene.tick();
    scene.paintPending();
    EXPECT_EQ(scene.surface().pixels(), drawn) << "freed sprites leave their drawings";
}
