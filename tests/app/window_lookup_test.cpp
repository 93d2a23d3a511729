// The running-saver check on trees a desktop can have: deep (frames in
// frames), wide (thousands of windows on one level, more than one batch of
// questions), and with near misses that must not count.
#include <gtest/gtest.h>

// After gtest: Xlib's macros (None, Bool) would break its headers.
#include "x11/WindowLookup.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

class WindowLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr) << "no X display; run under with-x";
    }
    void TearDown() override
    {
        if (m_display != nullptr)
            XCloseDisplay(m_display); // takes every window made here with it
    }
    Window make(Window parent, const char* instance = nullptr, const char* cls = nullptr)
    {
        XSetWindowAttributes none{};
        const Window w = XCreateWindow(m_display, parent, 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &none);
        if (cls != nullptr) {
            XClassHint hint{const_cast<char*>(instance), const_cast<char*>(cls)};
            XSetClassHint(m_display, w, &hint);
        }
        return w;
    }
    bool found(const char* cls = "THAKOPForm")
    {
        XSync(m_display, False);
        return hakop::platform::windowWithClassExists(m_display, cls);
    }
    Display* m_display = nullptr;
};

TEST_F(WindowLookup, FindsTheClassAtTheBottomOfADeepChainAndOnlyAWholeMatch)
{
    Window w = DefaultRootWindow(m_display);
    for (int depth = 0; depth < 60; ++depth)
        w = make(w);
    // Near misses: the name as the instance, a longer class, a shorter one.
    make(w, "THAKOPForm", "Other");
    make(w, "hakop", "THAKOPFormX");
    make(w, "hakop", "THAKOPFor");
    EXPECT_FALSE(found());
    make(w, "hakop", "THAKOPForm");
    EXPECT_TRUE(found());
    EXPECT_FALSE(found("hakop"));
}

TEST_F(WindowLookup, FindsTheClassInAWideTreeAndNothingWhenItIsGone)
{
    const Window root = DefaultRootWindow(m_display);
    // Three levels: 50 frames of 100 windows each, one of the last holding
    // the saver two levels further down.
    std::vector<Window> frames;
    frames.reserve(50);
    for (int i = 0; i < 50; ++i)
        frames.push_back(make(root, "frame", "Frame"));
    Window last = 0;
    for (Window frame : frames)
        for (int i = 0; i < 100; ++i)
            last = make(frame, "client", "Client");
    EXPECT_FALSE(found());
    const Window holder = make(make(last), "hakop", "THAKOPForm");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(found());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("looked through about 5100 windows in %lld ms\n", static_cast<long long>(ms.count()));
    XDestroyWindow(m_display, holder);
    EXPECT_FALSE(found());
}

} // namespace
