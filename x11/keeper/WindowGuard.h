#pragma once
// What another client can do to a window it does not own, short of mapping
// and stacking it (see StackingWatch.h), and the undoing of it: any client
// may move, resize or reparent a top-level window, give it an empty shape so
// it shows nothing, rewrite its WM_CLASS so that it no longer counts as the
// running saver, or set its background, which the server then paints
// wherever the window is uncovered.

#include "x11/XHandles.h"
#include <optional>
#include <string>

namespace hakop::platform {

class WindowGuard {
public:
    // display is an Xlib Display* (any connection to the window's server);
    // window a child of 'parent' (the root, or as setParent says later).
    WindowGuard(Display* display, unsigned long window, unsigned long parent);

    // The window's present place (position and size on the root) and
    // WM_CLASS are the ones to keep, and no shape.
    void remember();
    // The window's own background, an X pixmap (0: none known). X cannot
    // tell whether another client set another one: each repair sets it again
    // and repaints the window from it, a picture the same as the one shown
    // unless another background was painted meanwhile.
    void keepBackground(unsigned long pixmap) { m_background = pixmap; }

    enum Undone : unsigned { Nothing = 0, Parent = 1, Place = 2, Shape = 4, Class = 8 };
    // Puts back whatever was changed since; the changes undone, or'ed (the
    // background is put back without being counted). The server has them
    // when this returns.
    unsigned repair();

    // The window belongs in 'parent' from now on, at the same place.
    void setParent(unsigned long parent) { m_parent = parent; }

    // False once the window is gone (destroyed by whoever).
    bool exists() const;

private:
    bool placeKept();
    bool shapeKept();
    bool classKept();
    void restoreBackground();

    Display* m_dpy;
    unsigned long m_window;
    unsigned long m_parent;
    std::optional<std::string> m_instance; // none: the window had no class to keep
    std::string m_class;
    unsigned long m_background = 0;
    int m_x = 0;
    int m_y = 0;
    unsigned int m_width = 0;
    unsigned int m_height = 0;
    bool m_placeKnown = false;
    bool m_hasShape = false;
};

} // namespace hakop::platform
