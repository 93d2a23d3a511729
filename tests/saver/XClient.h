#pragma once
// Another client on the tests' X server, as a user's other programs would
// be: it paints the desktop, reads the screen, finds windows, tries grabs and
// gives input through XTest.
#include "ChildProcess.h"
#include "ScreenRead.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xcomposite.h>

namespace e2e {

class XClient {
public:
    // 'name' as XOpenDisplay takes it; null: $DISPLAY.
    explicit XClient(const char* name = nullptr)
        : m_dpy(XOpenDisplay(name))
    {
    }
    ~XClient()
    {
        if (m_dpy != nullptr)
            XCloseDisplay(m_dpy);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    Display* dpy() const { return m_dpy; }
    Window root() const { return DefaultRootWindow(m_dpy); }
    QSize size() const { return {DisplayWidth(m_dpy, DefaultScreen(m_dpy)), DisplayHeight(m_dpy, DefaultScreen(m_dpy))}; }
    QImage screen() const { return hakop::test::captureScreen(m_dpy, QRect(QPoint(0, 0), size())); }

    // Gives the default screen's root a picture with detail everywhere, so
    // any pixel out of place shows, and returns it. 'salt' tells two
    // screens apart.
    QImage paintDesktop(int salt = 0)
    {
        const QSize s = size();
        QImage picture(s, QImage::Format_RGB32);
        for (int y = 0; y < s.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < s.width(); ++x)
                row[x] = qRgb((x * 7 + y * 3 + salt) & 0xff, ((x / 3) ^ (y * 5)) & 0xff, ((x * y + salt) >> 4) & 0xff);
        }
        const int scr = DefaultScreen(m_dpy);
        XImage* image = XCreateImage(m_dpy, DefaultVisual(m_dpy, scr), static_cast<unsigned>(DefaultDepth(m_dpy, scr)),
                                     ZPixmap, 0, reinterpret_cast<char*>(picture.bits()),
                                     static_cast<unsigned>(s.width()), static_cast<unsigned>(s.height()), 32,
                                     static_cast<int>(picture.bytesPerLine()));
        const Pixmap pixmap = XCreatePixmap(m_dpy, root(), static_cast<unsigned>(s.width()),
                                            static_cast<unsigned>(s.height()),
                                            static_cast<unsigned>(DefaultDepth(m_dpy, scr)));
        GC gc = XCreateGC(m_dpy, pixmap, 0, nullptr);
        XPutImage(m_dpy, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(s.width()),
                  static_cast<unsigned>(s.height()));
        XSetWindowBackgroundPixmap(m_dpy, root(), pixmap);
        XClearWindow(m_dpy, root());
        XFreeGC(m_dpy, gc);
        XFreePixmap(m_dpy, pixmap);
        image->data = nullptr; // the pixels belong to the QImage
        XDestroyImage(image);
        XSync(m_dpy, False);
        return picture;
    }

