#pragma once
// The hidden, zero-size X11 window titled "HAKOP" that stands for the program
// (the parent of the password-change dialog). One per process.
#include "XHandles.h"
#include <cstdint>

namespace hakop::platform {

class ApplicationWindow {
public:
    // Creates the window on the given Xlib display (a Display*).
    explicit ApplicationWindow(Display* display);
    ~ApplicationWindow();
    ApplicationWindow(const ApplicationWindow&) = delete;
    ApplicationWindow& operator=(const ApplicationWindow&) = delete;

    std::uint32_t id() const { return m_window; }
    void hide();

    // The program's one instance, or nullptr before start-up created it.
    static ApplicationWindow* instance();

private:
    Display* m_display;
    std::uint32_t m_window = 0;
};

} // namespace hakop::platform
