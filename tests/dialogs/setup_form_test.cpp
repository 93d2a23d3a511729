// The settings dialog driven through its real widgets: layout and fonts,
// the timed scene swap, and the whole key table of both scenes.
#include "dialogs/About.h"
#include "DialogTestSupport.h"
#include "dialogs/FormDescription.h"
#include "dialogs/Setup.h"
#include "platform/Failure.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace hakop;
using hakop::test::AboutAnswerer;
using hakop::test::key;

namespace {

// A settings dialog on screen and active, with its About box, the way
// settings mode sets them up.
struct Dialogs {
    TSetupForm setup;
    TAboutForm about;
    AboutAnswerer answerer{about};
    QSignalSpy closed{&setup, &TSetupForm::closed};

    Dialogs()
    {
        SetupForm = &setup;
        AboutForm = &about;
    }
    ~Dialogs()
    {
        AboutForm = nullptr;
        SetupForm = nullptr;
    }
    bool open()
    {
        setup.show();
        setup.activateWindow();
        return QTest::qWaitForWindowActive(&setup);
    }
    bool secondScene()
    {
        if (!open())
            return false;
        setup.Timer1Timer();
        return setup.Button1->isVisible() && QApplication::focusWidget() == nullptr;
    }
};

bool drawsEveryCharacter(const QFont& font, const QString& text)
{
    const QFontMetrics metrics(font);
    for (const char32_t c : text.toUcs4())
        if (c != U'&' && !metrics.inFontUcs4(c))
            return false;
    return true;
}

} // namespace

class SetupFormTest : public QObject {
    Q_OBJECT
private slots:
    void layoutFollowsTheDescription();
    void japaneseTextUsesTheSubstitutedFont();
    void firstSceneIsBlackWithWhiteBoldText();
    void sceneSwapsOnceAfterTwoSeconds();
    void firstSceneIgnoresEveryKeyAndBuffersNothing();
    void tabCyclesBetweenTheButtons();
    void arrowsMoveOnlyOnceAButtonHasFocus();
    void enterAndSpacePressOnlyTheFocusedButton();
    void accessKeysPressWithoutMovingFocus_data();
    void accessKeysPressWithoutMovingFocus();
    void escapeAndOtherKeysDoNothing();
    void closeRequestsEndTheDialogInEitherScene();
    void aboutBoxReturnsInputAndFocusesButton1();
    void missingTimerAbortsCreation();
};

void SetupFormTest::layoutFollowsTheDescription()
{
    TSetupForm f;
    QCOMPARE(f.size(), QSize(280, 110));
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QCOMPARE(f.windowTitle(), QStringLiteral("設定...?"));
    const Qt::WindowFlags flags = f.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(f.windowType(), Qt::Dialog);

    QCOMPARE(f.Panel1->geometry(), QRect(8, 8, 265, 90));
    QCOMPARE(f.Panel2->geometry(), QRect(8, 8, 265, 90));
    QVERIFY(!f.Panel1->isHidden());
    QVERIFY(f.Panel2->isHidden());
    QVERIFY(f.Timer1->isActive()); // counting from creation, before showing
    QCOMPARE(f.Timer1->interval(), 2000);

    // In the window's own coordinates.
    QCOMPARE(f.Image1->mapTo(&f, QPoint()), QPoint(16, 16));
    QCOMPARE(f.Image2->mapTo(&f, QPoint()), QPoint(16, 16));
    QCOMPARE(f.Label1->mapTo(&f, QPoint()), QPoint(56, 32));
    QCOMPARE(f.Label2->mapTo(&f, QPoint()), QPoint(56, 32));
    QCOMPARE(QRect(f.Button1->mapTo(&f, QPoint()), f.Button1->size()), QRect(32, 64, 75, 25));
    QCOMPARE(QRect(f.Button2->mapTo(&f, QPoint()), f.Button2->size()), QRect(176, 64, 75, 25));

    // Labels are as wide as their text in the font actually drawn; with the
    // substitute font that comes close to the designed 42 and 151 pixels.
    for (QLabel* label : {f.Label1, f.Label2}) {
        const QFontMetrics metrics(label->font());
        QCOMPARE(label->size(), QSize(metrics.horizontalAdvance(label->text()), metrics.height()));
        QVERIFY2(label->height() >= 13 && label->height() <= 16, qPrintable(QString::number(label->height())));
    }
    QVERIFY2(f.Label1->width() >= 30 && f.Label1->width() <= 48, qPrintable(QString::number(f.Label1->width())));
    QVERIFY2(f.Label2->width() >= 130 && f.Label2->width() <= 170, qPrintable(QString::number(f.Label2->width())));
    qInfo("label sizes: %dx%d, %dx%d", f.Label1->width(), f.Label1->height(), f.Label2->width(), f.Label2->height());

    QVERIFY(QFile::exists(QStringLiteral(":/dialogs/PictureA.png")));
    QCOMPARE(f.Image1->size(), QSize(30, 40));
    QCOMPARE(f.Image2->size(), QSize(30, 40));
}

