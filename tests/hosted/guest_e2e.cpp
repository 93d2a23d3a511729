// The guest program as a screensaver host meets it: the real hakop-hosted on a
// private X server, drawing into windows this test makes, read back from the
// screen and driven with real X input (XTest).
#include <QImage>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t white = 0xffffff;
constexpr std::uint32_t desktop = 0x336699; // the root's colour: nothing may change it
constexpr std::uint32_t black = 0x000000;

std::string tempPath(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/hakop-hosted-e2e-" + std::to_string(getpid()) + "-" + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Limits are generous for a loaded machine: a wait ends as soon as it is met.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

// One run of hakop-hosted; stderr goes to a file of its own.
class GuestProcess {
public:
    explicit GuestProcess(const std::vector<std::string>& args, const std::string& hostVariable = {})
        : m_stderr(tempPath("stderr-" + std::to_string(++s_count)))
    {
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = open(m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            if (hostVariable.empty())
                unsetenv("XSCREENSAVER_WINDOW");
            else
                setenv("XSCREENSAVER_WINDOW", hostVariable.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(HAKOP_HOSTED_EXECUTABLE)};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~GuestProcess()
    {
        if (running()) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        unlink(m_stderr.c_str());
    }
    bool running()
    {
        if (m_exited)
            return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exited = true;
            m_status = status;
        }
        return !m_exited;
    }
    // The exit code once it ended within 'limit'; -1 otherwise (or on a signal).
    int exitCodeWithin(std::chrono::milliseconds limit)
    {
        if (!waitFor([this] { return !running(); }, limit))
            return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }
    void signal(int number) { kill(m_pid, number); }
    std::string errors() const { return readFile(m_stderr); }

private:
    static inline int s_count = 0;
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
    std::string m_stderr;
};

class Guest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr) << "no X display";
        m_root = DefaultRootWindow(m_display);
        XSetWindowBackground(m_display, m_root, desktop);
        XClearWindow(m_display, m_root);
        XSync(m_display, False);
        m_screen = QSize(DisplayWidth(m_display, 0), DisplayHeight(m_display, 0));
    }
    void TearDown() override
    {
        if (m_display != nullptr)
            XCloseDisplay(m_display);
    }

    Window makeHost(QRect r, std::uint32_t background = white)
    {
        const Window w = XCreateSimpleWindow(m_display, m_root, r.x(), r.y(), unsigned(r.width()),
                                             unsigned(r.height()), 0, 0, background);
        // Nothing redirects maps here (no window manager): mapped means on screen.
        XSetWindowAttributes a;
        a.override_redirect = True;
        XChangeWindowAttributes(m_display, w, CWOverrideRedirect, &a);
        XMapWindow(m_display, w);
        XSync(m_display, False);
        return w;
    }

    QImage screen()
    {
        XImage* x = XGetImage(m_display, m_root, 0, 0, unsigned(m_screen.width()), unsigned(m_screen.height()),
                              AllPlanes, ZPixmap);
        QImage image(m_screen, QImage::Format_RGB32);
        for (int y = 0; y < m_screen.height(); ++y)
            for (int x2 = 0; x2 < m_screen.width(); ++x2)
                image.setPixel(x2, y, std::uint32_t(XGetPixel(x, x2, y)) | 0xff000000u);
        XDestroyImage(x);
        return image;
    }

    static int count(const QImage& image, QRect r, std::uint32_t rgb)
    {
        int n = 0;
        r &= image.rect();
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += (image.pixel(x, y) & 0xffffffu) == rgb;
        return n;
    }

    // Figures are on screen in r: black silhouettes on a picture that has none.
    bool figuresIn(QRect r, int atLeast = 200) { return count(screen(), r, black) >= atLeast; }

    int viewableTopLevels()
    {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned n = 0;
        XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &n);
        int viewable = 0;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(m_display, children[i], &a) && a.map_state == IsViewable)
                ++viewable;
        }
        if (children != nullptr)
            XFree(children);
        return viewable;
    }

    static std::string id(Window w) { return "0x" + (std::stringstream() << std::hex << w).str(); }

    Display* m_display = nullptr;
    Window m_root = 0;
    QSize m_screen;
};

