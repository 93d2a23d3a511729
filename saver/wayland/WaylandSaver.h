#pragma once
// The saver as a native Wayland client, a shell like the X11 window. Every
// output is copied first, then covered by a surface of ours showing its
// frozen picture (OutputCovers: an overlay surface, or a fullscreen window
// where the compositor has no layer shell); the figures play on the first
// output the compositor advertised. A small poll loop runs the scene's ticks
// and hands the seat's input to the rules every saver shares (SaverSession),
// which ask the same verifier (window 0: there is no X window). Our surfaces
// stay mapped while the verifier runs.
#include "saver/SaverSession.h"
#include "wayland/OutputCovers.h"

#include <QPointF>
#include <QRegion>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

struct wl_surface;

namespace hakop::platform::wayland {
class Connection;
class KeyboardWatch;
struct Output;
} // namespace hakop::platform::wayland

namespace hakop {

class SceneDriver;
class TIForm;
class Verifier;

enum class WaylandSaverEnd {
    Closed, // by the close rules, or the figures' output went away
    ConnectionLost,
    NoOutput, // the compositor has no output to cover
};

class WaylandSaver : private SaverShell {
public:
    // 'connection' must offer the layer shell or xdg-shell; screen copy is optional (a
    // neutral backdrop stands in, and one line says so).
    WaylandSaver(platform::wayland::Connection& connection, Verifier* verifier, const TIForm& frames);
    ~WaylandSaver();
    WaylandSaver(const WaylandSaver&) = delete;
    WaylandSaver& operator=(const WaylandSaver&) = delete;

    WaylandSaverEnd run();

private:
    bool FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormKeyDown(std::uint32_t keysym, bool ctrl, bool alt);
    void FormMouseMove(const PointerAt& at, bool leftHeld);
    void Timer1Timer();

    // What the session asks of the surfaces.
    void showCursor(bool) override {} // the seat shows none over our surfaces
    bool figureAt(QPoint device) override;
    void letGoOfInput() override;
    void dropInputSoFar() override;
    void holdInputAgain() override {} // nothing was let go: our surfaces stayed up
    void redrawBackdrop() override;

    // Waits for events or the next tick; false once the connection is lost.
    bool waitAndDispatch(std::chrono::steady_clock::time_point until);
    void noticeKeyboardElsewhere();
    void connectSeat();
    PointerAt pointerAt(wl_surface* surface, QPointF at);

    platform::wayland::Connection& m_connection;
    const TIForm& m_frames;
    std::unique_ptr<SceneDriver> m_driver;
    std::unique_ptr<platform::wayland::OutputCovers> m_covers;
    platform::wayland::OutputCovers::Cover* m_figures = nullptr; // the figures' output's cover
    SaverSession m_session;
    bool m_closeAsked = false;
    std::unique_ptr<platform::wayland::KeyboardWatch> m_keyboard;
};

// Saver mode on a Wayland display that offers the layer shell or xdg-shell: the saver
// with the installed verifier, run until it ends.
WaylandSaverEnd runWaylandSaverMode(platform::wayland::Connection& connection);

} // namespace hakop
