#pragma once
// Copies what the X server shows on screen 0 into an image, in device pixels.
#include <QImage>
#include <QRect>

namespace hakop::platform {

// The root window of screen 0, in device pixels, at (0, 0).
QRect rootRect(void* display);

// Copies 'area' of screen 0 (root-window device pixels) into an RGB32 image of
// area's size with area's top-left at (0, 0). Whatever of 'area' lies beyond
// the root window stays black. display is an Xlib Display*; a null display or
// an empty area gives an image of the asked size, all black.
QImage captureScreen(void* display, const QRect& area);

} // namespace hakop::platform
