#pragma once
// What keeps the saver covering the screen for its whole run: it holds the
// keyboard and the pointer, stays above every other window and stays mapped.
// Outside a pause (the verifier's question, a failure box):
//  - a grab it cannot get is retried at every tick for as long as it runs,
//    with one line on stderr when it starts waiting and one when it gets it;
//  - a window mapped or raised above it is covered again, at most once a
//    tick (another program keeping itself on top the same way takes turns
//    with the saver instead of both spinning);
//  - unmapped by another client, it maps itself again and takes its grabs back;
//  - moved, resized, reparented, shaped or renamed (WM_CLASS) by another
//    client, it is put back at the next tick, with one line the first time;
//    its background, set by another client, is put back unannounced (X
//    cannot tell it was changed);
//  - destroyed by another client, the keeper stops and says so (onLost): the
//    owner builds a new window and a new keeper for it.
// A tick after any event about the window or its siblings it also looks at
// the window as a whole (place, parent, shape, class, stacking), so nothing a
// burst of events hid lasts longer than a tick; with no events it sleeps.
// Where the server has the Composite extension, the window lives in its
// overlay, which lies above every other client's window whatever they do (a
// window raised every millisecond included); the overlay unmapped or shaped
// by another client is put right as soon as that is heard, and a window
// another client keeps above the saver inside it is unmapped (one line the
// first time). Without Composite, or under a compositing
// manager that paints onto the root, it stays among the root's children and
// is raised as above. A manager starting or ending gets it judged afresh.
// During a pause the grabs are free and other windows may lie above it: the
// window is back among the root's children meanwhile.
#include "x11/XHandles.h"
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace hakop {

namespace platform {
class InputGrab;
class StackingWatch;
class WindowGuard;
}

// When waiting for the grabs is worth a line: once when another client's grab
// has refused us twice running (a grab held for less than a tick, such as a
// menu closing, is no wait), once when both are finally held; never for the
// attempts between, nor for one made before the window could be grabbed.
class GrabWaitLog {
public:
    // The line for this attempt's outcome, or empty.
    std::string_view attempt(bool held, bool refused);

private:
    int m_refusals = 0; // running
    bool m_waiting = false;
};

class ScreenKeeper : public QObject {
public:
    // display is the toolkit's Xlib Display* (the grabs must belong to the
    // connection the window's events arrive on); window the saver's X id.
    ScreenKeeper(Display* display, unsigned long window, std::chrono::milliseconds tick);
    ~ScreenKeeper() override;

    // The window is on its way to the screen: keep it from now on, and take
    // the input at once unless 'withInput' is false (then takeInput() does).
    void start(bool withInput = true);
    // Takes whatever of the keyboard and the pointer is not held yet, and
    // goes on trying at every tick while another client holds them.
    void takeInput();
    // True while the window lies in the Composite overlay: no window another
    // client maps can reach the screen beneath it then.
    bool inOverlay() const;
    // The saver closes: everything held is given back and nothing kept.
    void stop();
    // Lets go for a while (nests): grabs released, others may stack above.
    // With 'yield' (the verifier's question, while the event loop waits for
    // it), each window mapped meanwhile is put above the saver, so a prompt
    // shows even where a window manager would stack it underneath.
    void pause(bool yield = false);
    // Ends a pause: maps and raises the window and takes the grabs back.
    void resume();

    bool holdsInput() const;

    // The window's picture (an X pixmap, the window's own background, which
    // the canvas draws on): put back should another client set another
    // background, and shown by a stand-in should the window be destroyed
    // while the verifier is asked.
    void setStandInPicture(std::uint32_t picture);
    // Whether a stand-in covered for the window (which then said so).
    bool stoodIn() const;

    // This keeper replaces 'old' for a window rebuilt while paused (a failure
    // box is up): it starts paused as 'old' was, so it leaves the box the
    // input, and the resume that ends the pause comes to it. Before start().
    void takeOverPauses(const ScreenKeeper& old);

    // Called once, from the event loop, after another client destroyed the
    // window; the keeper has stopped by then and may be deleted.
    std::function<void()> onLost;

private:
    void guard();
    void toOverlay(bool in);
    void lost();
    void keep();
    void restack();

    std::unique_ptr<platform::InputGrab> m_grab;
    std::unique_ptr<platform::StackingWatch> m_watch;
    std::unique_ptr<platform::WindowGuard> m_guard;
    Display* m_display;
    unsigned long m_window;
    QTimer m_retry;
    QTimer m_restack; // a raise put off to the next tick
    QTimer m_tick; // the look at the window, a tick after events about it or its siblings
    QElapsedTimer m_sinceRaise;
    GrabWaitLog m_waitLog;
    std::uint32_t m_picture = 0;
    int m_pauses = 0;
    bool m_yielding = false; // in a pause for the verifier
    bool m_running = false;
    bool m_toldUndone = false;
    bool m_toldNoOverlay = false;
    bool m_toldOverlay = false;
};

} // namespace hakop
