#pragma once
// What the guest asks of the X server about its host: the window's size, a
// window of its own when nobody gives one, and the desktop picture a host may
// leave on its window. Plain xcb, so errors come back to us as values and
// nothing is ever printed on our behalf.
#include "x11/XPixelFormat.h"

#include <QImage>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Gives a window we drew on but do not own (the root) its own background
// back, with exposures so its other clients draw their part again; returns
// once the server has done it.
void clearWindow(xcb_connection_t* c, std::uint32_t window);

// A top-level window of our own, mapped, that asks the window manager for a
// close message (see deleteWindowAtom) instead of being killed.
std::uint32_t createOwnWindow(xcb_connection_t* c, xcb_screen_t* screen, QSize size);
std::uint32_t deleteWindowAtom(xcb_connection_t* c);

// The desktop picture a screensaver host stored as the pixmap property
// _SCREENSAVER_SCREENSHOT, read from 'window' first, then from 'root'. Null
// when neither has one; when one exists but cannot be read, also null, with
// the reason in 'problem'.
QImage readHostScreenshot(xcb_connection_t* c, std::uint32_t window, std::uint32_t root, std::string& problem);

// Writes pixels kept in memory into a window of any true-colour format with
// 16, 24 or 32 bits a pixel, for windows whose pixels the X server cannot
// keep for us.
class PixelWriter {
public:
    // Null when the window is gone or its format is none of those.
    static std::unique_ptr<PixelWriter> create(xcb_connection_t* c, std::uint32_t window);
    ~PixelWriter();
    PixelWriter(const PixelWriter&) = delete;
    PixelWriter& operator=(const PixelWriter&) = delete;

    // Sends 'region' of 'pixels' (RGB32, the window's size) to the window.
    void put(const QImage& pixels, const QRegion& region);

private:
    PixelWriter() = default;

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    std::uint8_t m_depth = 0;
    x11::XPixelFormat m_format;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace hakop::hosted
