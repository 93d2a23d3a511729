#pragma once
// Where a dialog window appears: centred on the primary display, outer frame
// included, the first time it is shown; afterwards where it was last (a move
// by the user included).
//
// On X11 the frame's size is only known once the window manager has
// decorated the window, so the first placement uses the best estimate (the
// frame of a dialog decorated earlier, or none) and is corrected once, as
// soon as the real frame is known.
#include <QMargins>
#include <QDeadlineTimer>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>

#include <optional>

class QWidget;

namespace hakop {

// The formula for one axis pair: each half rounded toward zero, never
// negative, relative to the display's own origin.
QPoint centredFramePosition(const QRect& display, const QSize& outerSize);

// The frame to place by, from what the window manager announces for the
// window (nothing yet, or no announcement at all), whether it announces
// frames, and Qt's own estimate. Null while the frame is not known yet: a
// window manager that announces frames is waited for, since Qt's estimate
// may be taken mid-way through decorating (the frame still 1 x 1, margins
// negative); without announcements only an estimate that surrounds the
// client counts.
QMargins knownFrame(const std::optional<QMargins>& announced, bool managerAnnounces, const QMargins& qtEstimate);

class WindowPlacement : public QObject {
public:
    explicit WindowPlacement(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onShow();
    void onGeometryChange();
    void checkFrame();
    void placeFrame(const QMargins& frame);
    QPoint centred(const QMargins& frame) const;

    QWidget& m_window;
    QPoint m_target;
    bool m_everShown = false;
    bool m_settling = false;   // waiting for the window manager's frame
    bool m_firstShowing = false;
    QTimer m_poll; // the frame's arrival raises no event of its own
    QDeadlineTimer m_settleDeadline;
};

} // namespace hakop
