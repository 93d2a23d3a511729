#pragma once
// Copies what the X server shows on the display's default screen (the one
// DISPLAY names) into an image, in device pixels.
#include <QImage>
#include <QRect>

#include <cstdint>

namespace hakop::platform {

// The root window of the default screen, in device pixels, at (0, 0).
QRect rootRect(void* display);

// Copies 'area' of the default screen (root-window device pixels) into an RGB32 image of
// area's size with area's top-left at (0, 0). Whatever of 'area' lies beyond
// the root window stays black. display is an Xlib Display*; a null display or
// an empty area gives an image of the asked size, all black.
QImage captureScreen(void* display, const QRect& area);

} // namespace hakop::platform

namespace hakop::platform {

// The server copies 'area' of screen 0's root window (device pixels, with the
// windows on it) into a new pixmap of 'area's size, made for 'window' (its
// depth and screen); whatever of 'area' lies beyond the root stays black.
// Nothing passes through our memory. connection is an xcb_connection_t*.
// Returns the pixmap, which the caller frees, or 0 when the server cannot
// make it or the window's depth is not the root's.
std::uint32_t copyRootToPixmap(void* connection, std::uint32_t window, const QRect& area);
// Frees a pixmap made above (0 is ignored).
void freePixmap(void* connection, std::uint32_t pixmap);

} // namespace hakop::platform
