// The saver's input rules, without a window: which keys end it, the mouse
// threshold, who gets the moves while the left button is held, and the
// session that asks the verifier.
#include "saver/CursorCounter.h"
#include "saver/InputRules.h"
#include "saver/SaverSession.h"
#include "saver/Verifier.h"
#include "wayland/SurfaceFit.h"

#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using hakop::keyKeepsSaver;
using hakop::LeftCapture;
using hakop::MouseThreshold;

TEST(Keys, OnlyTabAndShiftTabWithoutCtrlOrAltKeepTheSaver)
{
    EXPECT_TRUE(keyKeepsSaver(Qt::Key_Tab, Qt::NoModifier));
    EXPECT_TRUE(keyKeepsSaver(Qt::Key_Backtab, Qt::ShiftModifier));
    EXPECT_TRUE(keyKeepsSaver(Qt::Key_Tab, Qt::MetaModifier));
    EXPECT_TRUE(keyKeepsSaver(Qt::Key_Tab, Qt::KeypadModifier));

    EXPECT_FALSE(keyKeepsSaver(Qt::Key_Tab, Qt::ControlModifier));
    EXPECT_FALSE(keyKeepsSaver(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(keyKeepsSaver(Qt::Key_Tab, Qt::AltModifier));
    for (int key : {int(Qt::Key_A), int(Qt::Key_Shift), int(Qt::Key_Alt), int(Qt::Key_Control), int(Qt::Key_F10),
                    int(Qt::Key_Escape), int(Qt::Key_Space), 0})
        EXPECT_FALSE(keyKeepsSaver(key, Qt::NoModifier)) << "key " << key;
}

TEST(Keys, KeysymsFollowTheSameRule)
{
    // Tab and its shifted form ISO_Left_Tab keep it, as Tab and Backtab do.
    EXPECT_TRUE(hakop::keysymKeepsSaver(0xff09, false, false));
    EXPECT_TRUE(hakop::keysymKeepsSaver(0xfe20, false, false));
    EXPECT_FALSE(hakop::keysymKeepsSaver(0xff09, true, false));
    EXPECT_FALSE(hakop::keysymKeepsSaver(0xfe20, false, true));
    // Shift_L, 'a', Escape, and a key the keymap cannot name.
    for (std::uint32_t sym : {0xffe1u, 0x61u, 0xff1bu, 0u})
        EXPECT_FALSE(hakop::keysymKeepsSaver(sym, false, false)) << "keysym " << sym;
}

TEST(MouseThreshold, FivePixelStepsNeverEndItHoweverFarTheyAddUp)
{
    MouseThreshold mouse;
    for (int step = 0; step <= 60; ++step)
        EXPECT_FALSE(mouse.move(50 + 5 * step, 40 + 5 * (step % 2))) << "step " << step;
    EXPECT_EQ(mouse.last(), QPoint(350, 40));
}

TEST(MouseThreshold, SixPixelsOnEitherAxisEndIt)
{
    for (const QPoint to : {QPoint(206, 200), QPoint(194, 200), QPoint(200, 206), QPoint(200, 194)}) {
        MouseThreshold mouse;
        EXPECT_FALSE(mouse.move(200, 200)); // only recorded
        EXPECT_TRUE(mouse.move(to.x(), to.y())) << to.x() << "," << to.y();
    }
    MouseThreshold diagonal;
    diagonal.move(200, 200);
    EXPECT_FALSE(diagonal.move(205, 195)) << "5 on both axes is still within";
}

TEST(MouseThreshold, ARecordedZeroZeroMeansNothingRecorded)
{
    MouseThreshold mouse;
    EXPECT_FALSE(mouse.move(0, 0));
    EXPECT_FALSE(mouse.move(300, 250)) << "(0, 0) is never compared";
    EXPECT_TRUE(mouse.move(0, 0)) << "but a move to it is compared with (300, 250)";

    mouse.reset();
    EXPECT_EQ(mouse.last(), QPoint(0, 0));
    EXPECT_FALSE(mouse.move(900, 900)) << "after a reset the first move is only recorded";
}

TEST(MouseThreshold, NegativeAndExtremePositionsCountWithoutWrapping)
{
    MouseThreshold mouse;
    mouse.move(-40, -30);
    EXPECT_FALSE(mouse.move(-35, -25));
    EXPECT_EQ(mouse.last(), QPoint(-35, -25));
    EXPECT_TRUE(mouse.move(-41, -25));

    constexpr auto lo = std::numeric_limits<std::int32_t>::min();
    constexpr auto hi = std::numeric_limits<std::int32_t>::max();
    MouseThreshold far;
    far.move(hi, 1);
    EXPECT_TRUE(far.move(lo, 1)) << "a difference beyond 32 bits must not wrap to a small one";
}

TEST(MouseThreshold, EverySaverKeepsItsOwnLastPosition)
{
    MouseThreshold first;
    MouseThreshold second;
    first.move(100, 100);
    EXPECT_FALSE(second.move(500, 500)) << "another saver's moves are not compared";
    EXPECT_FALSE(first.move(103, 103));
}

TEST(LeftCapture, WithoutAPressAMoveOverAFigureIsTheFigures)
{
    LeftCapture capture;
    EXPECT_TRUE(capture.moveReachesWindow(false, [] { return false; }));
    EXPECT_FALSE(capture.moveReachesWindow(false, [] { return true; }));
}

TEST(LeftCapture, APressDecidesUntilItsRelease)
{
    int asked = 0;
    const auto overFigure = [&] { ++asked; return true; };
    const auto overBackground = [&] { ++asked; return false; };

    LeftCapture fromBackground;
    fromBackground.press(false);
    EXPECT_TRUE(fromBackground.moveReachesWindow(true, overFigure)) << "held from the background: the window's";
    LeftCapture fromFigure;
    fromFigure.press(true);
    EXPECT_FALSE(fromFigure.moveReachesWindow(true, overBackground)) << "held from a figure: the figure's";
    EXPECT_EQ(asked, 0) << "while captured, what lies under the pointer does not matter";

    fromFigure.release();
    EXPECT_TRUE(fromFigure.moveReachesWindow(false, overBackground));
}

TEST(LeftCapture, AMoveWithoutTheButtonEndsACaptureWhoseReleaseWasMissed)
{
    // The release went to a password prompt while the saver had let go.
    LeftCapture capture;
    capture.press(true);
    EXPECT_TRUE(capture.moveReachesWindow(false, [] { return false; }));
    EXPECT_TRUE(capture.moveReachesWindow(true, [] { return false; })) << "no capture is left over";
}

// The session every shell feeds, against a shell that notes what it is asked.
namespace {

class NotingShell : public hakop::SaverShell {
public:
    void showCursor(bool visible) override { steps += visible ? "cursor+ " : "cursor- "; }
    bool figureAt(QPoint device) override { return figure.contains(device); }
    void letGoOfInput() override { steps += "letGo "; }
    void dropInputSoFar() override
    {
        steps += "drop ";
        if (inputMeanwhile)
            inputMeanwhile();
    }
    void holdInputAgain() override { steps += "hold "; }
    void redrawBackdrop() override { steps += "backdrop"; }

    std::string steps;
    QRect figure{100, 100, 85, 75};
    std::function<void()> inputMeanwhile;
};

class Answering : public hakop::Verifier {
public:
    explicit Answering(std::function<bool()> answer) : m_answer(std::move(answer)) {}
    bool mayClose(unsigned long window) override
    {
        asked.push_back(window);
        return m_answer();
    }
    std::vector<unsigned long> asked;

private:
    std::function<bool()> m_answer;
};

struct Session : ::testing::Test {
    void SetUp() override
    {
        hakop::CursorCounter::reset();
        session.begin();
        shell.steps.clear();
    }
    void TearDown() override { hakop::CursorCounter::reset(); }
    NotingShell shell;
    hakop::SaverSession session{shell};
};

} // namespace

TEST_F(Session, TheCloseQueryShowsTheCursorOnlyWhileTheVerifierIsAsked)
{
    EXPECT_EQ(hakop::CursorCounter::count(), -1) << "hidden from the start";
    EXPECT_TRUE(session.closeQuery(42)) << "nothing guards the screen";
    EXPECT_EQ(shell.steps, "cursor+ cursor- backdrop");

    Answering refusing([] { return false; });
    session.setVerifier(&refusing);
    shell.steps.clear();
    EXPECT_FALSE(session.closeQuery(0x2a00001));
    EXPECT_EQ(refusing.asked, std::vector<unsigned long>{0x2a00001});
    EXPECT_EQ(shell.steps, "cursor+ letGo drop hold cursor- backdrop");
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
}

TEST_F(Session, AVerifierThatFailsIsARefusalAndTheSaverGoesOn)
{
    Answering failing([]() -> bool { throw std::runtime_error("the helper is gone"); });
    session.setVerifier(&failing);
    bool mayClose = true;
    EXPECT_NO_THROW(mayClose = session.closeQuery(0));
    EXPECT_FALSE(mayClose);
    EXPECT_EQ(shell.steps, "cursor+ letGo drop hold cursor- backdrop");
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
    EXPECT_TRUE(session.keyDown(Qt::Key_A, Qt::NoModifier)) << "and a key asks again";
}

TEST_F(Session, NothingAsksWhileTheVerifierIsAskedNorOnceClosed)
{
    Answering refusing([] { return false; });
    session.setVerifier(&refusing);
    const hakop::PointerAt at{nullptr, QPointF(400, 300), 1, true};
    session.pointerMoved(at, false);
    bool askedMeanwhile = false;
    shell.inputMeanwhile = [&] {
        askedMeanwhile = session.keyDown(Qt::Key_A, Qt::NoModifier) || session.closeQuery(0)
                         || session.pointerMoved({nullptr, QPointF(700, 300), 1, true}, false)
                         || session.keyboardLost() || session.keyboardNeverCame() || session.closeRequested();
    };
    EXPECT_FALSE(session.closeQuery(0));
    EXPECT_FALSE(askedMeanwhile);
    EXPECT_EQ(refusing.asked.size(), 1u);
    EXPECT_FALSE(session.pointerMoved({nullptr, QPointF(20, 20), 1, true}, false)) << "moves count afresh";

    session.close();
    EXPECT_FALSE(session.keyDown(Qt::Key_A, Qt::NoModifier));
    EXPECT_FALSE(session.pointerMoved({nullptr, QPointF(600, 500), 1, true}, false));
    EXPECT_FALSE(session.closeQuery(0));
    EXPECT_FALSE(session.keyboardLost());
    EXPECT_FALSE(session.keyboardNeverCame());
}

// Another window holding the keys while the saver runs, or keys never given
// to it, is input it cannot see: it asks to close, every time, and says why
// once for each.
TEST_F(Session, TheKeyboardTakenByAnotherWindowAsksToCloseAndIsSaidOnce)
{
    Answering refusing([] { return false; });
    session.setVerifier(&refusing);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(session.keyboardLost());
    EXPECT_FALSE(session.closeQuery(0));
    EXPECT_TRUE(session.keyboardLost()) << "still asks after a refusal";
    EXPECT_TRUE(session.keyboardNeverCame());
    EXPECT_FALSE(session.closeQuery(0));
    EXPECT_TRUE(session.keyboardNeverCame());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_NE(said.find("took the keyboard"), std::string::npos) << said;
    EXPECT_NE(said.find("no keyboard"), std::string::npos) << said;
    EXPECT_TRUE(session.closeRequested());
}

TEST_F(Session, MovesCountInDevicePixelsOnTheSurfaceTheyHappenOn)
{
    using hakop::PointerAt;
    EXPECT_EQ(hakop::SaverSession::devicePoint(QPointF(10.25, -0.25), 2), QPoint(21, 0)) << "halves round up";
    const int a = 1, b = 2; // two outputs' surfaces
    EXPECT_FALSE(session.pointerEntered({&a, QPointF(200, 200), 2, false}));
    EXPECT_FALSE(session.pointerMoved({&a, QPointF(202.5, 197.5), 2, false}, false)) << "5 device pixels";
    EXPECT_TRUE(session.pointerMoved({&a, QPointF(205.5, 197.5), 2, false}, false)) << "6 device pixels";
    EXPECT_FALSE(session.pointerEntered({&b, QPointF(10, 10), 1, true})) << "another surface counts afresh";
    EXPECT_FALSE(session.pointerEntered({&b, QPointF(120, 120), 1, true})) << "over a figure: the figure's";
    EXPECT_EQ(session.lastMousePosition(), QPoint(10, 10));
}

// Wayland reports the pointer in logical pixels; the rules count in the
// buffer's device pixels, through the surface's fit.
TEST(PointerOnScaledOutput, ThreeLogicalPixelsAtScaleTwoEndItAndAClickOnAFigureIsItsOwn)
{
    using hakop::platform::wayland::fitSurface;
    const auto fit = fitSurface(QSize(640, 360), QSize(1280, 720), 2, true);
    EXPECT_EQ(fit.buffer, QSize(1280, 720));
    EXPECT_EQ(fit.scale, 2);
    EXPECT_FALSE(fit.viewport);
    const auto device = [&](QPointF logical) { return (logical * fit.pointScale()).toPoint(); };

    MouseThreshold mouse;
    EXPECT_FALSE(mouse.move(device({100, 100}).x(), device({100, 100}).y()));
    EXPECT_TRUE(mouse.move(device({103, 100}).x(), device({103, 100}).y())) << "6 device pixels";

    // A figure at device (300, 200), 85 x 75: logical (160, 110) is on it.
    const QRect figure(300, 200, 85, 75);
    LeftCapture capture;
    capture.press(figure.contains(device({160, 110})));
    EXPECT_FALSE(capture.moveReachesWindow(true, [] { return false; })) << "held from the figure";
}

TEST(PointerOnScaledOutput, AFractionalScaleGetsTheOutputsOwnPixels)
{
    using hakop::platform::wayland::fitSurface;
    // 1280 x 720 at 1.5: the surface is 853 x 480, the output says scale 2.
    const auto viewport = fitSurface(QSize(853, 480), QSize(1280, 720), 2, true);
    EXPECT_EQ(viewport.buffer, QSize(1280, 720));
    EXPECT_EQ(viewport.scale, 1);
    EXPECT_TRUE(viewport.viewport);
    EXPECT_EQ((QPointF(426.5, 240) * viewport.pointScale()).toPoint(), QPoint(640, 360)) << "the middle";
    // Without a viewporter: the next integer up, which the compositor scales down.
    const auto integer = fitSurface(QSize(853, 480), QSize(1280, 720), 2, false);
    EXPECT_EQ(integer.buffer, QSize(1706, 960));
    EXPECT_EQ(integer.scale, 2);
    EXPECT_FALSE(integer.viewport);
}
