// The saver window in process, on a private X server: which input ends the
// saver, who gets the mouse, what the close query does, and that the screen
// shows exactly what the engine's surface holds. The figures are held still
// (Timer1 stopped) and put where each test wants them.
#include "engine/ImageList.h"
#include "saver/x11/Main.h"
#include "saver/VerifierProcess.h"
#include "saver/CursorCounter.h"
#include "saver/x11/ScreenKeeper.h"
#include "ScreenRead.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

using hakop::THAKOPForm;

namespace {

void* display()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
}

const hakop::TIForm& frames()
{
    static const hakop::TIForm store;
    return store;
}

std::string verifierKind()
{
    const char* kind = std::getenv("HAKOP_TEST_VERIFIER");
    return kind != nullptr ? kind : "none";
}

class SaverWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        hakop::CursorCounter::reset();
        form = std::make_unique<THAKOPForm>();
        // The PASSWORD.CPL stand-in the test's library path offers, if any.
        verifier = std::make_unique<hakop::VerifierProcess>();
        form->setVerifier(verifier.get());
        form->setFrameStore(&frames());
        QObject::connect(form.get(), &THAKOPForm::formClosed, [this] { ++closedSignals; });
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_NE(form->scene(), nullptr);
        form->Timer1.stop();
        // Five figures in a row along the bottom; everything above is free.
        for (int i = 1; i <= 5; ++i)
            sprite(i).setTop(surfaceSize().height() - 100);
        for (int i = 1; i <= 5; ++i)
            sprite(i).setLeft(100 * i);
        settle();
    }

    void TearDown() override
    {
        form.reset();
        verifier.reset();
    }

    hakop::Sprite& sprite(int i) { return *form->scene()->animation().sprite(i); }
    QSize surfaceSize() const { return form->scene()->surface().size(); }
    qreal dpr() const { return form->devicePixelRatioF(); }

    // Lets the event loop run its paint pass and repaint.
    static void settle(int ms = 100) { QTest::qWait(ms); }

    // Positions are the saver's device pixels.
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        const QPointF local = QPointF(at) / dpr();
        QMouseEvent event(type, local, form->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &event);
    }
    void moveTo(QPoint at, Qt::MouseButtons buttons = Qt::NoButton)
    {
        send(QEvent::MouseMove, at, Qt::NoButton, buttons);
    }
    void pressLeft(QPoint at) { send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
    void releaseLeft(QPoint at) { send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }

    void pressKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat = false)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(form.get(), &event);
    }

    bool closed() const { return form->isFormClosed(); }

    QImage screen() const
    {
        return hakop::test::captureScreen(static_cast<Display*>(display()), QRect(QPoint(0, 0), surfaceSize()));
    }

    QPoint lastMouse() const { return form->lastMousePosition(); }

    std::unique_ptr<hakop::Verifier> verifier;
    std::unique_ptr<THAKOPForm> form;
    int closedSignals = 0;
};

// --- keys --------------------------------------------------------------------

struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
    bool autoRepeat;
    bool keeps;
};

