#pragma once
// The saver window: a borderless, always-on-top window over the primary screen
// showing the frozen desktop, with the figures playing on it. It is a thin
// shell: every handler forwards to the engine (SaverScene), whose surface is
// kept by the X server (platform::ServerCanvas), which also shows it; the
// toolkit paints nothing.
//
// Ticks run on Timer1's own thread, so the GUI thread sleeps between input
// events. The scene, and everything that carries its changes to the screen,
// is only touched under the scene lock; the handlers take turns on it as they
// would on a single thread.
#include "SaverScene.h"
#include "TickTimer.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace hakop {

class TIForm;
namespace platform {
class InputGrab;
class ServerCanvas;
}

// The last mouse position that reached the window, in device pixels; both 0
// until the first mouse move is recorded. Program-wide, like the password
// library below, and not per window.
extern std::int32_t LastX;
extern std::int32_t LastY;

// The key-downs the saver keeps running through: Tab, with or without Shift,
// but not with Ctrl or Alt (they go to focus handling, and there is nothing to
// move the focus to). Every other key-down asks the window to close.
bool keyKeepsSaver(int key, Qt::KeyboardModifiers modifiers);

class THAKOPForm : public QWidget {
    Q_OBJECT

public:
    // Builds the window as its form description says, starts Timer1 and runs
    // FormCreate: afterwards the native window exists, unmapped, with its
    // class set, and the X server holds a snapshot of the desktop.
    explicit THAKOPForm(QWidget* parent = nullptr);
    ~THAKOPForm() override;

    // The frame store the figures are drawn from; needed before the window is shown.
    void setFrameStore(const TIForm* frames) { m_frames = frames; }

    // The running scene: null before FormShow. Read it only while Timer1 is stopped.
    SaverScene* scene() const { return m_scene.get(); }
    // The desktop snapshot, read back from the X server: null before the
    // window is shown and once it has closed. Slow: for checks.
    QImage Backdrop() const;
    // True once FormClose has run: from then on the window handles nothing.
    bool isFormClosed() const { return m_closed; }
    // True when the window holds both the keyboard and the pointer grab.
    bool holdsInput() const;

    TickTimer Timer1;
    // Runs after every tick that found a scene, on Timer1's thread and under
    // the scene lock, once the tick's changes have gone to the screen. For tests.
    std::function<void()> onTickFinishedForTesting;

signals:
    // After FormClose: the saver is over.
    void formClosed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    QPaintEngine* paintEngine() const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Handlers, in the order they run in a normal saver run.
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormKeyDown();
    void FormMouseMove(std::int32_t x, std::int32_t y);
    void Timer1Timer();

    // Which window gets the moves while the left button is held.
    enum class LeftCapture { None, Window, Sprite };

    // Timer1's thread: the tick, its leftover pass and its trip to the server.
    void onTick();
    // The leftover paint pass, then whatever the surface changed goes to the
    // screen, in one wake-up: at the end of a tick, or in the event loop's
    // turn after an expose. The Locked one expects the scene lock held.
    void finishPending();
    void finishPendingLocked();
    void queueFinish();
    bool spriteAt(QPoint devicePoint);
    void refreshScreenSize();
    void surfaceChanged(const QRegion& changed);
    void takeInput();
    QPoint devicePosition(const QMouseEvent* event) const;
    QRect toDevice(const QRect& logicalRect) const;

    const TIForm* m_frames = nullptr;
    // The desktop snapshot on the X server, until FormShow hands it to the canvas.
    std::uint32_t m_snapshot = 0;
    QSize m_snapshotSize;
    // The surface's pixels on the X server; owned by the scene's surface.
    platform::ServerCanvas* m_canvas = nullptr;
    std::unique_ptr<SaverScene> m_scene;
    std::mutex m_sceneLock;
    QSize m_screenSize; // device pixels, kept current by the GUI thread; under the scene lock
    std::unique_ptr<platform::InputGrab> m_grab;
    QTimer m_finish;
    QTimer m_grabRetry;
    int m_grabAttempts = 0;
    LeftCapture m_leftCapture = LeftCapture::None;
    bool m_shown = false;
    bool m_finishQueued = false;
    bool m_inTick = false; // the tick finishes what it queues
    bool m_inCloseQuery = false;
    bool m_closed = false;
};

} // namespace hakop
