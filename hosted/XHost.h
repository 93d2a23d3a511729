#pragma once
// What the guest asks of the X server about its host: the window's size, a
// window of its own when nobody gives one, and the desktop picture a host may
// leave on its window. Plain xcb, so errors come back to us as values and
// nothing is ever printed on our behalf.
#include <QImage>
#include <QSize>

#include <cstdint>
#include <optional>
#include <string>

struct xcb_connection_t;
struct xcb_screen_t;

namespace hakop::hosted {

// The screen of the connection's default screen number.
xcb_screen_t* defaultScreen(xcb_connection_t* c, int screenNumber);

// The window's size; empty when there is no such window.
std::optional<QSize> windowSize(xcb_connection_t* c, std::uint32_t window);

// The root window of the screen the window is on; 0 when there is no such window.
std::uint32_t windowRoot(xcb_connection_t* c, std::uint32_t window);

// Asks for the structure changes (resize, destruction) and exposures of a
// window; other clients' choices on it are not touched.
void watchWindow(xcb_connection_t* c, std::uint32_t window);

// A top-level window of our own, mapped, that asks the window manager for a
// close message (see deleteWindowAtom) instead of being killed.
std::uint32_t createOwnWindow(xcb_connection_t* c, xcb_screen_t* screen, QSize size);
std::uint32_t deleteWindowAtom(xcb_connection_t* c);

// The desktop picture a screensaver host stored as the pixmap property
// _SCREENSAVER_SCREENSHOT, read from 'window' first, then from 'root'. Null
// when neither has one; when one exists but cannot be read, also null, with
// the reason in 'problem'.
QImage readHostScreenshot(xcb_connection_t* c, std::uint32_t window, std::uint32_t root, std::string& problem);

} // namespace hakop::hosted