class SaverKeys : public SaverWindow, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(SaverKeys, OnlyTabWithoutCtrlOrAltKeepsTheSaver)
{
    if (verifierKind() != "none")
        GTEST_SKIP() << "key cases run without a verifier";
    const KeyCase& c = GetParam();
    pressKey(c.key, c.modifiers, c.autoRepeat);
    EXPECT_EQ(!closed(), c.keeps) << c.name;
    EXPECT_EQ(closedSignals, c.keeps ? 0 : 1) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SaverKeys,
    // Which keys keep the saver is a unit-tested rule; these prove the window
    // sees Tab before the toolkit's focus handling, and closes on the others.
    ::testing::Values(KeyCase{"Tab", Qt::Key_Tab, Qt::NoModifier, false, true},
                      KeyCase{"ShiftTab", Qt::Key_Backtab, Qt::ShiftModifier, false, true},
                      KeyCase{"CtrlTab", Qt::Key_Tab, Qt::ControlModifier, false, false},
                      KeyCase{"A", Qt::Key_A, Qt::NoModifier, false, false}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// --- the mouse rule (the threshold itself is unit-tested: this is the wiring) --

TEST_F(SaverWindow, SixPixelsOnTheXAxisEndTheSaver)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    moveTo(QPoint(200, 200)); // only recorded
    moveTo(QPoint(205, 195));
    EXPECT_FALSE(closed());
    moveTo(QPoint(211, 195));
    EXPECT_TRUE(closed());
}

// --- sprites take the mouse -------------------------------------------------

TEST_F(SaverWindow, MovesOverAFigureAreTheFiguresAndLeaveThePositionAlone)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    const QRect figure = sprite(3).rect();
    const QPoint before(figure.center().x(), figure.top() - 3);
    moveTo(before);
    // All over the figure, key-coloured corners included: nothing happens.
    moveTo(figure.topLeft());
    moveTo(figure.bottomRight());
    moveTo(figure.center());
    EXPECT_FALSE(closed());
    EXPECT_EQ(lastMouse(), before);
    // Leaving it, the pointer is compared with where it was before it entered.
    moveTo(before + QPoint(4, -2));
    EXPECT_FALSE(closed());
    moveTo(figure.center()); // over the figure again
    moveTo(before + QPoint(40, -2));
    EXPECT_TRUE(closed());
}

TEST_F(SaverWindow, OverlappingFiguresTakeTheMouseToo)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    sprite(2).setLeft(sprite(1).Left() + 40);
    moveTo(QPoint(10, 10));
    moveTo(sprite(1).rect().topLeft());
    moveTo(sprite(2).rect().bottomRight());
    EXPECT_FALSE(closed());
    EXPECT_EQ(lastMouse(), QPoint(10, 10));
}

TEST_F(SaverWindow, WithTheLeftButtonHeldFromTheBackgroundEveryMoveComesToTheWindow)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    const QRect figure = sprite(4).rect();
    const QPoint start(figure.left() + 10, figure.top() - 4);
    moveTo(start);
    pressLeft(start);
    moveTo(figure.topLeft() + QPoint(12, 2), Qt::LeftButton); // over the figure, 6 down
    EXPECT_TRUE(closed());
}

TEST_F(SaverWindow, WithTheLeftButtonHeldFromAFigureEveryMoveGoesToTheFigure)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    const QRect figure = sprite(4).rect();
    const QPoint outside(figure.left() - 50, figure.top() - 50);
    moveTo(outside);
    pressLeft(figure.center());
    moveTo(QPoint(20, 20), Qt::LeftButton);
    moveTo(QPoint(600, 20), Qt::LeftButton);
    EXPECT_FALSE(closed());
    EXPECT_EQ(lastMouse(), outside);
    releaseLeft(QPoint(600, 20));
    // The next move is compared with the last one the window saw.
    moveTo(outside + QPoint(3, 3));
    EXPECT_FALSE(closed());
    moveTo(QPoint(600, 20));
    EXPECT_TRUE(closed());
}

// --- creation, close query and painting ---------------------------------------

