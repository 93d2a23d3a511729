// The two failure boxes, the timer check and the event-handler guard.
// Runs on the offscreen platform; each box is found among the top-level
// widgets by a single-shot timer, checked, and closed.
#include "app/Application.h"
#include "app/Failure.h"
#include "platform/Log.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

using hakop::applicationErrorText;
using hakop::handlerFailureText;

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Arms a timer that records the first message box on screen and presses its
// OK button.
void closeNextBox(std::optional<SeenBox>& seen)
{
    QTimer::singleShot(0, [&seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            seen = SeenBox{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
            box->button(QMessageBox::Ok) != nullptr ? box->button(QMessageBox::Ok)->click() : box->reject();
            return;
        }
        closeNextBox(seen); // not shown yet: look again on the next turn
    });
}

class Thrower : public QObject {
public:
    int delivered = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("handler broke");
        if (e->type() == QEvent::User + 1) {
            ++delivered;
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

TEST(FailureText, ApplicationErrorTextIsExact)
{
    EXPECT_EQ(applicationErrorText("EOutOfResources", "hakop", reinterpret_cast<const void*>(0x1a2b),
                                   "タイマーを取得できません"),
              "Exception EOutOfResources in module hakop at 0000000000001A2B.\r\nタイマーを取得できません.\r\n");
    EXPECT_EQ(applicationErrorText("E", "m", nullptr, "ends."), "Exception E in module m at 0000000000000000.\r\nends.\r\n");
    EXPECT_EQ(applicationErrorText("E", "m", nullptr, ""), "Exception E in module m at 0000000000000000.\r\n\r\n");
}

TEST(FailureText, HandlerTextAddsADotOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(handlerFailureText("abc"), "abc.");
    EXPECT_EQ(handlerFailureText("v1"), "v1.");               // '1' sorts above '.'
    EXPECT_EQ(handlerFailureText("a/"), "a/.");
    EXPECT_EQ(handlerFailureText("done."), "done.");
    EXPECT_EQ(handlerFailureText("what!"), "what!");          // '!' sorts below
    EXPECT_EQ(handlerFailureText("a-"), "a-");
    EXPECT_EQ(handlerFailureText(""), "");
    EXPECT_EQ(handlerFailureText("できません"), "できません."); // multi-byte last character
}

TEST(FailureBox, HandlerFailureShowsTheHakopBox)
{
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    hakop::reportHandlerFailure(std::runtime_error("オーバーフロー"));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->title, "HAKOP");
    EXPECT_EQ(seen->text, QString::fromUtf8("オーバーフロー."));
    EXPECT_EQ(seen->icon, QMessageBox::Critical);
    EXPECT_EQ(seen->buttons, QMessageBox::Ok);
}

// Out of memory, a box would need more of it than there is: one line, no box.
TEST(FailureBox, OutOfMemoryIsOneLineAndNoBox)
{
    // Looks once (a box would be up by then, inside its own loop) and closes it.
    auto boxes = std::make_shared<int>(0);
    QTimer::singleShot(0, [boxes] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
                ++*boxes;
                box->reject();
            }
    });
    testing::internal::CaptureStderr();
    hakop::reportHandlerFailure(std::bad_alloc());
    const std::string err = testing::internal::GetCapturedStderr();
    QCoreApplication::processEvents();
    EXPECT_EQ(*boxes, 0);
    EXPECT_EQ(err, "hakop: out of memory; the program goes on\n");
}

TEST(FailureBox, AnExceptionFromAnEventHandlerIsReportedAndTheLoopGoesOn)
{
    Thrower target;
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->title, "HAKOP");
    EXPECT_EQ(seen->text, "handler broke.");
    EXPECT_EQ(target.delivered, 1);
}

TEST(FailureBox, AFailureAWindowHandsOnReachesTheBoxOnTheGuiThread)
{
    // A tick's failure is caught on Timer1's thread; the box must still come
    // up on the GUI thread, once, while that thread goes on.
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    std::thread tick([] { hakop::runHandler([] { throw std::runtime_error("tick broke"); }); });
    tick.join();
    EXPECT_FALSE(seen) << "not shown from the tick's thread";
    QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->title, "HAKOP");
    EXPECT_EQ(seen->text, "tick broke.");
}

TEST(FailureBox, WithoutAReporterAFailureIsOneLineOnStderr)
{
    hakop::setFailureReporter(nullptr);
    testing::internal::CaptureStderr();
    hakop::runHandler([] { throw std::runtime_error("grab lost"); });
    hakop::runHandler([] { throw 42; });
    const std::string err = testing::internal::GetCapturedStderr();
    hakop::setFailureReporter([](const std::exception& e) { hakop::reportHandlerFailure(e); });
    EXPECT_EQ(err, "hakop: grab lost\nhakop: Unknown failure\n");
}

TEST(FailureBox, TheLinesNameTheProgramThatSetsItsName)
{
    testing::internal::CaptureStderr();
    hakop::setLogProgramName("hakop-hosted");
    hakop::logSurvived("no backdrop");
    hakop::setLogProgramName("hakop");
    hakop::logSurvived("grab lost");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "hakop-hosted: no backdrop\nhakop: grab lost\n");
}

TEST(FailureBox, TimerStartsOrSetupFails)
{
    QTimer timer;
    timer.setInterval(100);
    EXPECT_NO_THROW(hakop::startTimerOrFail(timer));
    EXPECT_TRUE(timer.isActive());
    timer.stop();

    hakop::setTimerStarterForTesting([](QTimer&) {}); // the platform has no timer to give
    try {
        hakop::startTimerOrFail(timer);
        ADD_FAILURE() << "no failure";
    } catch (const hakop::SetupFailure& failure) {
        EXPECT_EQ(failure.kind(), "EOutOfResources");
        EXPECT_STREQ(failure.what(), "タイマーを取得できません");
        EXPECT_NE(failure.address(), nullptr);
    }
    hakop::setTimerStarterForTesting(nullptr);
    EXPECT_NO_THROW(hakop::startTimerOrFail(timer));
}

TEST(FailureBoxDeathTest, SetupFailureShowsApplicationErrorAndExitsWithOne)
{
    // The box is checked inside the dying process: a mismatch exits with 3
    // instead of the 1 that failWindowSetup gives.
    const auto failSetup = [] {
        QTimer::singleShot(0, [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr)
                    continue;
                const QString text = box->text();
                const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
                const QString head = "Exception EOutOfResources in module " + QFileInfo(exe).fileName() + " at ";
                const QString tail = QString::fromUtf8(".\r\nタイマーを取得できません.\r\n");
                bool hex = false;
                // Relative to the load address: a small offset into the program.
                const qulonglong address = text.mid(head.size(), 16).toULongLong(&hex, 16);
                const bool ok = box->windowTitle() == "Application Error" && text.startsWith(head)
                    && text.endsWith(tail) && text.size() == head.size() + 16 + tail.size() && hex
                    && address > 0 && address < 0x10000000 && box->icon() == QMessageBox::Critical
                    && box->standardButtons() == QMessageBox::Ok;
                if (!ok)
                    std::_Exit(3);
                box->button(QMessageBox::Ok)->click();
                return;
            }
            std::_Exit(2);
        });
        hakop::setTimerStarterForTesting([](QTimer&) {});
        QTimer timer;
        try {
            hakop::startTimerOrFail(timer);
        } catch (const hakop::SetupFailure& failure) {
            hakop::failWindowSetup(failure);
        }
        std::_Exit(4);
    };
    EXPECT_EXIT(failSetup(), ::testing::ExitedWithCode(1), "");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    hakop::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