QImage quadrants(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool right = x >= size.width() / 2;
            const bool bottom = y >= size.height() / 2;
            image.setPixel(x, y, bottom ? (right ? 0xffc0c000u : 0xff4040c0u) : (right ? 0xff40c040u : 0xffc04040u));
        }
    return image;
}

// The share of pixels in 'r' of the screen that equal 'picture' drawn at r's corner.
double matching(const QImage& shot, QRect r, const QImage& picture)
{
    int same = 0;
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x)
            same += (shot.pixel(r.x() + x, r.y() + y) & 0xffffffu) == (picture.pixel(x, y) & 0xffffffu);
    return double(same) / (r.width() * r.height());
}

TEST_F(Guest, PlaysInsideTheHostWindowsOnlyAndTakesNoInput)
{
    // Two hosts at once, as xsecurelock runs one guest per monitor.
    const QRect a(100, 80, 400, 300);
    const QRect b(600, 420, 300, 250);
    const Window hostA = makeHost(a);
    const Window hostB = makeHost(b);
    const QImage before = screen();
    const int topLevels = viewableTopLevels();

    GuestProcess guestA({"-window-id", id(hostA)});
    GuestProcess guestB({}, std::to_string(hostB)); // decimal, in the host's variable
    ASSERT_TRUE(waitFor([&] { return figuresIn(a) && figuresIn(b); }, 10s)) << guestA.errors() << guestB.errors();

    QImage shot = screen();
    // The host's white is covered by the plain picture.
    EXPECT_LT(count(shot, a, white), a.width() * a.height() / 10);
    QRegion outside = QRegion(shot.rect()) - a - b;
    int changed = 0;
    for (const QRect& r : outside)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                changed += shot.pixel(x, y) != before.pixel(x, y);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(viewableTopLevels(), topLevels);

    // Keys, clicks and mouse moves are the host's business.
    for (KeySym key : {XK_a, XK_Escape, XK_Return, XK_space}) {
        const KeyCode code = XKeysymToKeycode(m_display, key);
        XTestFakeKeyEvent(m_display, code, True, 0);
        XTestFakeKeyEvent(m_display, code, False, 0);
    }
    for (int i = 0; i < 10; ++i)
        XTestFakeMotionEvent(m_display, 0, 120 + i * 60, 100 + i * 50, 0);
    XTestFakeButtonEvent(m_display, 1, True, 0);
    XTestFakeButtonEvent(m_display, 1, False, 0);
    XSync(m_display, False);
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(guestA.running());
    EXPECT_TRUE(guestB.running());

    guestA.signal(SIGTERM);
    guestB.signal(SIGHUP);
    EXPECT_EQ(guestA.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guestB.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guestA.errors(), "");
    EXPECT_EQ(guestB.errors(), "");
}

TEST_F(Guest, FollowsTheHostWindowsSize)
{
    const QRect small(50, 50, 300, 200);
    const Window host = makeHost(small);
    GuestProcess guest({"--window-id=" + std::to_string(host)});
    ASSERT_TRUE(waitFor([&] { return figuresIn(small); }, 10s)) << guest.errors();

    const QRect big(50, 50, 640, 480);
    XResizeWindow(m_display, host, unsigned(big.width()), unsigned(big.height()));
    XSync(m_display, False);
    // The new part shows the picture, not the host's white background.
    const QRegion grown = QRegion(big) - small;
    ASSERT_TRUE(waitFor(
        [&] {
            const QImage shot = screen();
            int whites = 0;
            for (const QRect& r : grown)
                whites += count(shot, r, white);
            return whites < 2000;
        },
        10s));
    EXPECT_TRUE(guest.running());
    guest.signal(SIGINT);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guest.errors(), "");
}