TEST_F(SaverWindow, IsBuiltAsASaverWindow)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("HAKOPForm"));
    EXPECT_EQ(form->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(form->Timer1.interval(), 100);
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
    EXPECT_EQ(form->cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(form->Backdrop().size(), surfaceSize());
    // Device pixels, whatever the scaling.
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(surfaceSize(), screen->geometry().size() * screen->devicePixelRatio());
}

TEST_F(SaverWindow, TheScreenShowsExactlyWhatTheSurfaceHolds)
{
    form->Timer1.start();
    settle(700); // a few ticks: silhouettes and moved figures
    form->Timer1.stop();
    settle(150);
    const QImage& surface = form->scene()->surface().pixels();
    ASSERT_NE(surface, form->Backdrop()) << "the figures drew nothing";
    EXPECT_EQ(screen(), surface);
}

TEST_F(SaverWindow, TicksReachTheScreenWithoutAnyToolkitRepaint)
{
    // Painting through the toolkit costs a round trip and a full copy per tick;
    // the X server keeps and shows the pixels, on every kind of screen.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    form->installEventFilter(&counter);
    form->Timer1.start();
    settle(600);
    form->Timer1.stop();
    settle(150);
    form->removeEventFilter(&counter);
    EXPECT_EQ(screen(), form->scene()->surface().pixels());
    EXPECT_EQ(counter.paints, 0);
}

TEST_F(SaverWindow, EveryTickEndsWithNothingLeftToPaint)
{
    // By the end of a tick the leftover pass has run and its changes have
    // gone to the server. A finish that was queued but never run would leave
    // the screen a tick behind, or frozen.
    std::atomic<int> ticks = 0;
    std::atomic<int> leftPending = 0;
    form->onTickFinishedForTesting = [&] {
        ++ticks;
        leftPending += form->scene()->surface().hasPending();
    };
    form->Timer1.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 4; }, 5000));
    form->Timer1.stop();
    form->onTickFinishedForTesting = nullptr;
    EXPECT_EQ(leftPending, 0);
    // Nothing was left for the event loop to send either.
    const QImage shown = screen();
    settle(150);
    EXPECT_EQ(shown, form->scene()->surface().pixels());
}

TEST_F(SaverWindow, AreasUncoveredByAnotherWindowShowTheSurfaceAgain)
{
    form->Timer1.start();
    settle(300);
    form->Timer1.stop();
    settle(100);
    QWidget cover(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                             | Qt::WindowStaysOnTopHint);
    cover.setGeometry(QRect(QPoint(0, 0), form->size() / 2));
    cover.setStyleSheet(QStringLiteral("background: magenta"));
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    settle(100);
    cover.hide();
    settle(200);
    EXPECT_FALSE(form->scene()->surface().hasPending());
    EXPECT_EQ(screen(), form->scene()->surface().pixels());
}

TEST_F(SaverWindow, ExposesAndMovesTakeTurnsWithTheTicks)
{
    // The ticks run on their own thread while the window handles exposes and
    // mouse moves over the figures: whatever interleaving comes, the screen
    // ends up showing the surface and the saver keeps running.
    QWidget cover(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                             | Qt::WindowStaysOnTopHint);
    cover.setGeometry(QRect(QPoint(0, 0), form->size() / 3));
    cover.setStyleSheet(QStringLiteral("background: magenta"));
    form->Timer1.start();
    const QPoint over = QPoint(sprite(3).Left(), sprite(3).Top()) + QPoint(40, 40);
    for (int round = 0; round < 12; ++round) {
        cover.setVisible(round % 2 == 0);
        for (int step = 0; step < 20; ++step)
            moveTo(over + QPoint(step % 5, step % 3));
        settle(60);
    }
    cover.hide();
    settle(150);
    form->Timer1.stop();
    settle(150);
    EXPECT_FALSE(closed());
    EXPECT_FALSE(form->scene()->surface().hasPending());
    EXPECT_EQ(screen(), form->scene()->surface().pixels());
}

TEST_F(SaverWindow, WithoutAVerifierACloseRequestIsGrantedAtOnce)
{
    if (verifierKind() != "none")
        GTEST_SKIP();
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(closed());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_FALSE(form->Timer1.isActive());
    // The cursor is not shown again before the end.
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
    // Nothing is handled any more.
    pressKey(Qt::Key_A, Qt::NoModifier);
    form->close();
    EXPECT_EQ(closedSignals, 1);
}

// Real pointer input from the X server, sent before this returns: a move to
// 'from', a middle click there and a move to 'to'.
void fakeMovesWithAClickBetween(void* display, QPoint from, QPoint to);

// Counts the questions passed on to the verifier.
struct CountingVerifier : hakop::Verifier {
    explicit CountingVerifier(hakop::Verifier& inner)
        : inner(inner)
    {
    }
    bool mayClose(unsigned long window) override
    {
        ++asked;
        return inner.mayClose(window);
    }
    hakop::Verifier& inner;
    int asked = 0;
};

