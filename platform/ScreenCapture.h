#pragma once
// Copies what the X server shows on the display's default screen (the one
// DISPLAY names) into an image, in device pixels.
#include <QImage>
#include <QRect>

namespace hakop::platform {

// The root window of the default screen, in device pixels, at (0, 0).
QRect rootRect(void* display);

// Copies 'area' of the default screen (root-window device pixels) into an RGB32 image of
// area's size with area's top-left at (0, 0). Whatever of 'area' lies beyond
// the root window stays black. display is an Xlib Display*; a null display or
// an empty area gives an image of the asked size, all black.
QImage captureScreen(void* display, const QRect& area);

} // namespace hakop::platform