TEST_F(Guest, EndsQuietlyWhenTheHostDestroysItsWindow)
{
    const QRect r(10, 10, 320, 240);
    const Window host = makeHost(r);
    GuestProcess guest({"-window-id", id(host)});
    ASSERT_TRUE(waitFor([&] { return figuresIn(r); }, 10s)) << guest.errors();
    XDestroyWindow(m_display, host);
    XSync(m_display, False);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guest.errors(), "");
}

TEST_F(Guest, OnTheRootItLeavesTheRootsOwnBackgroundWhenItEnds)
{
    // A desktop program drawing on the root hears when to draw its part again.
    XSelectInput(m_display, m_root, ExposureMask);
    const QRect all(QPoint(0, 0), m_screen);
    GuestProcess guest({"-root"});
    ASSERT_TRUE(waitFor([&] { return figuresIn(all); }, 10s)) << guest.errors();
    XSync(m_display, True); // exposures from before the end do not count
    guest.signal(SIGTERM);
    EXPECT_EQ(guest.exitCodeWithin(2000ms), 0);
    EXPECT_EQ(guest.errors(), "");
    const QImage shot = screen();
    EXPECT_EQ(count(shot, all, desktop), m_screen.width() * m_screen.height());
    XEvent e{};
    EXPECT_TRUE(XCheckTypedWindowEvent(m_display, m_root, Expose, &e));
    XSelectInput(m_display, m_root, NoEventMask);
}

TEST_F(Guest, DrawsOnTheHostsDesktopPictureThenOnTheChosenFile)
{
    const QRect r(40, 30, 480, 360);
    const QImage picture = quadrants(r.size());
    const Window host = makeHost(r);

    // Unknown pixels in the test: the file must lose to the host's picture.
    const std::string file = tempPath("backdrop.png");
    QImage other(r.size(), QImage::Format_RGB32);
    other.fill(0xff804020u);
    ASSERT_TRUE(other.save(QString::fromStdString(file)));

    XImage* x = XCreateImage(m_display, DefaultVisual(m_display, 0), 24, ZPixmap, 0, nullptr, unsigned(r.width()),
                             unsigned(r.height()), 32, 0);
    x->data = static_cast<char*>(malloc(std::size_t(x->bytes_per_line) * std::size_t(r.height())));
    for (int y = 0; y < r.height(); ++y)
        for (int xx = 0; xx < r.width(); ++xx)
            XPutPixel(x, xx, y, picture.pixel(xx, y) & 0xffffffu);
    const Pixmap pixmap = XCreatePixmap(m_display, m_root, unsigned(r.width()), unsigned(r.height()), 24);
    GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
    XPutImage(m_display, pixmap, gc, x, 0, 0, 0, 0, unsigned(r.width()), unsigned(r.height()));
    XFreeGC(m_display, gc);
    XDestroyImage(x);
    const Atom screenshot = XInternAtom(m_display, "_SCREENSAVER_SCREENSHOT", False);

    // On the window, then (xscreensaver's other place) on the root.
    for (Window holder : {host, m_root}) {
        XChangeProperty(m_display, holder, screenshot, XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pixmap), 1);
        // The last guest's drawing must not pass for this one's.
        XClearWindow(m_display, host);
        XSync(m_display, False);
        GuestProcess guest({"-window-id", id(host), "--backdrop", file});
        // Everything but the five figures is the host's picture.
        ASSERT_TRUE(waitFor([&] { return matching(screen(), r, picture) > 0.8 && figuresIn(r); }, 10s))
            << matching(screen(), r, picture) << guest.errors();
        guest.signal(SIGTERM);
        EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
        EXPECT_EQ(guest.errors(), "");
        XDeleteProperty(m_display, holder, screenshot);
    }

    // Without one, the file.
    GuestProcess guest({"-window-id", id(host), "--backdrop", file});
    ASSERT_TRUE(waitFor([&] { return matching(screen(), r, other) > 0.8 && figuresIn(r); }, 10s)) << guest.errors();
    guest.signal(SIGTERM);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    XFreePixmap(m_display, pixmap);
    unlink(file.c_str());
}