TEST_F(SaverWindow, ARefusedCloseShowsTheCleanSnapshotAndGoesOn)
{
    if (verifierKind() != "refuse")
        GTEST_SKIP() << "needs the refusing verifier";
    form->Timer1.start();
    settle(500);
    // Ticks run on a thread of their own: restarted with a long interval
    // (stopping waits for a tick under way), the timer keeps running but no
    // tick lands between the close query and the checks of what it left.
    form->Timer1.stop();
    form->Timer1.setInterval(60000);
    form->Timer1.start();
    ASSERT_NE(form->scene()->surface().pixels(), form->Backdrop());
    // A move of more than 5 pixels that reaches the window while the
    // question is asked goes with its answer: it asks nothing again. (The
    // click between keeps the toolkit from merging the moves.)
    CountingVerifier counting(*verifier);
    form->setVerifier(&counting);
    fakeMovesWithAClickBetween(display(), QPoint(100, 100), QPoint(130, 100));
    pressKey(Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(closed());
    EXPECT_EQ(form->scene()->surface().pixels(), form->Backdrop());
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
    EXPECT_EQ(form->cursor().shape(), Qt::BlankCursor);
    // The window holds its grabs again and ticks on: silhouettes come back.
    form->Timer1.setInterval(100);
    settle(400);
    EXPECT_EQ(counting.asked, 1) << "a move made during the question asked again";
    EXPECT_TRUE(form->holdsInput());
    EXPECT_NE(form->scene()->surface().pixels(), form->Backdrop());
    // The next qualifying request asks again.
    moveTo(QPoint(100, 100));
    moveTo(QPoint(100, 120));
    EXPECT_FALSE(closed());
}

TEST_F(SaverWindow, TicksGoOnWhileTheVerifierRuns)
{
    if (verifierKind() != "slow-accept")
        GTEST_SKIP() << "needs the slow verifier";
    std::atomic<int> ticks = 0;
    form->onTickFinishedForTesting = [&] { ++ticks; };
    form->Timer1.start();
    pressKey(Qt::Key_A, Qt::NoModifier); // the verifier takes two seconds to answer
    EXPECT_TRUE(closed());
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_GE(ticks, 10) << "the close query held the ticks up";
}

TEST_F(SaverWindow, AnAcceptedCloseEndsTheSaver)
{
    if (verifierKind() != "accept")
        GTEST_SKIP() << "needs the accepting verifier";
    pressKey(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(closed());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_FALSE(form->holdsInput());
    EXPECT_EQ(hakop::CursorCounter::count(), -1);
}

// A window rebuilt while a failure box is up gets a new keeper: it starts
// paused as the old one was, leaving the box the input, and takes the input
// when that pause ends.
TEST(ScreenKeeperTakingOver, StartsPausedAsTheOldOneWas)
{
    using namespace std::chrono_literals;
    QWidget window;
    window.setGeometry(0, 0, 200, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* x = static_cast<Display*>(display());
    const auto id = static_cast<unsigned long>(window.winId());
    hakop::ScreenKeeper old(x, id, 100ms);
    old.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return old.holdsInput(); }, 2000));
    old.pause();
    old.stop();

    hakop::ScreenKeeper next(x, id, 100ms);
    next.takeOverPauses(old);
    next.start();
    QTest::qWait(300);
    EXPECT_FALSE(next.holdsInput());
    next.resume();
    EXPECT_TRUE(QTest::qWaitFor([&] { return next.holdsInput(); }, 2000));
    next.stop();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Xlib's macros clash with the toolkit's names: after all of its code.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

void fakeMovesWithAClickBetween(void* display, QPoint from, QPoint to)
{
    auto* x = static_cast<Display*>(display);
    XTestFakeMotionEvent(x, -1, from.x(), from.y(), CurrentTime);
    XTestFakeButtonEvent(x, 2, True, CurrentTime);
    XTestFakeButtonEvent(x, 2, False, CurrentTime);
    XTestFakeMotionEvent(x, -1, to.x(), to.y(), CurrentTime);
    XSync(x, False);
}

} // namespace
