#pragma once
// All run-time state of one running saver, free of any window system: the
// desktop snapshot, the surface, the random source and the animation. The
// saver window is a thin shell that forwards its events here; tests and tools
// drive it headless, so two scenes can live side by side in one process.
#include "Animation.h"
#include "Random.h"
#include "Surface.h"
#include <QImage>
#include <functional>
#include <memory>

namespace hakop {

class TIForm;

class SaverScene {
public:
    // canvas: where the surface's pixels live; it keeps the desktop snapshot,
    // and its size is the surface size. screenSize is asked afresh at every
    // placement and edge test; by default it is the surface size.
    SaverScene(std::unique_ptr<Canvas> canvas, const TIForm& frames, std::function<QSize()> screenSize = {});
    // The same in memory (a MemoryCanvas), with 'backdrop' as the snapshot.
    SaverScene(QImage backdrop, const TIForm& frames, std::function<QSize()> screenSize = {});
    ~SaverScene();

    // When the window is about to become visible: draw the snapshot, seed the
    // random source with 'seed', start the animation. The window system's first
    // showing then marks the whole surface pending.
    void show(std::uint32_t seed);
    // One 100 ms tick: the event loop's leftover pass first (if any), then Step.
    void tick();
    // The event loop's pass: paints whatever is pending.
    QRegion paintPending();
    // After a close query, whatever the answer: the snapshot over everything.
    void redrawBackdrop();
    // Closing: free the snapshot's use and the sprites (drawings stay).
    void close();

    // The desktop snapshot as the canvas reads it back (null once closed). For checks.
    QImage Backdrop() const { return m_surface.canvas().backdrop(); }
    Surface& surface() { return m_surface; }
    const Surface& surface() const { return m_surface; }
    Animation& animation() { return *m_animation; }
    RandomSource& random() { return m_random; }

private:
    Surface m_surface;
    RandomSource m_random;
    std::unique_ptr<Animation> m_animation;
};

} // namespace hakop