    // Every window in the tree whose WM_CLASS class is 'cls'.
    std::vector<Window> windowsOfClass(const char* cls) const
    {
        return windowsWhere([&](Window w) { return hasClass(w, cls); });
    }
    // Every window in the tree whose WM_NAME is 'name'.
    std::vector<Window> windowsNamed(const char* name) const
    {
        return windowsWhere([&](Window w) {
            char* title = nullptr;
            if (XFetchName(m_dpy, w, &title) == 0 || title == nullptr)
                return false;
            const bool match = std::string(title) == name;
            XFree(title);
            return match;
        });
    }
    // Every window drawn in the tree that 'matches': input-only windows are
    // left out. The saver's window may live in the Composite overlay, which
    // is missing from the root's children: while its input-only marker is
    // there, the overlay's children are looked at too. (Asking for the
    // overlay while the saver holds it changes nothing.)
    std::vector<Window> windowsWhere(const std::function<bool(Window)>& matches) const
    {
        std::vector<Window> found;
        bool saverMarker = false;
        std::function<void(Window)> visit = [&](Window w) {
            XWindowAttributes a{};
            const bool inputOnly = XGetWindowAttributes(m_dpy, w, &a) != 0 && a.c_class == InputOnly;
            if (inputOnly)
                saverMarker = saverMarker || hasClass(w, "THAKOPForm");
            else if (matches(w))
                found.push_back(w);
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(m_dpy, w, &rootReturn, &parent, &children, &count) != 0) {
                for (unsigned int i = 0; i < count; ++i)
                    visit(children[i]);
                if (children != nullptr)
                    XFree(children);
            }
        };
        visit(root());
        if (saverMarker) {
            const Window overlay = XCompositeGetOverlayWindow(m_dpy, root());
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (overlay != 0 && XQueryTree(m_dpy, overlay, &rootReturn, &parent, &children, &count) != 0) {
                for (unsigned int i = 0; i < count; ++i)
                    visit(children[i]);
                if (children != nullptr)
                    XFree(children);
            }
            XCompositeReleaseOverlayWindow(m_dpy, root());
            XSync(m_dpy, False);
        }
        return found;
    }
    bool hasClass(Window w, const char* cls) const
    {
        XClassHint hint{};
        if (XGetClassHint(m_dpy, w, &hint) == 0)
            return false;
        const bool match = hint.res_class != nullptr && std::string(hint.res_class) == cls;
        XFree(hint.res_name);
        XFree(hint.res_class);
        return match;
    }
    bool viewable(Window w) const
    {
        XWindowAttributes a{};
        return XGetWindowAttributes(m_dpy, w, &a) != 0 && a.map_state == IsViewable;
    }
    // The one window of class 'cls' once it is viewable; 0 after 'limit', or
    // as soon as 'owner' has ended.
    Window waitForWindowOfClass(const char* cls, ChildProcess& owner, std::chrono::milliseconds limit = 15s) const
    {
        for (const auto end = Clock::now() + limit; Clock::now() < end && owner.running(); sleepFor(2ms)) {
            const std::vector<Window> windows = windowsOfClass(cls);
            if (windows.size() == 1 && viewable(windows.front()))
                return windows.front();
        }
        return 0;
    }

    // Whether another client holds the keyboard: our grab attempt fails.
    bool keyboardHeldByOthers() const
    {
        const int k = XGrabKeyboard(m_dpy, root(), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (k == GrabSuccess)
            XUngrabKeyboard(m_dpy, CurrentTime);
        XSync(m_dpy, False);
        return k == AlreadyGrabbed;
    }
    // True while another client holds the keyboard and the pointer.
    bool inputHeldByOthers() const
    {
        if (!keyboardHeldByOthers())
            return false;
        const int p = XGrabPointer(m_dpy, root(), False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                                   CurrentTime);
        if (p == GrabSuccess)
            XUngrabPointer(m_dpy, CurrentTime);
        XSync(m_dpy, False);
        return p == AlreadyGrabbed;
    }
    // 'every' sets how often to look: a look that takes the grabs for a moment
    // (inputHeldByOthers while the saver does not hold them) should come less
    // often than the saver retries, or the saver may meet it twice running
    // and take it for another program's grab.
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                          std::chrono::milliseconds every = 20ms)
    {
        for (const auto end = Clock::now() + limit; Clock::now() < end; sleepFor(every))
            if (condition())
                return true;
        return condition();
    }

    // Input as a user gives it; each waits a little, so the saver sees every
    // event on its own (Qt merges motion events that queue up).
    void moveTo(QPoint p)
    {
        XTestFakeMotionEvent(m_dpy, 0, p.x(), p.y(), CurrentTime);
        XSync(m_dpy, False);
        sleepFor(120ms);
    }
    void keyDown(KeySym sym) { fakeKey(sym, true); }
    void keyUp(KeySym sym) { fakeKey(sym, false); }
    // One key going down or up, and a moment for it to arrive.
    void key(KeySym sym, bool down)
    {
        fakeKey(sym, down);
        sleepFor(60ms);
    }
    void tap(std::initializer_list<KeySym> chord)
    {
        for (KeySym s : chord)
            fakeKey(s, true);
        for (auto it = std::rbegin(chord); it != std::rend(chord); ++it)
            fakeKey(*it, false);
        sleepFor(120ms);
    }
    void click(unsigned int button)
    {
        XTestFakeButtonEvent(m_dpy, button, True, CurrentTime);
        XTestFakeButtonEvent(m_dpy, button, False, CurrentTime);
        XSync(m_dpy, False);
        sleepFor(80ms);
    }

private:
    void fakeKey(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(m_dpy, XKeysymToKeycode(m_dpy, sym), down ? True : False, CurrentTime);
        XSync(m_dpy, False);
    }

    Display* m_dpy;
};

} // namespace e2e
