#include "Animation.h"

#include "ImageList.h"
#include "Surface.h"

namespace hakop {

namespace {

constexpr int OffscreenLeft = -85;     // start, top re-entry and after-float offset
constexpr int RespawnTopOffset = -35;  // Top = Random(H) - 35
constexpr int ReentryTop = -75;        // above the screen, before tumbling or floating
constexpr int WalkStep = 8;
constexpr int TumbleStep = 16;
constexpr double TurnSplit = 0.5;
constexpr double FloatThreshold = 0.03;
constexpr double TumbleThreshold = 0.1;

} // namespace

Animation::Animation(Surface& surface, const TIForm& frames, RandomSource& random,
                     std::function<QSize()> screenSize)
    : m_surface(surface)
    , m_frames(frames)
    , m_random(random)
    , m_screenSize(std::move(screenSize))
{
}

int Animation::randomBelow(int n)
{
    return static_cast<int>(m_random.Random(static_cast<std::uint32_t>(n > 0 ? n : 0)));
}

void Animation::Start()
{
    for (int i = 1; i <= SpriteCount; ++i) {
        m_states[i - 1] = 1;
        auto s = std::make_unique<Sprite>(m_surface);
        s->setTransparent(true);
        // The width is drawn before the height.
        s->setLeft(randomBelow(screenWidth()) + OffscreenLeft);
        s->setTop(randomBelow(screenHeight()) + RespawnTopOffset);
        s->setWidth(SpriteWidth);
        s->setHeight(SpriteHeight);
        m_sprites[i - 1] = std::move(s);
        m_sprites[i - 1]->attach();
        m_sprites[i - 1]->setPicture(m_frames.Frames(1));
    }
}

void Animation::Step()
{
    for (int i = 1; i <= SpriteCount; ++i) {
        Sprite* s = sprite(i);
        if (!s)
            continue; // not started yet, or already freed: nothing to animate
        std::int32_t& state = m_states[i - 1];
        // Phase one: stamp the silhouette of what the sprite shows, right now.
        s->setPicture(m_frames.Frames(state + m_frames.FrameOffset()));
        s->PaintPending();
        stepState(i);
        // Phase two: the next colour frame, painted by the next pass.
        s->setPicture(m_frames.Frames(state));
    }
}

void Animation::freeSprites()
{
    for (auto& s : m_sprites)
        s.reset();
}

void Animation::leaveSideways(Sprite& s, std::int32_t& state, double r)
{
    if (r < TumbleThreshold) {
        s.setLeft(randomBelow(screenWidth()) + OffscreenLeft);
        s.setTop(ReentryTop);
        state = r < FloatThreshold ? 25 : 18;
    } else {
        s.setLeft(randomBelow(screenWidth()));
        s.setTop(randomBelow(screenHeight()) + RespawnTopOffset);
        state = 1;
    }
}

void Animation::stepState(int i)
{
    Sprite& s = *sprite(i);
    std::int32_t& state = m_states[i - 1];
    switch (state) {
    case 12:
        state = m_random.Random() < TurnSplit ? 13 : 20;
        break;
    case 16:
    case 17: {
        const double r = m_random.Random(); // drawn every walking tick
        s.setLeft(s.Left() + WalkStep);
        if (s.Left() < screenWidth())
            state = state == 16 ? 17 : 16;
        else
            leaveSideways(s, state, r);
        break;
    }
    case 18:
    case 19:
        s.setTop(s.Top() + TumbleStep);
        if (s.Top() < screenHeight()) {
            state = state == 18 ? 19 : 18;
        } else {
            s.setLeft(randomBelow(screenWidth()));
            s.setTop(randomBelow(screenHeight()) + RespawnTopOffset);
            state = 1;
        }
        break;
    case 23:
    case 24: {
        const double r = m_random.Random();
        s.setLeft(s.Left() - WalkStep);
        if (s.Left() > OffscreenLeft)
            state = state == 23 ? 24 : 23;
        else
            leaveSideways(s, state, r);
        break;
    }
    case 25:
        s.setTop(s.Top() + randomBelow(8));
        if (s.Top() < screenHeight()) {
            state = 25;
        } else {
            s.setLeft(randomBelow(screenWidth() / 2) + OffscreenLeft);
            s.setTop(randomBelow(screenHeight()) + RespawnTopOffset);
            state = 1;
        }
        break;
    default:
        // 1 .. 11, 13 .. 15, 20 .. 22: stay and show the next frame of the story.
        ++state;
        break;
    }
}

} // namespace hakop
