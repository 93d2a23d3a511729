// A failure inside the running saver: its box opens above the full-screen
// window with the keyboard, a second failure while it is open adds no second
// box, and once it is dismissed the saver holds its grabs again. The real
// window and the real reporter on a private X server; another connection
// looks on as a second program would, and XTest dismisses the box.
#include "engine/ImageList.h"
#include "app/Application.h"
#include "platform/Failure.h"
#include "saver/x11/Main.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int visibleBoxes()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    return count;
}

QMessageBox* visibleBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            return box;
    return nullptr;
}

// The root's children from the bottom up, as another client sees them.
std::vector<Window> stacking(Display* dpy)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> order;
    if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count) != 0) {
        order.assign(children, children + count);
        XFree(children);
    }
    return order;
}

// The top-level X window holding 'w' (a window manager's frame, if any).
Window topLevelOf(Display* dpy, Window w)
{
    for (;;) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(dpy, w, &root, &parent, &children, &count) == 0)
            return w;
        if (children != nullptr)
            XFree(children);
        if (parent == root)
            return w;
        w = parent;
    }
}

bool keyboardHeldByOthers(Display* dpy)
{
    const int k = XGrabKeyboard(dpy, DefaultRootWindow(dpy), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (k == GrabSuccess)
        XUngrabKeyboard(dpy, CurrentTime);
    XSync(dpy, False);
    return k == AlreadyGrabbed;
}

template <class Condition>
bool waitFor(Condition condition, int ms)
{
    for (int waited = 0; waited < ms && !condition(); waited += 20)
        QTest::qWait(20);
    return condition();
}

TEST(SaverFailureBox, OpensAboveTheSaverOnceAndTheSaverHoldsOnAfterwards)
{
    Display* onlooker = XOpenDisplay(nullptr);
    ASSERT_NE(onlooker, nullptr);
    const hakop::TIForm frames;
    hakop::THAKOPForm form;
    form.setFrameStore(&frames);
    form.show();
    ASSERT_TRUE(waitFor([&] { return form.holdsInput(); }, 10000));

    struct Seen {
        int boxes = -1;
        int boxesAfterSecond = -1;
        bool aboveSaver = false;
        bool boxHasKeyboard = false;
        bool saverLetGo = false;
    } seen;
    // Runs inside the box's own event loop: look, fail again, then press Esc.
    QTimer::singleShot(0, [&] {
        QMessageBox* box = nullptr;
        waitFor([&] { return (box = visibleBox()) != nullptr; }, 5000);
        if (box == nullptr)
            return;
        const Window boxWindow = topLevelOf(onlooker, static_cast<Window>(box->winId()));
        waitFor([&] { return keyboardHeldByOthers(onlooker) && !form.holdsInput(); }, 3000);
        seen.boxes = visibleBoxes();
        const std::vector<Window> order = stacking(onlooker);
        const auto at = [&](Window w) { return std::find(order.begin(), order.end(), w) - order.begin(); };
        seen.aboveSaver = at(boxWindow) < static_cast<long>(order.size())
            && at(boxWindow) > at(static_cast<Window>(form.winId()));
        seen.saverLetGo = !form.holdsInput();
        seen.boxHasKeyboard = keyboardHeldByOthers(onlooker);

        hakop::reportFailure(std::make_exception_ptr(std::runtime_error("second")));
        QTest::qWait(300);
        seen.boxesAfterSecond = visibleBoxes();

        XTestFakeKeyEvent(onlooker, XKeysymToKeycode(onlooker, XK_Escape), True, CurrentTime);
        XTestFakeKeyEvent(onlooker, XKeysymToKeycode(onlooker, XK_Escape), False, CurrentTime);
        XSync(onlooker, False);
    });
    QTimer::singleShot(15000, [] { // never hang the suite
        if (QMessageBox* box = visibleBox())
            box->reject();
    });
    QElapsedTimer open;
    open.start();
    hakop::reportFailure(std::make_exception_ptr(std::runtime_error("first")));
    EXPECT_LT(open.elapsed(), 12000) << "only the safety timer closed the box";

    EXPECT_EQ(seen.boxes, 1);
    EXPECT_TRUE(seen.aboveSaver) << "the box opened underneath the saver";
    EXPECT_TRUE(seen.saverLetGo);
    EXPECT_TRUE(seen.boxHasKeyboard) << "the box does not hold the keyboard";
    EXPECT_EQ(seen.boxesAfterSecond, 1) << "a second failure stacked another box";
    EXPECT_EQ(visibleBoxes(), 0) << "Esc did not reach the box";
    EXPECT_TRUE(waitFor([&] { return form.holdsInput(); }, 2000)) << "the saver did not take its grabs back";
    EXPECT_TRUE(keyboardHeldByOthers(onlooker));
    form.close();
    XCloseDisplay(onlooker);
}

// The X server this test runs against: with-x's other child.
pid_t xServerPid()
{
    const pid_t parent = getppid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        const auto open = line.find('(');
        if (close == std::string::npos || open == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && line.substr(open + 1, close - open - 1) == "Xvfb")
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
    }
    return 0;
}

