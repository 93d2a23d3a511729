// The saver as a user meets it: the real program on a private X server, with a
// known picture on the desktop, driven through XTest. The clock is frozen, so
// the seed is known and the headless engine can replay what the screen must
// show and where the figures are (the pointer is only moved where none can be).
#include "engine/ImageList.h"
#include "engine/SaverScene.h"

#include <QGuiApplication>
#include <QImage>
#include <QRegion>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <csignal>
#include <unistd.h>

// Xlib's macros come after every Qt and test framework header.
#include "ChildProcess.h"
#include "XClient.h"

namespace {

using namespace e2e;

// The frozen clock and the seed it gives: milliseconds since midnight UTC.
constexpr const char* fixedClock = "2026-12-08 12:00:00.000";
constexpr std::uint32_t fixedSeed = 12u * 3600u * 1000u;

std::string standin(const std::string& kind)
{
    // A directory without any PASSWORD.CPL stands for "no verifier installed".
    return kind == "none" ? std::string(HAKOP_SAVER_TEST_EMPTY_DIR) : std::string(HAKOP_STANDINS_DIR) + "/" + kind;
}

std::string tempPath(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/hakop-saver-e2e-" + std::to_string(getpid()) + "-" + name;
}

std::size_t imageHash(const QImage& image)
{
    // Only the colour: the screen read and the engine may differ in the unused byte.
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::size_t h = 1469598103934665603ull;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            h ^= row[x] & 0xffffffu;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// --- the headless engine, replaying the saver -----------------------------------

const hakop::TIForm& frames()
{
    static const hakop::TIForm store;
    return store;
}

// The screen between ticks: the event loop's pass has run after each tick.
class Replay {
public:
    explicit Replay(const QImage& desktop)
        : m_scene(desktop.convertToFormat(QImage::Format_RGB32), frames())
    {
        m_scene.show(fixedSeed);
        m_scene.paintPending();
    }
    void tick()
    {
        m_scene.tick();
        m_scene.paintPending();
        ++m_ticks;
    }
    void resetToSnapshot() { m_scene.redrawBackdrop(); }
    int ticks() const { return m_ticks; }
    QImage pixels() const { return m_scene.surface().pixels(); }
    QRegion spriteArea()
    {
        QRegion area;
        for (int i = 1; i <= hakop::Animation::SpriteCount; ++i)
            area += m_scene.animation().sprite(i)->rect();
        return area;
    }

private:
    hakop::SaverScene m_scene;
    int m_ticks = 0;
};

// Where the pointer may go: the spots no figure covers during the first
// 'ticks' ticks, with room for the moves the tests make around them.
std::vector<QPoint> figureFreeSpots(const QImage& desktop, int ticks, int margin)
{
    Replay replay(desktop);
    QRegion covered = replay.spriteArea();
    for (int t = 0; t < ticks; ++t) {
        replay.tick();
        covered += replay.spriteArea();
    }
    std::vector<QPoint> spots;
    const QRect screen = desktop.rect();
    for (int y = margin + 10; y < screen.height() - margin - 10; y += 37) {
        for (int x = margin + 10; x < screen.width() - margin - 10; x += 41) {
            const QRect around(x - margin, y - margin, 2 * margin + 1, 2 * margin + 1);
            if (!covered.intersects(around))
                spots.emplace_back(x, y);
        }
    }
    return spots;
}

// --- fixture ----------------------------------------------------------------------

class Saver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(x.dpy(), nullptr) << "no X server; run under with-x";
        x.paintDesktop();
        desktop = x.screen();
        log = tempPath("verifier.log");
        (void)std::remove(log.c_str()); // there may be none
    }
    void TearDown() override
    {
        saver.reset();
        // The server drops a killed client's windows a moment later; the next
        // test's saver must not find this one.
        for (const auto end = Clock::now() + 5s; !x.windowsOfClass("THAKOPForm").empty() && Clock::now() < end;)
            sleepFor(10ms);
        (void)std::remove(log.c_str()); // there may be none
    }

