#include "WindowTree.h"

#include <X11/Xlib.h>

namespace hakop::platform {

std::optional<WindowTree> queryTree(Display* display, unsigned long window)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (display == nullptr || XQueryTree(display, window, &root, &parent, &children, &count) == 0)
        return std::nullopt;
    WindowTree tree{root, parent, std::vector<unsigned long>(children, children + count)};
    if (children != nullptr)
        XFree(children);
    return tree;
}

} // namespace hakop::platform