TEST_F(Guest, UserSignalOneGivesTheCleanPictureBack)
{
    const QRect r(0, 0, 260, 200);
    const Window host = makeHost(r);
    const std::string file = tempPath("clean.png");
    const QImage picture = quadrants(r.size());
    ASSERT_TRUE(picture.save(QString::fromStdString(file)));
    GuestProcess guest({"-window-id", id(host), "--backdrop", file});

    // The silhouettes pile up on the picture as the figures move (a few seconds
    // on a window this small); the picture showing at all means it has started.
    const int fiveFigures = 5 * 85 * 75;
    ASSERT_TRUE(waitFor(
        [&] {
            const double same = matching(screen(), r, picture);
            return same > 0.3 && (1.0 - same) * r.width() * r.height() > fiveFigures;
        },
        20s))
        << guest.errors();
    // Dirt of our own on the window, which only the guest's full redraw removes.
    GC gc = XCreateGC(m_display, host, 0, nullptr);
    XSetForeground(m_display, gc, 0xff00ff);
    XFillRectangle(m_display, host, gc, 0, 0, 40, 40);
    XFreeGC(m_display, gc);
    XSync(m_display, False);

    guest.signal(SIGUSR1);
    // Clean again: whatever differs from the picture is at most the five new figures.
    ASSERT_TRUE(waitFor(
        [&] {
            const QImage shot = screen();
            return (1.0 - matching(shot, r, picture)) * r.width() * r.height() <= fiveFigures
                && count(shot, r, 0xff00ff) == 0 && count(shot, r, black) > 100;
        },
        4s));
    EXPECT_TRUE(guest.running());
    guest.signal(SIGTERM);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guest.errors(), "");
    unlink(file.c_str());
}

TEST_F(Guest, ABurstOfRestartsLeavesItAnsweringAtOnce)
{
    // A window the size of the screen, where each restart costs the most.
    const QRect r(QPoint(0, 0), m_screen);
    const Window host = makeHost(r);
    GuestProcess guest({"-window-id", id(host)});
    ASSERT_TRUE(waitFor([&] { return figuresIn(r); }, 20s)) << guest.errors();

    // A pause after each, so they arrive one by one rather than merged by the
    // system into one pending signal.
    for (int i = 0; i < 1000; ++i) {
        guest.signal(SIGUSR1);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(guest.running());
    EXPECT_TRUE(figuresIn(r));
    // Restarts asked while one was pending were one: nothing queued delays the end.
    guest.signal(SIGTERM);
    EXPECT_EQ(guest.exitCodeWithin(5s), 0);
    EXPECT_EQ(guest.errors(), "");
}

TEST_F(Guest, WithoutAHostItPlaysInAWindowOfItsOwnUntilThatIsClosed)
{
    const int topLevels = viewableTopLevels();
    GuestProcess guest({});
    ASSERT_TRUE(waitFor([&] { return viewableTopLevels() == topLevels + 1; }, 10s)) << guest.errors();
    // Find it, and ask it to close as a window manager would.
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &n);
    Window own = 0;
    for (unsigned i = 0; i < n; ++i) {
        XClassHint hint{};
        if (XGetClassHint(m_display, children[i], &hint)) {
            if (std::string(hint.res_name) == "hakop-hosted")
                own = children[i];
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
    }
    XFree(children);
    ASSERT_NE(own, 0u);
    XWindowAttributes a;
    XGetWindowAttributes(m_display, own, &a);
    ASSERT_TRUE(waitFor([&] { return figuresIn(QRect(a.x, a.y, a.width, a.height)); }, 10s));

    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = own;
    e.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    XSendEvent(m_display, own, False, NoEventMask, &e);
    XSync(m_display, False);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guest.errors(), "");
}