    // Starts "hakop /s" with the frozen clock and the given verifier.
    void start(const std::string& verifier = "none", std::vector<std::pair<std::string, std::string>> env = {})
    {
        env.emplace_back("LD_LIBRARY_PATH", standin(verifier));
        env.emplace_back("HAKOP_STANDIN_LOG", log);
        // libfaketime preloaded straight into the saver (the faketime program
        // would stand between us and it, and signals would miss the saver).
        env.emplace_back("LD_PRELOAD", "/usr/$LIB/faketime/libfaketime.so.1");
        env.emplace_back("FAKETIME", fixedClock);
        env.emplace_back("FAKETIME_DONT_FAKE_MONOTONIC", "1");
        saver = std::make_unique<ChildProcess>(std::vector<std::string>{HAKOP_EXECUTABLE, "/s"}, env, std::string(),
                                          stderrPath);
    }
    // Waits until the saver window is on screen; returns it, or 0.
    Window waitForWindow(std::chrono::milliseconds limit = 15s)
    {
        return x.waitForWindowOfClass("THAKOPForm", *saver, limit);
    }
    // Waits until the saver holds the keyboard and the pointer.
    bool waitForInput(std::chrono::milliseconds limit = 10s)
    {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end && saver->running()) {
            if (x.inputHeldByOthers())
                return true;
            sleepFor(20ms);
        }
        return false;
    }
    Window startAndWait(const std::string& verifier = "none", std::vector<std::pair<std::string, std::string>> env = {})
    {
        start(verifier, std::move(env));
        const Window w = waitForWindow();
        EXPECT_NE(w, 0u) << "the saver window did not appear";
        EXPECT_TRUE(waitForInput()) << "the saver did not take the keyboard and the pointer";
        return w;
    }

    // The screen while the saver is stopped, so it cannot change under the read.
    QImage stillScreen()
    {
        saver->pause();
        sleepFor(20ms);
        QImage shot = x.screen();
        saver->resume();
        return shot;
    }

    bool stillRunningAfter(std::chrono::milliseconds wait)
    {
        sleepFor(wait);
        return saver->running();
    }

    // The pointer spot tests use: free of figures for the first 30 seconds.
    QPoint freeSpot()
    {
        static std::vector<QPoint> spots;
        static QSize forSize;
        if (forSize != desktop.size()) {
            spots = figureFreeSpots(desktop, 300, 30);
            forSize = desktop.size();
        }
        if (spots.empty())
            return {-1, -1};
        return spots[spots.size() / 2];
    }

    std::vector<std::string> verifyCalls() const
    {
        std::vector<std::string> calls;
        std::istringstream in(readFile(log));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("verify ", 0) == 0)
                calls.push_back(line.substr(7));
        return calls;
    }

    // The lines the saver wrote on stderr that begin with "hakop:"; needs stderrPath.
    std::vector<std::string> reports() const
    {
        std::vector<std::string> found;
        std::istringstream in(readFile(stderrPath));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("hakop:", 0) == 0)
                found.push_back(line);
        return found;
    }
    std::vector<std::string> logLines() const
    {
        std::vector<std::string> found;
        std::istringstream in(readFile(log));
        for (std::string line; std::getline(in, line);)
            found.push_back(line);
        return found;
    }
    // True when the window is mapped and covers the whole screen.
    bool covers(Window w) const
    {
        XWindowAttributes a{};
        int x0 = -1;
        int y0 = -1;
        Window child = 0;
        return XGetWindowAttributes(x.dpy(), w, &a) != 0 && a.map_state == IsViewable
            && XTranslateCoordinates(x.dpy(), w, x.root(), 0, 0, &x0, &y0, &child) != 0 && x0 == 0 && y0 == 0
            && QSize(a.width, a.height) == x.size();
    }

    XClient x;
    QImage desktop;
    std::string log;
    std::string stderrPath; // where the saver's stderr goes, when set
    std::unique_ptr<ChildProcess> saver;
};

constexpr auto closesWithin = 5s;
constexpr auto keepsFor = 500ms;

// --- what the window shows --------------------------------------------------------

