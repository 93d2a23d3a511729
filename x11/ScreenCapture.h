#pragma once
// The desktop as the X server shows it, copied by the server itself.
#include <QRect>

#include <cstdint>

struct xcb_connection_t;

namespace hakop::x11 {

// The server copies 'area' of screen 0's root window (device pixels, with the
// windows on it) into a new pixmap of 'area's size, made for 'window' (its
// depth and screen); whatever of 'area' lies beyond the root stays black.
// Nothing passes through our memory. Returns the pixmap, which the caller
// frees, or 0 when the server cannot make it or the window's depth is not
// the root's.
std::uint32_t copyRootToPixmap(xcb_connection_t* connection, std::uint32_t window, const QRect& area);

} // namespace hakop::x11
