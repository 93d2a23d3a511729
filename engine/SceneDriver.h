#pragma once
// The one place a host runs the scene: it owns the scene and its canvas, the
// tick's length and pacing and the seed, runs the tick, and after every step
// hands what was drawn to the canvas in one present, so a tick is one trip to
// the display whatever the host is. A host gives it a canvas and calls start,
// tick (every TickLength, paced by nextTickDue), exposed, redrawBackdrop and
// close; it keeps only its own rules (a lock, a window, a poll loop).
//
// Window-system free and single-threaded: a host that calls it from more
// than one thread keeps its own lock around every call.
#include "SaverScene.h"

#include <QPoint>
#include <QRegion>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace hakop {

class Canvas;
class TIForm;

class SceneDriver {
public:
    using Clock = std::chrono::steady_clock;
    // One animation step every 100 ms, on every window system.
    static constexpr std::chrono::milliseconds TickLength{100};
    // When the tick after one due at 'due' and run at 'now' is due: one
    // length later; after a stall (a suspended process, a busy machine) one
    // length from now, so the figures go on at their pace rather than
    // catching up in a burst.
    static Clock::time_point nextTickDue(Clock::time_point due, Clock::time_point now);

    explicit SceneDriver(const TIForm& frames);
    ~SceneDriver();
    SceneDriver(const SceneDriver&) = delete;
    SceneDriver& operator=(const SceneDriver&) = delete;

    // Builds the scene on 'canvas' (which keeps the desktop snapshot and whose
    // size is the surface's), draws the snapshot, seeds the random source from
    // the time of day, starts the animation, paints and presents. screenSize
    // is asked afresh at every placement and edge test (default: the canvas
    // size). A scene running already is replaced.
    void start(std::unique_ptr<Canvas> canvas, std::function<QSize()> screenSize = {});
    // The same from a given seed: a run replayed exactly.
    void start(std::unique_ptr<Canvas> canvas, std::uint32_t seed, std::function<QSize()> screenSize = {});
    // One tick: the scene's animation step, then the leftover paint pass,
    // then the union of everything drawn during the tick handed to the canvas
    // in ONE present (made even when nothing was drawn). Should the step
    // fail, what it drew is still presented before the failure goes on.
    void tick();
    // The display lost these pixels (device coordinates): mark them pending, paint, present.
    void exposed(const QRegion& device);
    // After a close query, whatever the answer: the snapshot over everything, presented.
    void redrawBackdrop();
    // Frees the sprites; nothing paints or presents any more.
    void close();
    // Drops the scene and its canvas (freeing what the display keeps for it).
    void reset();

    bool running() const { return m_scene != nullptr && !m_closed; }
    // A figure takes the mouse event here.
    bool spriteAt(QPoint device) const;
    // Null before start and after close. For tests and checks.
    SaverScene* scene() { return running() ? m_scene.get() : nullptr; }
    const SaverScene* scene() const { return running() ? m_scene.get() : nullptr; }

private:
    void paintAndPresent();

    const TIForm& m_frames;
    std::unique_ptr<SaverScene> m_scene;
    bool m_closed = false;
};

} // namespace hakop
