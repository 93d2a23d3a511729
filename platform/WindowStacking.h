#pragma once
// Keeping one top-level window on top of its screen and mapped, as a saver
// must while other clients map notifications, menus or prompts, raise their
// own windows or unmap ours. The watch only tells what changed; what to do
// about it is the caller's rule.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QSocketNotifier;

namespace hakop::platform {

// Watches the root window of 'window's screen on a connection of its own
// (so no selection of the toolkit's is disturbed) and reports, on the
// thread that owns the event loop, when something may have come above
// 'window' or when 'window' was unmapped or mapped.
class StackingWatch {
public:
    enum class Change { SomethingAbove, Unmapped, Mapped };
    using Listener = std::function<void(Change)>;

    // display is an Xlib Display* naming the display to watch (its own
    // connection is opened from its name). Watches nothing when the display
    // cannot be opened again; works() says so.
    StackingWatch(void* display, unsigned long window, Listener listener);
    ~StackingWatch();
    StackingWatch(const StackingWatch&) = delete;
    StackingWatch& operator=(const StackingWatch&) = delete;

    bool works() const { return m_dpy != nullptr; }

    // True when the window is viewable and no viewable sibling lies above it.
    bool onTop() const;
    bool viewable() const;
    // While on, the watch runs on a thread of its own (the event loop may be
    // blocked meanwhile, as while the verifier is asked) and keeps each
    // window mapped in that time above the watched one, window-manager frames
    // included: a prompt shows over the saver. Off joins the thread.
    void yieldToNewWindows(bool on);
    // Raises the window over every sibling, mapping it if it is unmapped;
    // the server has done so when this returns.
    void raise();

private:
    void drain();
    void yieldLoop();

    void* m_dpy = nullptr; // own connection
    unsigned long m_window;
    unsigned long m_root = 0;
    Listener m_listener;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::thread m_yielding;
    std::atomic<bool> m_stopYielding{false};
};

// Whether a screen whose default visual is of 'visualClass' (X's TrueColor,
// PseudoColor, ... constants) with 'depth' bits can show the saver's colours:
// only true-colour visuals of 15 bits or more can.
bool colourScreen(int visualClass, int depth);
// The same question for the default screen of an Xlib Display*; 'why' gets a
// sentence describing an unusable screen.
bool defaultScreenShowsColour(void* display, std::string* why);

} // namespace hakop::platform
