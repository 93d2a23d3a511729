#pragma once
// The guest: HAKOP's scene playing in a window a screensaver host owns. It
// draws only into that window, at that window's size, and leaves input, the
// cursor and the window itself to the host.
#include <QImage>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace hakop {
class SceneDriver;
class TIForm;
} // namespace hakop

namespace hakop::hosted {

// Where a guest's run ended.
enum class GuestEnd {
    Asked, // a signal, or our own window was closed
    WindowGone, // the host destroyed its window
    DisplayLost, // the X connection broke
};

class Guest {
public:
    // window: where to draw (watched already, see watchWindow); ownWindow: it is
    // ours, so a close message from the window manager ends the run.
    // backdrop: the picture to fit to the window, or null for the built-in one.
    Guest(xcb_connection_t* connection, std::uint32_t window, bool ownWindow, QImage backdrop,
          const TIForm& frames);
    ~Guest();
    Guest(const Guest&) = delete;
    Guest& operator=(const Guest&) = delete;

    // Runs until it should end. signalFd is read one byte per signal number
    // caught: SIGUSR1 starts the scene afresh (once for all those waiting),
    // any other ends the run.
    GuestEnd run(int signalFd);

private:
    // A new scene at the window's current size: the clean backdrop, new seed.
    void startScene();
    void tick();
    // Handles every queued X event; false when the run is over ('end' says why).
    bool handleEvents(GuestEnd& end);
    void stopScene();

    xcb_connection_t* m_connection;
    std::uint32_t m_window;
    bool m_ownWindow;
    QImage m_backdropSource;
    const TIForm& m_frames;
    QSize m_size;
    QSize m_newSize; // from the latest resize seen, not yet followed
    std::unique_ptr<SceneDriver> m_driver;
};

} // namespace hakop::hosted