TEST_F(Saver, FirstShowsTheDesktopThenExactlyWhatTheEngineDraws)
{
    start();
    ASSERT_NE(waitForWindow(), 0u);
    // The very first read after mapping: every pixel is the desktop's own or
    // one the figures drew (they are drawn from the first paint on). Any
    // other colour is a flash or a misplaced snapshot.
    const QImage first = x.screen();
    ASSERT_EQ(first.size(), desktop.size());
    {
        Replay replay(desktop);
        std::vector<bool> explained(static_cast<std::size_t>(first.width()) * first.height(), false);
        auto explain = [&](const QImage& candidate) {
            for (int y = 0; y < first.height(); ++y) {
                const auto* a = reinterpret_cast<const QRgb*>(first.constScanLine(y));
                const auto* b = reinterpret_cast<const QRgb*>(candidate.constScanLine(y));
                for (int xx = 0; xx < first.width(); ++xx)
                    if ((a[xx] & 0xffffff) == (b[xx] & 0xffffff))
                        explained[static_cast<std::size_t>(y) * first.width() + xx] = true;
            }
        };
        explain(desktop);
        for (int t = 0; t <= 30; ++t, replay.tick())
            explain(replay.pixels());
        long long unexplained = 0;
        for (bool e : explained)
            unexplained += e ? 0 : 1;
        EXPECT_EQ(unexplained, 0) << "pixels that are neither the desktop nor the figures";
    }

    ASSERT_TRUE(waitForInput());
    sleepFor(1500ms); // silhouettes pile up; the first figures start walking
    std::set<std::size_t> states;
    {
        Replay replay(desktop);
        states.insert(imageHash(replay.pixels()));
        for (int t = 0; t < 400; ++t) {
            replay.tick();
            states.insert(imageHash(replay.pixels()));
        }
    }
    int matched = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        // The read may still catch a repaint halfway; a few reads settle that.
        if (states.count(imageHash(stillScreen())) != 0)
            ++matched;
        sleepFor(170ms);
    }
    EXPECT_GE(matched, 2) << "the screen is not a state of the engine replayed from the same desktop and seed";
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, WindowCarriesItsClassAndCaptionAndCoversTheScreen)
{
    const Window w = startAndWait();
    ASSERT_NE(w, 0u);
    EXPECT_EQ(x.windowsOfClass("THAKOPForm").size(), 1u) << "the class is on the saver window alone";

    std::string out;
    {
        const std::string command = "xprop -id " + std::to_string(w) + " WM_CLASS WM_NAME _NET_WM_NAME";
        FILE* p = popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr)
            out += buffer;
        pclose(p);
    }
    EXPECT_NE(out.find("WM_CLASS(STRING) = \"hakop\", \"THAKOPForm\""), std::string::npos) << out;
    EXPECT_NE(out.find("WM_NAME(STRING) = \"HAKOPForm\""), std::string::npos) << out;
    EXPECT_NE(out.find("_NET_WM_NAME(UTF8_STRING) = \"HAKOPForm\""), std::string::npos) << out;

    XWindowAttributes a{};
    ASSERT_NE(XGetWindowAttributes(x.dpy(), w, &a), 0);
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(x.dpy(), w, x.root(), 0, 0, &rx, &ry, &child);
    EXPECT_EQ(QRect(rx, ry, a.width, a.height), QRect(QPoint(0, 0), x.size()));
    EXPECT_EQ(a.border_width, 0);
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

// --- input ---------------------------------------------------------------------------

