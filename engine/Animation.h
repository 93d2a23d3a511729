#pragma once
// The five figures' stories: Start places them as rising boxes, Step advances
// every sprite by one 100 ms tick with the two-phase frame swap (silhouette
// painted at once, then move, then the next colour frame marked pending).
#include "Random.h"
#include "Sprite.h"
#include <QSize>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace hakop {

class Surface;
class TIForm;

class Animation {
public:
    static constexpr int SpriteCount = 5;
    static constexpr int SpriteWidth = 85;
    static constexpr int SpriteHeight = 75;

    // screenSize is asked afresh at every use (placement and edge tests).
    Animation(Surface& surface, const TIForm& frames, RandomSource& random,
              std::function<QSize()> screenSize);

    void Start();
    void Step();
    // Frees sprites 1 .. 5 in order (their drawings stay on the surface).
    void freeSprites();

    // 1-based, as the states are numbered: sprite(1) .. sprite(5).
    Sprite* sprite(int i) const { return m_sprites[i - 1].get(); }
    std::int32_t state(int i) const { return m_states[i - 1]; }

private:
    void stepState(int i);
    void leaveSideways(Sprite& s, std::int32_t& state, double r);
    int screenWidth() const { return m_screenSize().width(); }
    int screenHeight() const { return m_screenSize().height(); }
    // Random(n) for a screen dimension, as a signed pixel count (0 for n <= 0).
    int randomBelow(int n);

    Surface& m_surface;
    const TIForm& m_frames;
    RandomSource& m_random;
    std::function<QSize()> m_screenSize;
    std::array<std::unique_ptr<Sprite>, SpriteCount> m_sprites;
    std::array<std::int32_t, SpriteCount> m_states{};
};

} // namespace hakop
