#pragma once
// The frame a window manager put around a window, as it announces it
// (_NET_FRAME_EXTENTS).
#include "XHandles.h"
#include <QMargins>

#include <optional>

namespace hakop::platform {

// display is an Xlib Display*. The margins are in device pixels; nothing when
// the window carries no (well-formed) announcement.
std::optional<QMargins> announcedFrameExtents(Display* display, unsigned long window);

// Whether the running window manager says it announces frames (it lists
// _NET_FRAME_EXTENTS in the root's _NET_SUPPORTED).
bool frameExtentsSupported(Display* display);

} // namespace hakop::platform