TEST_F(Saver, FivePixelMovesKeepItAndSixOnXEndIt)
{
    const QPoint p = freeSpot();
    ASSERT_GE(p.x(), 0) << "no spot free of figures";
    startAndWait();
    x.moveTo(p);
    x.moveTo(p + QPoint(5, 5));
    x.moveTo(p + QPoint(10, 10));
    x.moveTo(p + QPoint(5, 5));
    x.moveTo(p + QPoint(0, 10));
    ASSERT_TRUE(stillRunningAfter(keepsFor)) << "moves of 5 pixels ended the saver";
    x.moveTo(p + QPoint(6, 10));
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, SixPixelsOnYEndIt)
{
    const QPoint p = freeSpot();
    ASSERT_GE(p.x(), 0);
    startAndWait();
    x.moveTo(p);
    x.moveTo(p + QPoint(5, 5));
    ASSERT_TRUE(stillRunningAfter(keepsFor));
    x.moveTo(p + QPoint(5, 11));
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, ClicksWithoutMovementKeepIt)
{
    const QPoint p = freeSpot();
    ASSERT_GE(p.x(), 0);
    startAndWait();
    x.moveTo(p);
    for (unsigned int button : {1u, 1u, 2u, 3u, 1u})
        x.click(button);
    ASSERT_TRUE(stillRunningAfter(keepsFor)) << "a click ended the saver";
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, TabKeepsItAndALetterEndsIt)
{
    startAndWait();
    x.tap({XK_Tab});
    x.tap({XK_Tab});
    ASSERT_TRUE(stillRunningAfter(keepsFor)) << "Tab ended the saver";
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, ShiftTabKeepsItWhenShiftWasAlreadyDown)
{
    x.keyDown(XK_Shift_L);
    startAndWait();
    x.tap({XK_Tab});
    const bool kept = stillRunningAfter(keepsFor);
    x.keyUp(XK_Shift_L); // a key-up is no key-down
    ASSERT_TRUE(kept) << "Shift+Tab ended the saver";
    ASSERT_TRUE(stillRunningAfter(300ms));
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, CtrlTabEndsIt)
{
    startAndWait();
    x.keyDown(XK_Control_L);
    x.tap({XK_Tab});
    x.keyUp(XK_Control_L);
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, ShiftAloneEndsIt)
{
    startAndWait();
    x.tap({XK_Shift_L});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

// Whether 'events' (xev's output) holds an event block of 'type' mentioning 'detail'.
bool hasEvent(const std::string& events, const std::string& type, const std::string& detail = {})
{
    std::size_t at = 0;
    while ((at = events.find(type + " event", at)) != std::string::npos) {
        const std::size_t end = events.find("\n\n", at);
        const std::string block = events.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (detail.empty() || block.find(detail) != std::string::npos)
            return true;
        at += type.size();
    }
    return false;
}

TEST_F(Saver, InputGoesToTheSaverAndNotToTheProgramThatHadTheFocus)
{
    const std::string events = tempPath("xev.log");
    ChildProcess xev({"stdbuf", "-oL", "xev", "-geometry", "300x200+40+40"}, {{"LC_ALL", "C"}}, events);
    Window probe = 0;
    for (const auto end = Clock::now() + 10s; probe == 0 && Clock::now() < end; sleepFor(20ms)) {
        for (Window w : x.windowsNamed("Event Tester"))
            if (x.viewable(w))
                probe = w;
    }
    ASSERT_NE(probe, 0u) << "xev did not show its window";
    // The probe has the focus and the pointer, as the user's program would.
    x.moveTo(QPoint(150, 120));
    XSetInputFocus(x.dpy(), probe, RevertToParent, CurrentTime);
    XSync(x.dpy(), False);
    x.tap({XK_b});
    bool probeWorks = false;
    for (const auto end = Clock::now() + 5s; !probeWorks && Clock::now() < end; sleepFor(20ms))
        probeWorks = hasEvent(readFile(events), "KeyPress", "keysym 0x62, b");
    ASSERT_TRUE(probeWorks) << "the probe does not see key presses at all";

    startAndWait();
    const std::size_t mark = readFile(events).size();
    x.moveTo(QPoint(152, 121)); // over the probe, too small a move to end the saver
    x.moveTo(QPoint(150, 120));
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
    sleepFor(300ms);
    const std::string during = readFile(events).substr(mark);
    (void)std::remove(events.c_str()); // best effort: a temporary file
    EXPECT_FALSE(hasEvent(during, "KeyPress")) << during;
    EXPECT_FALSE(hasEvent(during, "MotionNotify")) << during;
}

// --- the verifier ------------------------------------------------------------------------

TEST_F(Saver, WithoutAVerifierTheFirstKeyEndsItAtOnce)
{
    startAndWait("none");
    const auto before = Clock::now();
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
    EXPECT_LT(Clock::now() - before, 2s * slowdown());
    EXPECT_TRUE(verifyCalls().empty());
}

TEST_F(Saver, AVerifierWithoutItsEntryPointIsNoVerifier)
{
    startAndWait("missing-entry");
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

TEST_F(Saver, AnAcceptingVerifierIsAskedWithTheWindowAndLetsItClose)
{
    const Window w = startAndWait("accept");
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
    EXPECT_EQ(verifyCalls(), std::vector<std::string>{std::to_string(w)});
}

TEST_F(Saver, ARefusingVerifierKeepsItAndLeavesTheCleanSnapshot)
{
    const Window w = startAndWait("refuse");
    sleepFor(1200ms); // silhouettes everywhere the figures have been

    // Freeze the saver, note which tick it shows, and ask it to close. A
    // tick that uploads new pictures reaches the server in more than one
    // write, so the saver may be stopped halfway through one: then let it
    // go on and stop it again.
    std::map<std::size_t, int> tickOf;
    {
        Replay replay(desktop);
        for (int t = 0; t <= 300; ++t, replay.tick())
            tickOf.emplace(imageHash(replay.pixels()), t);
    }
    int shownTick = -1;
    for (int attempt = 0; attempt < 20 && shownTick < 0; ++attempt) {
        saver->pause();
        sleepFor(20ms);
        if (const auto found = tickOf.find(imageHash(x.screen())); found != tickOf.end()) {
            shownTick = found->second;
            x.tap({XK_a});
        }
        saver->resume();
        if (shownTick < 0)
            sleepFor(37ms);
    }
    ASSERT_GE(shownTick, 10) << "the screen before the close request is no engine state";

    const auto resumed = Clock::now();

    // After the refusal the screen is the snapshot redrawn at that tick or a
    // later one (the ticks go on while the verifier's helper process starts,
    // longer on a loaded or instrumented build), with the ticks since then
    // drawn on it. The time passed bounds how many ticks there were in all.
    for (const auto end = Clock::now() + 5s * slowdown(); verifyCalls().empty() && Clock::now() < end;)
        sleepFor(20ms);
    sleepFor(500ms * slowdown()); // the answer reaches the saver and the snapshot is redrawn
    const std::size_t after = imageHash(stillScreen());
    const int ticksSince = int((Clock::now() - resumed) / 100ms) + 3;
    bool clean = false;
    for (int k = shownTick; k <= shownTick + ticksSince && !clean; ++k) {
        Replay replay(desktop);
        while (replay.ticks() < k)
            replay.tick();
        replay.resetToSnapshot();
        for (int j = 0; (k - shownTick) + j <= ticksSince && !clean; ++j, replay.tick())
            clean = imageHash(replay.pixels()) == after;
    }
    EXPECT_TRUE(clean) << "the screen after the refused close is not the clean snapshot with the figures on it";
    EXPECT_TRUE(saver->running());
    EXPECT_EQ(verifyCalls(), std::vector<std::string>{std::to_string(w)});

    // The saver holds its input again and asks again on the next key.
    EXPECT_TRUE(waitForInput(3s));
    x.tap({XK_b});
    ASSERT_TRUE(stillRunningAfter(300ms));
    EXPECT_EQ(verifyCalls().size(), 2u);
}

TEST_F(Saver, OnlyTheLowestByteOfTheAnswerCounts)
{
    startAndWait("refuse256");
    x.tap({XK_a});
    ASSERT_TRUE(stillRunningAfter(keepsFor)) << "0x100 was taken as consent";
    EXPECT_EQ(verifyCalls().size(), 1u);
}

TEST_F(Saver, RequestsWhileTheVerifierRunsAreIgnored)
{
    startAndWait("slow-accept");
    x.tap({XK_a});
    sleepFor(300ms);
    x.tap({XK_b});
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(8s), 0);
    EXPECT_EQ(verifyCalls().size(), 1u);
}

TEST_F(Saver, KeysTypedWhileTheVerifierRefusesDoNotAskAgain)
{
    startAndWait("slow-refuse");
    x.tap({XK_a});
    sleepFor(300ms);
    for (const KeySym key : {XK_b, XK_c, XK_d})
        x.tap({key});
    // It refuses after 2 s; the keys typed meanwhile are gone with the answer.
    sleepFor(3s * slowdown());
    EXPECT_TRUE(saver->running());
    EXPECT_EQ(verifyCalls().size(), 1u);
    x.tap({XK_e});
    for (const auto end = Clock::now() + 5s * slowdown(); verifyCalls().size() < 2 && Clock::now() < end;)
        sleepFor(20ms);
    EXPECT_EQ(verifyCalls().size(), 2u) << "a key after the refusal asks again";
}

// --- the verifier's helper process -------------------------------------------------------

TEST_F(Saver, AVerifierKeepsItsStateForTheWholeRun)
{
    // It refuses twice and accepts the third time, counting in its process.
    startAndWait("third-time");
    for (std::size_t asked = 1; asked <= 2; ++asked) {
        x.tap({XK_a});
        for (const auto end = Clock::now() + 5s * slowdown(); verifyCalls().size() < asked && Clock::now() < end;)
            sleepFor(20ms);
        ASSERT_TRUE(stillRunningAfter(keepsFor)) << "refusal " << asked;
    }
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
    EXPECT_EQ(verifyCalls().size(), 3u);
}

TEST_F(Saver, FaultyVerifiersAreRefusalsAndTheSaverHoldsOn)
{
    stderrPath = tempPath("stderr");
    for (const char* kind : {"segfault", "abort", "exit", "throw", "constructor", "text", "empty"}) {
        SCOPED_TRACE(kind);
        const Window w = startAndWait(kind);
        ASSERT_NE(w, 0u);
        x.tap({XK_a});
        // Only the verifier's line counts: on a loaded machine the previous
        // round's server may still hold a grab when this saver starts, and
        // the saver's waiting for it is worth its own two lines.
        const auto aboutTheVerifier = [this] {
            std::vector<std::string> found = reports();
            std::erase_if(found, [](const std::string& line) { return line.find("verifier") == std::string::npos; });
            return found;
        };
        for (const auto end = Clock::now() + 5s; aboutTheVerifier().empty() && Clock::now() < end;)
            sleepFor(20ms);
        const std::vector<std::string> said = aboutTheVerifier();
        ASSERT_EQ(said.size(), 1u) << "one line on stderr saying why";
        EXPECT_TRUE(saver->running());
        EXPECT_TRUE(covers(w));
        // Its grabs are back: another client's grab attempt fails.
        EXPECT_TRUE(waitForInput(3s)) << said.front();
        TearDown();
    }
    std::remove(stderrPath.c_str());
}

TEST_F(Saver, ItsFirstLineWithStdoutAndStderrClosedLeavesItWorking)
{
    // As an idle daemon starts its locker. Were the closed descriptors taken
    // by X connections, the line about the crashed verifier would go into
    // one of them and stall the saver before it takes the input back.
    saver = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" /s >&- 2>&-", HAKOP_EXECUTABLE},
        std::vector<std::pair<std::string, std::string>>{{"LD_LIBRARY_PATH", standin("segfault")},
                                                         {"HAKOP_STANDIN_LOG", log}});
    ASSERT_NE(waitForWindow(), 0u);
    ASSERT_TRUE(waitForInput());
    x.tap({XK_a});
    for (const auto end = Clock::now() + 5s * slowdown(); verifyCalls().empty() && Clock::now() < end;)
        sleepFor(20ms);
    ASSERT_EQ(verifyCalls().size(), 1u);
    sleepFor(500ms);
    EXPECT_TRUE(saver->running());
    EXPECT_TRUE(waitForInput(3s)) << "the saver did not take the input back";
}

