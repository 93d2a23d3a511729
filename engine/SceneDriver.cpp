#include "SceneDriver.h"

#include "Canvas.h"
#include "Random.h"

#include <utility>

namespace hakop {

SceneDriver::Clock::time_point SceneDriver::nextTickDue(Clock::time_point due, Clock::time_point now)
{
    const Clock::time_point next = due + TickLength;
    return next > now ? next : now + TickLength;
}

SceneDriver::SceneDriver(const TIForm& frames)
    : m_frames(frames)
{
}

SceneDriver::~SceneDriver() = default;

void SceneDriver::start(std::unique_ptr<Canvas> canvas, std::function<QSize()> screenSize)
{
    RandomSource clock;
    clock.randomize();
    start(std::move(canvas), clock.seed(), std::move(screenSize));
}

void SceneDriver::start(std::unique_ptr<Canvas> canvas, std::uint32_t seed, std::function<QSize()> screenSize)
{
    reset();
    m_scene = std::make_unique<SaverScene>(std::move(canvas), m_frames, std::move(screenSize));
    m_closed = false;
    // The snapshot first, so the first thing shown is the desktop; then the
    // figures, painted by the first pass (the first showing marked everything).
    m_scene->show(seed);
    paintAndPresent();
}

void SceneDriver::tick()
{
    if (!running())
        return;
    try {
        m_scene->tick();
    } catch (...) {
        paintAndPresent();
        throw;
    }
    // The leftover pass belongs to the tick: painting now rather than a moment
    // later draws the same pixels, since a pass only depends on where the
    // sprites are and what they show.
    paintAndPresent();
}

void SceneDriver::exposed(const QRegion& device)
{
    // Whatever the display lost gets its sprites painted again, as on a
    // window system without a backing store.
    if (!running())
        return;
    for (const QRect& r : device)
        m_scene->surface().MarkPending(r);
    paintAndPresent();
}

void SceneDriver::redrawBackdrop()
{
    if (!running())
        return;
    m_scene->redrawBackdrop();
    m_scene->surface().canvas().present(m_scene->surface().takeDrawn());
}

void SceneDriver::close()
{
    if (!running())
        return;
    // Freeing the sprites marks their places; nothing paints them any more.
    m_scene->close();
    m_closed = true;
}

void SceneDriver::reset()
{
    m_scene.reset();
    m_closed = false;
}

bool SceneDriver::spriteAt(QPoint device) const
{
    return running() && m_scene->surface().spriteAt(device) != nullptr;
}

void SceneDriver::paintAndPresent()
{
    Surface& surface = m_scene->surface();
    surface.paintPass();
    surface.canvas().present(surface.takeDrawn());
}

} // namespace hakop
