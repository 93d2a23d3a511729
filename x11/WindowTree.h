#pragma once
// A window's parent and children as the server tells them now, asked in one
// place: the reply's list is Xlib's memory, to be given back on every path.
#include "XHandles.h"

#include <optional>
#include <vector>

namespace hakop::platform {

struct WindowTree {
    unsigned long root = 0;
    unsigned long parent = 0;
    std::vector<unsigned long> children; // bottom to top
};

// Nothing when the window no longer exists. display is an Xlib Display*.
std::optional<WindowTree> queryTree(Display* display, unsigned long window);

} // namespace hakop::platform
