// Start and Step, on synthetic frames: the story from the start, every move
// and every random branch at its boundary, and the two-phase paint.
#include "engine/Animation.h"
#include "engine/ImageList.h"
#include "engine/MemoryCanvas.h"
#include "engine/SaverScene.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>

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
    std::array<int, 5> startLeft{}, startTop{};
    for (int i = 0; i < 5; ++i) {
        startLeft[i] = scene.animation().sprite(i + 1)->Left();
        startTop[i] = scene.animation().sprite(i + 1)->Top();
    }
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
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(scene.animation().sprite(i + 1)->Left(), startLeft[i]) << "nobody moved yet";

    scene.tick();
    for (int i = 0; i < 5; ++i) {
        const int dir = scene.animation().state(i + 1) == 17 ? 8 : -8;
        EXPECT_EQ(scene.animation().sprite(i + 1)->Left(), startLeft[i] + dir) << "first move on the 16th";
        EXPECT_EQ(scene.animation().sprite(i + 1)->Top(), startTop[i]);
    }
}

namespace {

// The seed after which the next draw's new seed is 'next': the generator is
// seed' = seed * M + 1 with M odd, so M has an inverse modulo 2^32 (Newton's
// iteration doubles the correct low bits at each step).
std::uint32_t seedBefore(std::uint32_t next)
{
    constexpr std::uint32_t M = RandomSource::Multiplier;
    std::uint32_t inverse = M;
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - M * inverse;
    return (next - 1u) * inverse;
}

// The new seed k makes Random() = k / 2^32 exactly.
std::uint32_t firstAtLeast(double r) { return std::uint32_t(std::ceil(r * 4294967296.0)); }

struct Place {
    int state, left, top;
    bool operator==(const Place&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Place& p)
    {
        return os << "state " << p.state << " at (" << p.left << ", " << p.top << ")";
    }
};

// Sprite 1 walked through its story on a screen the test resizes at will.
// Sprite 1 steps first in every tick, so the tick's first draws are its own.
class SpriteOne : public ::testing::Test {
protected:
    QSize screen{640, 480};
    SaverScene scene{patternBackdrop(QSize(640, 480)), frames(), [this] { return screen; }};

    Place place()
    {
        const Sprite* s = scene.animation().sprite(1);
        EXPECT_EQ(s->Picture(), frames().Frames(scene.animation().state(1))) << "shows its state's colour frame";
        return {scene.animation().state(1), s->Left(), s->Top()};
    }
    // The tick's next draw gives new seed k.
    void nextDraw(std::uint32_t k) { scene.random().setSeed(seedBefore(k)); }
    // The draws sprite 1 will make after a first draw that gave new seed k.
    static RandomSource after(std::uint32_t k)
    {
        RandomSource r;
        r.setSeed(k);
        return r;
    }
    // Shown with Random(W) = randomLeft for sprite 1, then ticked up to its
    // first walking state: 16 (right) or 23 (left), not yet moved.
    void walk(bool right, int randomLeft)
    {
        const auto w = std::uint64_t(screen.width());
        scene.show(seedBefore(std::uint32_t(((std::uint64_t(randomLeft) << 32) + w - 1) / w)));
        for (int t = 0; t < 11; ++t)
            scene.tick();
        nextDraw(right ? (1u << 31) - 1 : 1u << 31); // the turn splits exactly at 0.5
        scene.tick();
        const int firstStates[] = {13, 14, 15, 16};
        const int leftStates[] = {20, 21, 22, 23};
        for (int i = 0; i < 4; ++i) {
            if (i > 0)
                scene.tick();
            ASSERT_EQ(place().state, right ? firstStates[i] : leftStates[i]);
            ASSERT_EQ(place().left, randomLeft - 85) << "no move before walking";
        }
    }
    // Walks right and leaves past the right edge on a tick whose first draw is r.
    void leaveRight(std::uint32_t r)
    {
        walk(true, 300);
        screen.setWidth(place().left + 9); // 8 pixels on: still on screen
        const Place before = place();
        scene.tick();
        ASSERT_EQ(place(), (Place{17, before.left + 8, before.top}));
        screen.setWidth(place().left + 8); // the next 8 reach W exactly
        nextDraw(r);
        scene.tick();
    }
};

} // namespace

