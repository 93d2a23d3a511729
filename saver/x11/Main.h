#pragma once
// The saver window: a borderless, always-on-top window over the primary screen
// showing the frozen desktop, with the figures playing on it. A shell: its
// handlers turn the toolkit's events into calls on the rules every saver
// shares (SaverSession) and do what they answer; Presentation carries the
// scene to the screen.
//
// One tick, from the timer to the screen:
//
//   Timer1 (TickTimer, its own thread) wakes
//     -> THAKOPForm::Timer1Timer
//       -> Presentation::tick: takes the scene lock
//         -> SceneDriver::tick -> SaverScene::tick -> Animation::Step
//              (per sprite: silhouette, Surface paint pass, state step, colour frame)
//            -> the leftover paint pass
//            -> ServerCanvas::present(what the surface drew): copies to the
//               window and one write to the server
//     <- lock released; the thread sleeps until the next interval
//
// Everything else that touches the scene (input, exposes, the close query)
// runs on the GUI thread and goes through Presentation under the same lock;
// the rule that keeps the lock safe is written at the top of Presentation.h.
//
// Closing: a key or a mouse move -> close() -> closeEvent -> FormCloseQuery
// (SaverSession::closeQuery: cursor shown, the keeper pauses and releases
// the grabs, Verifier::mayClose, the input that reached the window meanwhile
// dropped, the keeper resumes and takes the grabs back, cursor hidden, the
// snapshot redrawn) -> FormClose (Timer1 stopped, then the scene closed)
// -> formClosed.
//
// ScreenKeeper holds the input and keeps the window mapped and on top for
// the whole run; a failure box pauses it while it is open. The window's
// native side (made the saver's, built again when destroyed, the keeper's
// plumbing) is in FormWindow.cpp.
#include "saver/SaverSession.h"
#include "Presentation.h"
#include "ScreenKeeper.h"
#include "platform/TickTimer.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace hakop {

namespace platform {
class InputFence;
}
class TIForm;
class Verifier;

class THAKOPForm : public QWidget, private SaverShell {
    Q_OBJECT

public:
    // Builds the window as its form description says, starts Timer1 and runs
    // FormCreate: afterwards the native window exists, unmapped, with its
    // class set. The desktop snapshot is taken once it is mapped. Throws
    // SetupFailure when there is no timer to be had, UnusableScreen when the
    // screen cannot show the saver's colours.
    explicit THAKOPForm(QWidget* parent = nullptr);
    ~THAKOPForm() override;

    // What is asked before the window closes; not owned, and it must outlive
    // the window's close. Null (the default): nothing guards the screen.
    void setVerifier(Verifier* verifier) { m_session.setVerifier(verifier); }

    // The frame store the figures are drawn from; needed before the window is shown.
    void setFrameStore(const TIForm* frames) { m_frames = frames; }

    // The running scene: null before FormShow. Read it only while Timer1 is stopped.
    SaverScene* scene() const { return m_presentation.scene(); }
    // The desktop snapshot, read back from the X server: null before the
    // window is shown and once it has closed. Slow: for checks.
    QImage Backdrop() const;
    // True once FormClose has run: from then on the window handles nothing.
    bool isFormClosed() const { return m_session.closed(); }
    // True when the window holds both the keyboard and the pointer grab.
    bool holdsInput() const;
    // The last mouse position the threshold recorded, in device pixels.
    QPoint lastMousePosition() const { return m_session.lastMousePosition(); }

    platform::TickTimer Timer1;
    // Runs after every tick that found a scene, on Timer1's thread and under
    // the scene lock, once the tick's changes have gone to the screen. For tests.
    std::function<void()>& onTickFinishedForTesting = m_presentation.onTickFinishedForTesting;

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
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void FormMouseMove(QPointF at, bool leftHeld);
    void Timer1Timer();

    // What the session asks of the window.
    void showCursor(bool visible) override;
    bool figureAt(QPoint device) override;
    void letGoOfInput() override;
    void dropInputSoFar() override;
    void holdInputAgain() override;
    void redrawBackdrop() override;

    void adoptWindow();
    void rebuildWindow();
    PointerAt pointerAt(QPointF at) const;

    const TIForm* m_frames = nullptr;
    Presentation m_presentation;
    SaverSession m_session;
    std::unique_ptr<ScreenKeeper> m_keeper;
    std::uint32_t m_snapshot = 0; // the desktop's picture on the server, once taken
    std::unique_ptr<platform::InputFence> m_inputFence; // made at the first close query
    bool m_shown = false;
    bool m_inputAsked = false; // the keeper was asked for the input as the snapshot was taken
};

} // namespace hakop
