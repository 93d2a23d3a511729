#pragma once
// Keeping one top-level window on top of its screen and mapped, as a saver
// must while other clients map notifications, menus or prompts, raise their
// own windows or unmap ours. The watch only tells what changed; what to do
// about it is the caller's rule.
#include "CompositeOverlay.h"
#include "YieldingCover.h"
#include "x11/XHandles.h"
#include <functional>
#include <memory>

class QSocketNotifier;

namespace hakop::platform {

// Watches the root window of 'window's screen on a connection of its own
// (so no selection of the toolkit's is disturbed) and reports, on the
// thread that owns the event loop, when something may have come above
// 'window' or when 'window' was unmapped or mapped.
class StackingWatch {
public:
    // Compositing: a compositing manager started or ended (see enterOverlay).
    // OverlayRestored: another client unmapped or shaped the overlay, or kept
    // a window of its own above ours there; undone already (see
    // CompositeOverlay.h).
    enum class Change { SomethingAbove, Unmapped, Mapped, Destroyed, Compositing, OverlayRestored };
    using Listener = std::function<void(Change)>;

    // display is an Xlib Display* naming the display to watch (its own
    // connection is opened from its name). Watches nothing when the display
    // cannot be opened again; works() says so.
    StackingWatch(Display* display, unsigned long window, Listener listener);
    ~StackingWatch();
    StackingWatch(const StackingWatch&) = delete;
    StackingWatch& operator=(const StackingWatch&) = delete;

    bool works() const { return m_dpy != nullptr; }
    // Called, on the event loop, after events about the window or its
    // siblings were read: something may have changed that is worth a look.
    std::function<void()> onActivity;
    // The watch's own connection (an Xlib Display*) and the window's root,
    // for other requests about the window; null when it does not work.
    Display* connection() const { return m_dpy; }
    unsigned long root() const { return m_root; }

    // Reports the window's state as it is now, as if every kind of event had
    // come: Destroyed, else Unmapped when it is not viewable, and
    // SomethingAbove. Also hears any event an earlier request read ahead.
    // Not while yielding.
    void check();

    // True when the window is viewable and no viewable sibling lies above it.
    bool onTop();
    bool viewable() const;
    // While on, a YieldingCover holds the window on the watch's connection
    // (the event loop may be blocked meanwhile, as while the verifier is
    // asked): only this process's children's windows may lie above it. Off
    // stops the cover.
    void yieldToNewWindows(bool on);
    bool yielding() const;
    // What covers the window's place should it be destroyed while yielding,
    // when the event loop that would build a new window is blocked: a
    // stand-in of the watch's own showing 'picture' (an X pixmap of the
    // window's size; 0: black), which lasts as long as the watch. Before
    // yielding.
    void setStandInPicture(unsigned long picture) { m_picture = picture; }
    // Whether a stand-in was needed (and said so). Not while yielding.
    bool stoodIn() const;
    // Raises the window over every sibling, mapping it if it is unmapped;
    // the server has done so when this returns.
    void raise();

    // Moves the window into the Composite overlay (see CompositeOverlay.h),
    // above every other client's window whatever they do; from then on its
    // siblings are the overlay's other children. Not while yielding.
    CompositeOverlay::Entry enterOverlay();
    // Back among the root's children, on top of them: where a prompt or a
    // failure box can show above it. Also done when the watch ends.
    void leaveOverlay();
    // Where the window belongs now: the overlay, else the root.
    unsigned long home() const;

private:
    void drain(bool always = false);
    void drainLater();

    Display* m_dpy = nullptr; // own connection
    unsigned long m_window;
    unsigned long m_root = 0;
    unsigned long m_picture = 0;
    Listener m_listener;
    std::unique_ptr<CompositeOverlay> m_overlay;
    bool m_gone = false; // reported destroyed
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<YieldingCover> m_cover; // the last one, kept for its stand-in
};

} // namespace hakop::platform
