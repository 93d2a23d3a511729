#include "WindowLookup.h"

#include "Failure.h"

#include <X11/Xutil.h>

#include <cstring>
#include <string>
#include <vector>

namespace hakop::platform {

namespace {

// Windows may be destroyed while the tree is walked; the BadWindow errors
// that follow only mean "not this one". Any other error is a fault we sit
// out, and say so once per lookup.
int otherErrors = 0;
unsigned char firstOtherError = 0;

int noteErrors(Display*, XErrorEvent* error)
{
    if (error->error_code != BadWindow && otherErrors++ == 0)
        firstOtherError = error->error_code;
    return 0;
}

bool hasClass(Display* display, Window window, const char* cls)
{
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) == 0)
        return false;
    const bool match = hint.res_class != nullptr && std::strcmp(hint.res_class, cls) == 0;
    if (hint.res_name != nullptr)
        XFree(hint.res_name);
    if (hint.res_class != nullptr)
        XFree(hint.res_class);
    return match;
}

} // namespace

bool windowWithClassExists(Display* display, const char* cls)
{
    if (display == nullptr || cls == nullptr)
        return false;
    XSync(display, False);
    otherErrors = 0;
    const auto previous = XSetErrorHandler(noteErrors);

    bool found = false;
    std::vector<Window> pending;
    pending.reserve(static_cast<std::size_t>(ScreenCount(display)));
    for (int s = 0; s < ScreenCount(display); ++s)
        pending.push_back(RootWindow(display, s));
    while (!found && !pending.empty()) {
        const Window window = pending.back();
        pending.pop_back();
        if (hasClass(display, window, cls)) {
            found = true;
            break;
        }
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 && children != nullptr) {
            pending.insert(pending.end(), children, children + count);
            XFree(children);
        }
    }

    XSync(display, False);
    XSetErrorHandler(previous);
    if (otherErrors > 0)
        logSurvived("ignored " + std::to_string(otherErrors) + " X error(s) (first code "
                    + std::to_string(int(firstOtherError)) + ") while looking for a running saver");
    return found;
}

} // namespace hakop::platform
