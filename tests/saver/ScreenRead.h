#pragma once
// What the X server shows on the display's default screen, read into an
// image the way a user's screenshot tool would. Through the program's own
// pixel converter, so a 16-bit or 30-bit screen reads as it would for the
// canvas.
#include <QImage>
#include <QRect>

using Display = struct _XDisplay;

namespace hakop::test {

// 'area' of the default screen (device pixels) as RGB32, area's top-left at
// (0, 0); whatever lies beyond the root window, or cannot be read, is black.
QImage captureScreen(Display* display, const QRect& area);

} // namespace hakop::test
