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
    // backdrop: the desktop snapshot; its size is the surface size. screenSize is
    // asked afresh at every placement and edge test; by default it is the surface size.
    // pixelServer, when it has the backdrop's size, keeps the surface's pixels
    // and draws them (see Surface(std::unique_ptr<PixelServer>)); otherwise
    // the surface keeps its own in memory.
    SaverScene(QImage backdrop, const TIForm& frames, std::function<QSize()> screenSize = {},
               std::unique_ptr<PixelServer> pixelServer = {});
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

    const QImage& Backdrop() const { return m_backdrop; }
    Surface& surface() { return m_surface; }
    const Surface& surface() const { return m_surface; }
    Animation& animation() { return *m_animation; }
    RandomSource& random() { return m_random; }

private:
    QImage m_backdrop;
    Surface m_surface;
    RandomSource m_random;
    std::unique_ptr<Animation> m_animation;
};

} // namespace hakop