TEST_F(SpriteOne, WalksEightPixelsATickSwappingItsTwoSteps)
{
    walk(true, 200);
    const int top = place().top;
    scene.tick();
    EXPECT_EQ(place(), (Place{17, 123, top}));
    scene.tick();
    EXPECT_EQ(place(), (Place{16, 131, top}));
}

TEST_F(SpriteOne, LeavesLeftWhenItsLeftReachesMinus85)
{
    walk(false, 16);
    const int top = place().top;
    scene.tick();
    EXPECT_EQ(place(), (Place{24, -77, top})) << "-77 > -85: still walking";
    const std::uint32_t r = firstAtLeast(0.1);
    nextDraw(r);
    scene.tick();
    RandomSource next = after(r);
    const int left = int(next.Random(640u));
    EXPECT_EQ(place(), (Place{1, left, int(next.Random(480u)) - 35})) << "at -85 it leaves and starts as a new box";
}

// Right edge at Left >= W; the r drawn that tick picks float, tumble or box,
// split exactly at 0.03 and 0.1. The screen was narrowed at the last tick.
TEST_F(SpriteOne, LeavesRightAsFloatBelow3Percent)
{
    const std::uint32_t r = firstAtLeast(0.03) - 1;
    leaveRight(r);
    RandomSource next = after(r);
    EXPECT_EQ(place(), (Place{25, int(next.Random(std::uint32_t(screen.width()))) - 85, -75}));
}

TEST_F(SpriteOne, LeavesRightAsTumbleFrom3Percent)
{
    const std::uint32_t r = firstAtLeast(0.03);
    leaveRight(r);
    RandomSource next = after(r);
    EXPECT_EQ(place(), (Place{18, int(next.Random(std::uint32_t(screen.width()))) - 85, -75}));
}

TEST_F(SpriteOne, LeavesRightAsTumbleJustBelow10Percent)
{
    leaveRight(firstAtLeast(0.1) - 1);
    EXPECT_EQ(place().state, 18);
}

TEST_F(SpriteOne, LeavesRightAsNewBoxFrom10Percent)
{
    const std::uint32_t r = firstAtLeast(0.1);
    leaveRight(r);
    RandomSource next = after(r);
    const int left = int(next.Random(std::uint32_t(screen.width())));
    EXPECT_EQ(place(), (Place{1, left, int(next.Random(480u)) - 35})) << "no -85 offset for a box";
}

TEST_F(SpriteOne, TumblesSixteenPixelsATickUntilTopReachesH)
{
    leaveRight(firstAtLeast(0.03));
    const int left = place().left;
    for (int t = 1; t <= 6; ++t) {
        scene.tick();
        ASSERT_EQ(place(), (Place{t % 2 ? 19 : 18, left, -75 + 16 * t}));
    }
    screen.setHeight(38);
    scene.tick();
    EXPECT_EQ(place(), (Place{19, left, 37})) << "37 < H";
    screen = QSize(500, 53);
    RandomSource next = scene.random();
    scene.tick();
    const int newLeft = int(next.Random(500u)); // no -85 offset after tumbling
    EXPECT_EQ(place(), (Place{1, newLeft, int(next.Random(53u)) - 35})) << "53 >= H: respawned";
}

TEST_F(SpriteOne, FloatsZeroToSevenPixelsATickUntilTopReachesH)
{
    leaveRight(firstAtLeast(0.03) - 1);
    const int left = place().left;
    nextDraw(1); // Random(8) = 0: it stays in place
    scene.tick();
    EXPECT_EQ(place(), (Place{25, left, -75}));
    for (int t = 1; t <= 11; ++t) {
        nextDraw(0xFFFFFFFFu); // Random(8) = 7
        scene.tick();
        ASSERT_EQ(place(), (Place{25, left, -75 + 7 * t}));
    }
    screen = QSize(641, 10);
    nextDraw(0xFFFFFFFFu);
    scene.tick();
    EXPECT_EQ(place(), (Place{25, left, 9})) << "9 < H";
    screen.setHeight(16);
    nextDraw(0xFFFFFFFFu);
    scene.tick();
    RandomSource next = after(0xFFFFFFFFu);
    const int newLeft = int(next.Random(320u)) - 85; // W div 2 of 641
    EXPECT_EQ(place(), (Place{1, newLeft, int(next.Random(16u)) - 35})) << "16 >= H: respawned";
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
