#include "WindowLookup.h"

#include "platform/Failure.h"
#include "XcbReply.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace hakop::platform {

namespace {

// Windows asked about at once: enough that a level of a large tree costs a
// few trips to the server, few enough that the replies waiting in memory
// stay small.
constexpr std::size_t batchSize = 4096;

// X protocol error code for "no such window".
constexpr std::uint8_t badWindow = 3;

// WM_CLASS holds "instance\0class\0"; a class cut short by the read is no match.
bool classMatches(const xcb_get_property_reply_t* reply, std::string_view cls)
{
    if (reply == nullptr || reply->type != XCB_ATOM_STRING || reply->format != 8)
        return false;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const std::string_view value(data, std::size_t(std::max(0, xcb_get_property_value_length(reply))));
    const std::size_t instanceEnd = value.find('\0');
    if (instanceEnd == std::string_view::npos)
        return false;
    std::string_view found = value.substr(instanceEnd + 1);
    const std::size_t classEnd = found.find('\0');
    if (classEnd == std::string_view::npos && reply->bytes_after > 0)
        return false;
    found = found.substr(0, classEnd);
    return found == cls;
}

struct Walk {
    xcb_connection_t* c;
    std::string_view cls;
    int otherErrors = 0;
    unsigned firstOtherError = 0;

    void note(xcb_generic_error_t* error)
    {
        if (error == nullptr)
            return;
        // Windows may be destroyed while the tree is walked: that only
        // means "not this one".
        if (error->error_code != badWindow && otherErrors++ == 0)
            firstOtherError = error->error_code;
        std::free(error);
    }

    // Asks about every window of 'level' (the class and the children of each)
    // before reading any answer: one trip to the server per batch rather than
    // two per window. The next level's windows are appended to 'next'.
    bool levelHasClass(const std::vector<xcb_window_t>& level, std::vector<xcb_window_t>& next)
    {
        std::vector<xcb_get_property_cookie_t> classes;
        std::vector<xcb_query_tree_cookie_t> trees;
        for (std::size_t from = 0; from < level.size(); from += batchSize) {
            const std::size_t to = std::min(level.size(), from + batchSize);
            classes.clear();
            trees.clear();
            for (std::size_t i = from; i < to; ++i) {
                classes.push_back(xcb_get_property(c, 0, level[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64));
                trees.push_back(xcb_query_tree(c, level[i]));
            }
            bool found = false;
            for (std::size_t i = 0; i < classes.size(); ++i) {
                if (found) {
                    xcb_discard_reply(c, classes[i].sequence);
                    xcb_discard_reply(c, trees[i].sequence);
                    continue;
                }
                xcb_generic_error_t* error = nullptr;
                const XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(c, classes[i], &error));
                note(error);
                error = nullptr;
                const XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, trees[i], &error));
                note(error);
                if (classMatches(property.get(), cls)) {
                    found = true;
                    continue;
                }
                if (tree != nullptr) {
                    const xcb_window_t* children = xcb_query_tree_children(tree.get());
                    next.insert(next.end(), children, children + xcb_query_tree_children_length(tree.get()));
                }
            }
            if (found)
                return true;
        }
        return false;
    }
};

} // namespace

bool windowWithClassExists(Display* display, const char* cls)
{
    if (display == nullptr || cls == nullptr)
        return false;
    // A connection of its own: Xlib waits for each reply before it sends the
    // next request, and on a desktop with many windows those trips add up.
    xcb_connection_t* c = xcb_connect(DisplayString(display), nullptr);
    if (xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        logSurvived("cannot look for a running saver: a second connection to the X display failed");
        return false;
    }
    Walk walk{c, cls};
    std::vector<xcb_window_t> level;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it))
        level.push_back(it.data->root);
    bool found = false;
    std::vector<xcb_window_t> next;
    while (!found && !level.empty()) {
        next.clear();
        found = walk.levelHasClass(level, next);
        level.swap(next);
    }
    const bool broken = xcb_connection_has_error(c) != 0;
    xcb_disconnect(c);
    if (broken)
        logSurvived("lost the second connection to the X display while looking for a running saver");
    if (walk.otherErrors > 0)
        logSurvived("ignored " + std::to_string(walk.otherErrors) + " X error(s) (first code "
                    + std::to_string(walk.firstOtherError) + ") while looking for a running saver");
    return found;
}

namespace {

// Named after the screen the saver covers: one saver per screen.
Atom saverSelection(Display* display)
{
    const std::string name = "HAKOP_SAVER_S" + std::to_string(DefaultScreen(display));
    return XInternAtom(display, name.c_str(), False);
}

} // namespace

bool saverSelectionOwned(Display* display)
{
    return display != nullptr && XGetSelectionOwner(display, saverSelection(display)) != None;
}

unsigned long claimSaverSelection(Display* display)
{
    if (display == nullptr)
        return 0;
    const Atom selection = saverSelection(display);
    // An unmapped window of our own holds it; the server lets it go with our
    // connection, however the program ends.
    XSetWindowAttributes none{};
    const Window owner = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, InputOnly,
                                       CopyFromParent, 0, &none);
    // Taking a selection always succeeds, even from a current owner: asking
    // and taking under a server grab makes the two one step, so of several
    // savers started together exactly one gets it.
    XGrabServer(display);
    const bool free = XGetSelectionOwner(display, selection) == None;
    if (free)
        XSetSelectionOwner(display, selection, owner, CurrentTime);
    XUngrabServer(display);
    const bool ours = free && XGetSelectionOwner(display, selection) == owner;
    if (!ours) {
        XDestroyWindow(display, owner);
        XSync(display, False);
        return 0;
    }
    return owner;
}

} // namespace hakop::platform
