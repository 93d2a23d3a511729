#pragma once
// The saver's rules, once for every window system. A shell turns its window
// system's events into these calls and does what they answer ("close now");
// the session asks the shell, through SaverShell, for what only a window
// system can do (let go of the input, redraw the snapshot). What it decides:
//
//  - which input asks the window to close: every key but Tab and Shift+Tab
//    without Ctrl or Alt; a mouse move of more than 5 device pixels on
//    either axis since the last one that reached the window, the first only
//    recorded; moves over a figure are the figure's, and a held left button
//    keeps them where it was pressed; the keyboard taken by another window
//    (a fullscreen window is not above everything) and the window system
//    asking the window to close count as input too: the saver must not go
//    on believing it holds the keys, so it asks to close, through the
//    verifier, and says so once;
//  - the close query: the cursor shown, the verifier asked (a failure is a
//    refusal: the screen stays covered), what reached the saver meanwhile
//    dropped, the cursor hidden again and the snapshot redrawn, whatever
//    the answer;
//  - the cursor: hidden by the display counter from the start, shown only
//    while the verifier is asked.
//
// One thread: the shell's event thread.
#include "saver/InputRules.h"

#include <QPoint>
#include <QPointF>
#include <Qt>

#include <cstdint>

namespace hakop {

class Verifier;

// What a shell does for the session in its window system's terms.
class SaverShell {
public:
    virtual ~SaverShell() = default;
    // The cursor's display counter crossed between hidden and shown.
    virtual void showCursor(bool visible) = 0;
    // Whether a figure takes the mouse at this point of the figures' surface
    // (device pixels).
    virtual bool figureAt(QPoint device) = 0;
    // Before the verifier is asked: let go of keyboard and pointer, so that a
    // prompt can have them, and send what is queued.
    virtual void letGoOfInput() = 0;
    // After it answered: what reached the saver meanwhile belonged to the
    // question; drop it. The session ignores input while this runs.
    virtual void dropInputSoFar() = 0;
    virtual void holdInputAgain() = 0;
    // The snapshot over everything, shown.
    virtual void redrawBackdrop() = 0;
};

// Where a pointer event happened.
struct PointerAt {
    // Which of the shell's surfaces (one per output on Wayland; the window on
    // X11): each counts from its own corner.
    const void* surface = nullptr;
    QPointF position; // in the surface's logical coordinates
    qreal scale = 1; // device pixels per logical one
    bool figures = true; // the figures play on this surface
};

class SaverSession {
public:
    explicit SaverSession(SaverShell& shell);
    ~SaverSession();
    SaverSession(const SaverSession&) = delete;
    SaverSession& operator=(const SaverSession&) = delete;

    // Asked before the saver closes; not owned. Null: nothing guards the
    // screen and every close request is granted.
    void setVerifier(Verifier* verifier) { m_verifier = verifier; }

    // The window exists: the cursor is hidden (one ShowCursor(false)), the
    // shell told of it from now on, and the mouse counts from nothing.
    void begin();

    // Input, decoded. True: the window is asked to close, and the shell runs
    // its close query. Nothing asks while the query runs or once closed.
    bool keyDown(int key, Qt::KeyboardModifiers modifiers);
    bool keysymDown(std::uint32_t keysym, bool ctrl, bool alt);
    bool pointerEntered(const PointerAt& at);
    bool pointerMoved(const PointerAt& at, bool leftHeld);
    void leftButton(bool pressed, const PointerAt& at);
    // Another window took the keys, or the desktop never gave them to the
    // saver (GNOME's open overview keeps them): input the saver cannot see.
    // Asks to close, every time; either is said once.
    bool keyboardLost();
    bool keyboardNeverCame();
    bool closeRequested();

    // The close query; 'window' names the parent of a prompt (0: none).
    // True: the saver may close. A request while one runs, or after close,
    // is answered no at once.
    bool closeQuery(unsigned long window);
    // The saver closes: nothing is asked, and no input counts, any more.
    void close();
    bool closed() const { return m_state == State::Closed; }

    // The last mouse position recorded, in device pixels.
    QPoint lastMousePosition() const { return m_mouse.last(); }
    // A logical position in device pixels, rounded half up on each axis.
    static QPoint devicePoint(QPointF logical, qreal scale);

private:
    enum class State { Running, Asking, Closed };
    bool ask(unsigned long window);

    SaverShell& m_shell;
    Verifier* m_verifier = nullptr;
    MouseThreshold m_mouse;
    LeftCapture m_leftCapture;
    const void* m_lastSurface = nullptr;
    State m_state = State::Running;
    bool m_begun = false;
    bool m_toldKeyboardLost = false;
    bool m_toldKeyboardNeverCame = false;
};

} // namespace hakop