void SetupFormTest::japaneseTextUsesTheSubstitutedFont()
{
    TSetupForm f;
    for (QLabel* label : {f.Label1, f.Label2}) {
        const QFontInfo info(label->font());
        QCOMPARE(info.family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(info.pixelSize(), 13);
        QVERIFY(info.bold());
        QVERIFY2(drawsEveryCharacter(label->font(), label->text()), qPrintable(label->text()));
    }
    for (QPushButton* button : {f.Button1, f.Button2}) {
        const QFontInfo info(button->font());
        QCOMPARE(info.family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(info.pixelSize(), 12);
        QVERIFY(!info.bold());
        QVERIFY2(drawsEveryCharacter(button->font(), button->text()), qPrintable(button->text()));
    }
    QCOMPARE(f.Button1->text(), QStringLiteral("閉じる(&C)"));
    QCOMPARE(f.Button2->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ(&A)"));
}

void SetupFormTest::firstSceneIsBlackWithWhiteBoldText()
{
    Dialogs d;
    QVERIFY(d.open());
    const QImage shot = d.setup.grab().toImage();
    QCOMPARE(shot.pixelColor(2, 2), QColor(Qt::black));
    QCOMPARE(shot.pixelColor(270, 100), QColor(Qt::black));
    // Somewhere in the label's box the text is white; the button area is
    // empty black in this scene.
    const QRect text(d.setup.Label1->mapTo(&d.setup, QPoint()), d.setup.Label1->size());
    bool white = false;
    for (int y = text.top(); y <= text.bottom() && !white; ++y)
        for (int x = text.left(); x <= text.right() && !white; ++x)
            white = shot.pixelColor(x, y) == QColor(Qt::white);
    QVERIFY(white);
    QCOMPARE(shot.pixelColor(60, 75), QColor(Qt::black));
    if (QFile::exists(QStringLiteral(":/dialogs/PictureA.png")))
        QCOMPARE(shot.pixelColor(16, 16), QColor(255, 255, 0)); // the picture's yellow ground
}

void SetupFormTest::sceneSwapsOnceAfterTwoSeconds()
{
    QElapsedTimer clock;
    clock.start();
    Dialogs d;
    QVERIFY(d.open());
    QTest::qWait(1500 - int(clock.elapsed()));
    QVERIFY(d.setup.Panel1->isVisible());
    QVERIFY(!d.setup.Button1->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(d.setup.Panel2->isVisible(), 2000);
    QVERIFY2(clock.elapsed() >= 1950, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!d.setup.Panel1->isVisible());
    QVERIFY(d.setup.Image2->isVisible() && d.setup.Label2->isVisible());
    QVERIFY(d.setup.Button1->isVisible() && d.setup.Button2->isVisible());
    QVERIFY(!d.setup.Timer1->isActive());
    QCOMPARE(QApplication::focusWidget(), nullptr); // no button focused by the swap

    // No second tick brings the first scene back.
    QTest::qWait(2200);
    QVERIFY(d.setup.Panel2->isVisible());
    QVERIFY(!d.setup.Panel1->isVisible());
}

void SetupFormTest::firstSceneIgnoresEveryKeyAndBuffersNothing()
{
    Dialogs d;
    QVERIFY(d.open());
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    } presses[] = {
        {Qt::Key_C, Qt::NoModifier}, {Qt::Key_A, Qt::NoModifier},      {Qt::Key_C, Qt::AltModifier},
        {Qt::Key_A, Qt::AltModifier}, {Qt::Key_A, Qt::ShiftModifier},  {Qt::Key_Tab, Qt::NoModifier},
        {Qt::Key_Backtab, Qt::ShiftModifier}, {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Space, Qt::NoModifier},
        {Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_Right, Qt::NoModifier}, {Qt::Key_Down, Qt::NoModifier},
    };
    for (const auto& p : presses)
        key(&d.setup, p.key, p.mods);
    QCOMPARE(QApplication::focusWidget(), nullptr);

    d.setup.Timer1Timer();
    QTest::qWait(300); // anything buffered would fire now
    QCOMPARE(d.closed.count(), 0);
    QCOMPARE(d.answerer.openings, 0);
    QVERIFY(d.setup.isVisible());
    QCOMPARE(QApplication::focusWidget(), nullptr);
}

void SetupFormTest::tabCyclesBetweenTheButtons()
{
    {
        Dialogs d;
        QVERIFY(d.secondScene());
        key(&d.setup, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button1);
        key(&d.setup, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button2);
        key(&d.setup, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button1);
    }
    {
        Dialogs d;
        QVERIFY(d.secondScene());
        key(&d.setup, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button2);
        key(&d.setup, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button1);
        key(&d.setup, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), d.setup.Button2);
    }
}

void SetupFormTest::arrowsMoveOnlyOnceAButtonHasFocus()
{
    Dialogs d;
    QVERIFY(d.secondScene());
    for (Qt::Key k : {Qt::Key_Right, Qt::Key_Down, Qt::Key_Left, Qt::Key_Up})
        key(&d.setup, k);
    QCOMPARE(QApplication::focusWidget(), nullptr);

    key(&d.setup, Qt::Key_Tab);
    const struct {
        Qt::Key key;
        QPushButton* expected;
    } steps[] = {
        {Qt::Key_Right, d.setup.Button2}, {Qt::Key_Right, d.setup.Button1}, {Qt::Key_Down, d.setup.Button2},
        {Qt::Key_Down, d.setup.Button1},  {Qt::Key_Left, d.setup.Button2},  {Qt::Key_Left, d.setup.Button1},
        {Qt::Key_Up, d.setup.Button2},    {Qt::Key_Up, d.setup.Button1},
    };
    for (const auto& step : steps) {
        key(&d.setup, step.key);
        QCOMPARE(QApplication::focusWidget(), step.expected);
    }
    QCOMPARE(d.closed.count(), 0);
    QCOMPARE(d.answerer.openings, 0);
}

void SetupFormTest::enterAndSpacePressOnlyTheFocusedButton()
{
    Dialogs d;
    QVERIFY(d.secondScene());
    key(&d.setup, Qt::Key_Return);
    key(&d.setup, Qt::Key_Enter, Qt::KeypadModifier);
    key(&d.setup, Qt::Key_Space);
    QCOMPARE(d.answerer.openings, 0);
    QCOMPARE(d.closed.count(), 0);

    key(&d.setup, Qt::Key_Backtab, Qt::ShiftModifier); // Button2
    key(&d.setup, Qt::Key_Space);
    QCOMPARE(d.answerer.openings, 1);
    key(&d.setup, Qt::Key_Return);
    QCOMPARE(d.answerer.openings, 2);
    key(&d.setup, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(d.answerer.openings, 3);
    QCOMPARE(QApplication::focusWidget(), d.setup.Button2);
    QCOMPARE(d.closed.count(), 0);

    key(&d.setup, Qt::Key_Tab); // Button1
    key(&d.setup, Qt::Key_Space);
    QCOMPARE(d.closed.count(), 1);
    QVERIFY(!d.setup.isVisible());
}

void SetupFormTest::accessKeysPressWithoutMovingFocus_data()
{
    QTest::addColumn<int>("letter");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("opensAbout");
    const int none = Qt::NoModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
    QTest::newRow("c") << int(Qt::Key_C) << none << true << false;
    QTest::newRow("C") << int(Qt::Key_C) << shift << true << false;
    QTest::newRow("Alt+c") << int(Qt::Key_C) << alt << true << false;
    QTest::newRow("Alt+C") << int(Qt::Key_C) << (alt | shift) << true << false;
    QTest::newRow("a") << int(Qt::Key_A) << none << false << true;
    QTest::newRow("A") << int(Qt::Key_A) << shift << false << true;
    QTest::newRow("Alt+a") << int(Qt::Key_A) << alt << false << true;
    QTest::newRow("Ctrl+C is no access key") << int(Qt::Key_C) << int(Qt::ControlModifier) << false << false;
    QTest::newRow("other letter") << int(Qt::Key_X) << none << false << false;
}

void SetupFormTest::accessKeysPressWithoutMovingFocus()
{
    QFETCH(int, letter);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    QFETCH(bool, opensAbout);
    const auto k = Qt::Key(letter);
    const auto mods = Qt::KeyboardModifiers(modifiers);

    // With no button focused they act at once, right after the swap.
    {
        Dialogs d;
        QVERIFY(d.secondScene());
        key(&d.setup, k, mods);
        QCOMPARE(d.closed.count(), closes ? 1 : 0);
        QCOMPARE(d.answerer.openings, opensAbout ? 1 : 0);
    }
    // With the other button focused, the focus stays where it was.
    {
        Dialogs d;
        QVERIFY(d.secondScene());
        key(&d.setup, Qt::Key_Tab);
        if (k == Qt::Key_C)
            key(&d.setup, Qt::Key_Tab);
        QPushButton* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        QVERIFY(focused != nullptr);
        key(&d.setup, k, mods);
        QCOMPARE(d.closed.count(), closes ? 1 : 0);
        QCOMPARE(d.answerer.openings, opensAbout ? 1 : 0);
        QCOMPARE(d.setup.focusWidget(), focused);
    }
}

void SetupFormTest::escapeAndOtherKeysDoNothing()
{
    Dialogs d;
    QVERIFY(d.secondScene());
    key(&d.setup, Qt::Key_Escape);
    key(&d.setup, Qt::Key_Tab);
    key(&d.setup, Qt::Key_Escape);
    key(&d.setup, Qt::Key_F4);
    key(&d.setup, Qt::Key_F4, Qt::ControlModifier);
    QTest::qWait(50);
    QCOMPARE(d.closed.count(), 0);
    QCOMPARE(d.answerer.openings, 0);
    QVERIFY(d.setup.isVisible());
    QCOMPARE(QApplication::focusWidget(), d.setup.Button1);
}

void SetupFormTest::closeRequestsEndTheDialogInEitherScene()
{
    {
        Dialogs d; // first scene, Alt+F4 (what a window manager turns into a close request)
        QVERIFY(d.open());
        key(&d.setup, Qt::Key_F4, Qt::AltModifier);
        QCOMPARE(d.closed.count(), 1);
        QVERIFY(!d.setup.isVisible());
    }
    {
        Dialogs d; // the close box
        QVERIFY(d.secondScene());
        QVERIFY(d.setup.close());
        QCOMPARE(d.closed.count(), 1);
    }
    {
        Dialogs d; // a click on Button1
        QVERIFY(d.secondScene());
        QTest::mouseClick(d.setup.Button1, Qt::LeftButton);
        QCOMPARE(d.closed.count(), 1);
        QVERIFY(!d.setup.isVisible());
    }
}

void SetupFormTest::aboutBoxReturnsInputAndFocusesButton1()
{
    Dialogs d;
    QVERIFY(d.secondScene());
    bool setupBlocked = false;
    d.answerer.whileOpen = [&](TAboutForm& about) {
        // The input goes to the box, and the dialog under it is blocked.
        QTRY_COMPARE(QApplication::activeWindow(), &about);
        setupBlocked = about.isModal() && QApplication::activeModalWidget() == &about
            && QApplication::activeWindow() == &about;
    };
    key(&d.setup, Qt::Key_A); // opened by its access key: no button had the focus
    QCOMPARE(d.answerer.openings, 1);
    QVERIFY(setupBlocked);
    d.answerer.whileOpen = nullptr;
    QVERIFY(QTest::qWaitForWindowActive(&d.setup));
    QTRY_COMPARE(QApplication::focusWidget(), d.setup.Button1);

    // As often as the user likes; the dialog answers keys after each.
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(d.setup.Button2, Qt::LeftButton);
    QCOMPARE(d.answerer.openings, 4);
    QVERIFY(QTest::qWaitForWindowActive(&d.setup));
    QVERIFY(d.setup.Panel2->isVisible());
    key(&d.setup, Qt::Key_C);
    QCOMPARE(d.closed.count(), 1);
}

void SetupFormTest::missingTimerAbortsCreation()
{
    setTimerStarterForTesting([](QTimer&) {});
    bool threw = false;
    try {
        TSetupForm f;
    } catch (const SetupFailure& failure) {
        threw = true;
        QCOMPARE(QString::fromUtf8(failure.what()), QStringLiteral("タイマーを取得できません"));
    }
    setTimerStarterForTesting(nullptr);
    QVERIFY(threw);
    TSetupForm fine;
    QVERIFY(fine.Timer1->isActive());
}

QTEST_MAIN(SetupFormTest)
#include "setup_form_test.moc"
