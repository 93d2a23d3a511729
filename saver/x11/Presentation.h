#pragma once
// The saver's hold on the running scene: the desktop's picture and the
// primary screen's size it is built from, the lock around the scene driver,
// and the window's rules for reaching it.
//
// The scene is touched from two threads: Timer1's (the ticks) and the GUI
// thread (input, exposes, the close query). Every touch goes through this
// class under its one lock, so they take turns as on a single thread. Never
// stop Timer1 while holding the lock: stop() waits for a tick under way, and
// that tick waits for the lock. (THAKOPForm::FormClose stops the timer first,
// then calls close().)
//
// The way to the screen: a ServerCanvas, whose pixmap the X server keeps as
// the window's background, so the toolkit paints nothing.
#include "engine/SceneDriver.h"

#include <QMetaObject>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QWidget;

namespace hakop {

class TIForm;

class Presentation {
public:
    explicit Presentation(QWidget& window);
    ~Presentation();
    Presentation(const Presentation&) = delete;
    Presentation& operator=(const Presentation&) = delete;

    // The primary screen's place and size in the toolkit's pixels. Throws
    // when there is no screen.
    static QRect primaryScreenGeometry();

    // Takes the input (holdInput) and has the X server copy the primary
    // screen beneath the window into a pixmap at that very moment, then
    // builds the scene over it (the canvas owns it) and shows it: the
    // picture first, then the figures, which follow the screen's size from
    // now on. GUI thread, once the window is mapped. Returns the pixmap (0:
    // the server could not copy the desktop; the saver shows it black).
    // Throws when the server has no room for the picture; the window is
    // black then, and the scene starts (over black) as soon as the server
    // has room.
    std::uint32_t start(const TIForm& frames, const std::function<void()>& holdInput);
    // Closes the scene: the figures are freed and nothing paints any more.
    // Timer1 must be stopped already (see above).
    void close();

    // The running scene, or null. Only for whoever holds the lock (a tick,
    // or a test while Timer1 is stopped).
    SaverScene* scene() const { return m_driver ? m_driver->scene() : nullptr; }

    // Timer1's thread: one tick of the scene under the lock; the tick's
    // changes go to the server in one write.
    void tick();
    std::function<void()> onTickFinishedForTesting;

    // GUI thread, each under the lock.
    bool spriteAt(QPoint devicePoint);
    void redrawBackdrop();
    void exposed(const QRegion& logical);
    // The window has a new native window (the old one was destroyed): the
    // picture and the figures go on there.
    void windowRebuilt();

private:
    // Builds and shows the scene; false when the server cannot keep its picture.
    bool begin(std::uint32_t snapshot);
    void retryStart();
    // Keeps m_screenSize the primary screen's, whichever that is.
    void followPrimaryScreen();
    QRect toDevice(const QRect& logicalRect) const;

    QWidget& m_window;
    mutable std::mutex m_lock;
    std::unique_ptr<SceneDriver> m_driver;
    QSize m_screenSize; // device pixels; the animation reads it from Timer1's thread
    QTimer m_retry;
    QMetaObject::Connection m_screenWatch;
    // What the scene is built from, kept for a start that has to wait.
    QSize m_size;
    const TIForm* m_frames = nullptr;
    bool m_closed = false;
};

} // namespace hakop
