// A failure inside the running saver: its box opens above the full-screen
// window with the keyboard, a second failure while it is open adds no second
// box, and once it is dismissed the saver holds its grabs again. The real
// window and the real reporter on a private X server; another connection
// looks on as a second program would, and XTest dismisses the box.
#include "ImageList.h"
#include "app/Application.h"
#include "platform/Failure.h"
#include "saver/Main.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <stdexcept>
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

} // namespace

int main(int argc, char** argv)
{
    hakop::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