TEST_F(Saver, AVerifierThatGrabsTheInputGetsIt)
{
    startAndWait("grab");
    x.tap({XK_a});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0) << "the verifier could not take the input";
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "grab keyboard=0 pointer=0");
}

TEST_F(Saver, AVerifierRunningItsOwnEventLoopIsAskedOnce)
{
    const Window w = startAndWait("event-loop");
    x.tap({XK_a});
    sleepFor(300ms);
    x.tap({XK_b});
    x.tap({XK_Escape});
    x.moveTo(freeSpot() + QPoint(20, 20));
    EXPECT_EQ(saver->exitCodeWithin(8s), 0);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"verify " + std::to_string(w), "done"}));
}

TEST_F(Saver, EndingTheSaverEndsAVerifierStillAsking)
{
    startAndWait("hang");
    x.tap({XK_a});
    pid_t helper = 0;
    for (const auto end = Clock::now() + 5s; helper == 0 && Clock::now() < end; sleepFor(20ms))
        for (const std::string& line : logLines())
            if (line.rfind("pid ", 0) == 0)
                helper = static_cast<pid_t>(std::stol(line.substr(4)));
    ASSERT_NE(helper, 0) << "the verifier was not asked";
    kill(saver->pid(), SIGTERM);
    EXPECT_TRUE(saver->exitCodeWithin(5s).has_value());
    // Gone, or a zombie waiting for whoever inherited it.
    auto alive = [helper] {
        const std::string stat = readFile("/proc/" + std::to_string(helper) + "/stat");
        const auto close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
    };
    for (const auto end = Clock::now() + 3s; alive() && Clock::now() < end;)
        sleepFor(20ms);
    EXPECT_FALSE(alive()) << "the verifier's helper outlived the saver";
}