TEST_F(Guest, BadWindowIdsAreRefusedInOneLine)
{
    struct Case {
        std::vector<std::string> args;
        std::string variable;
        int code;
    };
    const std::vector<Case> cases = {
        {{"-window-id", "0x100000000"}, "", 2},
        {{"-window-id", "zebra"}, "", 2},
        {{}, "12junk", 2},
        {{"--bogus"}, "", 2},
        // Well formed, but nobody made it.
        {{"-window-id", "0x1ffffff0"}, "", 1},
    };
    for (const Case& c : cases) {
        GuestProcess guest(c.args, c.variable);
        EXPECT_EQ(guest.exitCodeWithin(3000ms), c.code);
        const std::string errors = guest.errors();
        EXPECT_EQ(errors.rfind("hakop-hosted: ", 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

// What another window (a host's password dialog) hid of the host's window is
// drawn again as soon as it goes, not left to the host's background.
TEST_F(Guest, RepaintsWhatAnotherWindowUncovers)
{
    const QRect r(60, 60, 400, 300);
    const Window host = makeHost(r);
    GuestProcess guest({"-window-id", id(host)});
    ASSERT_TRUE(waitFor([&] { return figuresIn(r); }, 10s)) << guest.errors();
    const QRect over(r.x() + 100, r.y() + 80, 200, 150);
    const int area = over.width() * over.height();
    constexpr std::uint32_t green = 0x00ff00;
    const Window dialog = makeHost(over, green);
    ASSERT_TRUE(waitFor([&] { return count(screen(), over, green) == area; }, 5s));
    XUnmapWindow(m_display, dialog);
    XSync(m_display, False);
    // The host's white fills the whole area until the guest copies it back.
    // The figures are partly white and keep walking, so what counts is that
    // most of the area is the scene's again, not how white it was before.
    EXPECT_TRUE(waitFor([&] { return count(screen(), over, white) < area / 2; }, 2s))
        << count(screen(), over, white) << " of " << area << " pixels white";
    XDestroyWindow(m_display, dialog);
    guest.signal(SIGTERM);
    EXPECT_EQ(guest.exitCodeWithin(1000ms), 0);
    EXPECT_EQ(guest.errors(), "");
}

// Windows that hold no pixels the guest can write (an input-only window; on
// a colour-mapped screen, any window) end the run with one line, not a crash.
TEST_F(Guest, WindowsWithoutUsablePixelsAreRefusedInOneLine)
{
    XSetWindowAttributes none{};
    std::vector<Window> windows{XCreateWindow(m_display, m_root, 0, 0, 200, 150, 0, 0, InputOnly, CopyFromParent,
                                              0, &none)};
    Visual* visual = DefaultVisual(m_display, 0);
    if (visual->c_class != TrueColor && visual->c_class != DirectColor)
        windows.push_back(makeHost(QRect(0, 0, 200, 150)));
    XMapWindow(m_display, windows.front());
    XSync(m_display, False);
    for (Window w : windows) {
        GuestProcess guest({"-window-id", id(w)});
        EXPECT_EQ(guest.exitCodeWithin(5000ms), 1) << id(w) << guest.errors();
        const std::string errors = guest.errors();
        EXPECT_EQ(errors.rfind("hakop-hosted: ", 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        XDestroyWindow(m_display, w);
    }
}

TEST_F(Guest, ALogPipeWithoutAReaderDoesNotEndIt)
{
    // "hakop-hosted ... 2>&1 | true": its line must fail, not end it by SIGPIPE.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], 2);
        unsetenv("XSCREENSAVER_WINDOW");
        execl(HAKOP_HOSTED_EXECUTABLE, HAKOP_HOSTED_EXECUTABLE, "-window-id", "0x1ffffff0", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
}

} // namespace