// Address space the process has mapped, in bytes.
rlim_t mappedBytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            return static_cast<rlim_t>(std::stoull(line.substr(7))) * 1024;
    return 0;
}

// A server without room for a screen-sized pixmap when the saver starts: the
// box says so (not some other cause), the saver stays covered, and once the
// server has room again the box's place is repainted and the figures play.
TEST(SaverFailureBox, NoRoomOnTheServerIsSaidAndTheFiguresComeOnceThereIs)
{
    const pid_t server = xServerPid();
    ASSERT_NE(server, 0) << "run under with-x";
    Display* onlooker = XOpenDisplay(nullptr);
    ASSERT_NE(onlooker, nullptr);
    const QSize screen(DisplayWidth(onlooker, 0), DisplayHeight(onlooker, 0));
    constexpr QRgb desktop = 0x336699;
    XSetWindowBackground(onlooker, DefaultRootWindow(onlooker), desktop);
    XClearWindow(onlooker, DefaultRootWindow(onlooker));
    XSync(onlooker, False);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    // Room for small things, not for a picture of the screen.
    const rlimit tight{mappedBytes(server) + (rlim_t(2) << 20), RLIM_INFINITY};
    ASSERT_EQ(prlimit(server, RLIMIT_AS, &tight, nullptr), 0);

    struct Seen {
        QString text;
        QRect where;
    } seen;
    QTimer look;
    look.setInterval(50);
    QObject::connect(&look, &QTimer::timeout, [&] {
        QMessageBox* box = visibleBox();
        if (box == nullptr || !seen.text.isEmpty())
            return;
        seen.text = box->text();
        seen.where = box->frameGeometry();
        prlimit(server, RLIMIT_AS, &unlimited, nullptr);
        box->reject();
    });
    look.start();
    QTimer::singleShot(20000, [&] { prlimit(server, RLIMIT_AS, &unlimited, nullptr); }); // never starve the suite

    const hakop::TIForm frames;
    hakop::THAKOPForm form;
    form.setFrameStore(&frames);
    form.show();
    EXPECT_TRUE(waitFor([&] { return !seen.text.isEmpty(); }, 15000)) << "no failure box";
    prlimit(server, RLIMIT_AS, &unlimited, nullptr);
    EXPECT_TRUE(seen.text.contains(QStringLiteral("no room"))) << seen.text.toStdString();
    EXPECT_FALSE(seen.text.contains(QStringLiteral("TrueColor"))) << seen.text.toStdString();

    // The figures' colours on the black that stands in for the desktop, and
    // nothing left of the box.
    const auto shot = [&] {
        XImage* image = XGetImage(onlooker, DefaultRootWindow(onlooker), 0, 0, unsigned(screen.width()),
                                  unsigned(screen.height()), AllPlanes, ZPixmap);
        QImage copy(screen, QImage::Format_RGB32);
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                copy.setPixel(x, y, 0xff000000u | static_cast<QRgb>(XGetPixel(image, x, y)));
        XDestroyImage(image);
        return copy;
    };
    const auto share = [](const QImage& image, QRect r, QRgb colour) {
        r &= image.rect();
        long n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += (image.pixel(x, y) & 0xffffffu) == colour ? 1 : 0;
        return r.isEmpty() ? 0.0 : double(n) / (double(r.width()) * r.height());
    };
    const QRect all(QPoint(), screen);
    EXPECT_TRUE(waitFor(
        [&] {
            const QImage now = shot();
            return share(now, all, desktop) == 0.0 && share(now, all, 0) < 0.999;
        },
        5000))
        << "the saver does not cover the desktop with black and the figures";
    EXPECT_GT(share(shot(), seen.where, 0), 0.8) << "the box's picture stays on the saver";
    form.close();
    XCloseDisplay(onlooker);
}

} // namespace

int main(int argc, char** argv)
{
    hakop::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