// --- only one saver -------------------------------------------------------------------

TEST_F(Saver, ASecondStartDoesNothingWhileTheSaverRuns)
{
    startAndWait();
    for (const char* mode : {"/s", "/c", "/a"}) {
        ChildProcess second({HAKOP_EXECUTABLE, mode}, {{"LD_LIBRARY_PATH", standin("none")}});
        EXPECT_EQ(second.exitCodeWithin(5s), 0) << mode;
    }
    EXPECT_EQ(x.windowsOfClass("THAKOPForm").size(), 1u);
    ASSERT_TRUE(saver->running());
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
}

// Savers started at the same instant all find no saver window yet; the
// selection they race for lets exactly one of them stay.
TEST_F(Saver, OfSaversStartedTogetherExactlyOneStays)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<std::unique_ptr<ChildProcess>> savers;
        savers.reserve(4);
        for (int i = 0; i < 4; ++i)
            savers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{HAKOP_EXECUTABLE, "/s"},
                                                            std::vector<std::pair<std::string, std::string>>{
                                                                {"LD_LIBRARY_PATH", standin("none")}}));
        const auto stillRunning = [&] {
            return std::count_if(savers.begin(), savers.end(), [](auto& s) { return s->running(); });
        };
        ASSERT_TRUE(XClient::waitUntil([&] { return x.inputHeldByOthers(); }, 20s * slowdown())) << attempt;
        XClient::waitUntil([&] { return stillRunning() <= 1; }, 5s * slowdown());
        sleepFor(500ms);
        EXPECT_EQ(stillRunning(), 1) << "attempt " << attempt;
        EXPECT_EQ(x.windowsOfClass("THAKOPForm").size(), 1u) << "attempt " << attempt;
        savers.clear();
        XClient::waitUntil([&] { return x.windowsOfClass("THAKOPForm").empty(); }, 5s);
    }
}

