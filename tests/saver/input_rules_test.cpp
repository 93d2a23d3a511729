// The saver's input rules, without a window: which keys end it, the mouse
// threshold, and who gets the moves while the left button is held.
#include "saver/InputRules.h"
#include "wayland/SurfaceFit.h"

#include <QRect>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

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