// A window that appears once the saver holds the input (and so surely runs)
// is covered by it, never part of its picture, however soon it comes: with
// the saver in the Composite overlay, and among the root's children where
// the server has none (the window is above the saver then, until the keeper
// covers it again).
TEST_F(Saver, AWindowMappedOnceTheInputIsHeldIsNeverInThePicture)
{
    const unsigned long odd = 0x01fe03; // in neither the desktop nor the figures
    Display* d = x.dpy();
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = odd;
    const QSize size = x.size();
    const Window late = XCreateWindow(d, x.root(), 0, 0, unsigned(size.width()), unsigned(size.height()), 0,
                                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    start();
    ASSERT_TRUE(XClient::waitUntil([&] { return x.keyboardHeldByOthers(); }, 15s, 1ms));
    XMapRaised(d, late);
    XSync(d, False);
    sleepFor(1s); // the keeper covers it again within a tick
    const QImage shown = stillScreen();
    long long seen = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int xx = 0; xx < shown.width(); ++xx)
            seen += (shown.pixel(xx, y) & 0xffffff) == odd && (desktop.pixel(xx, y) & 0xffffff) != odd ? 1 : 0;
    EXPECT_EQ(seen, 0) << "a window mapped after the saver held the input shows in its picture";
    x.tap({XK_Escape});
    EXPECT_EQ(saver->exitCodeWithin(closesWithin), 0);
    XDestroyWindow(d, late);
    XSync(d, False);
}

} // namespace

int main(int argc, char** argv)
{
    // The engine replay needs no window system of its own.
    std::vector<char*> args(argv, argv + argc);
    static char platform[] = "-platform";
    static char offscreen[] = "offscreen";
    args.push_back(platform);
    args.push_back(offscreen);
    // Windows come and go while the tests walk the tree (openbox's among
    // them); a request on one that just went is no failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int qtArgc = static_cast<int>(args.size());
    QGuiApplication app(qtArgc, args.data());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
