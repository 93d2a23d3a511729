// The About box driven through its real widgets: layout, every way of
// closing and its result, keys that must not close, where it reopens and
// with which focus, and the read-only text.
#include "dialogs/About.h"
#include "DialogTestSupport.h"
#include "dialogs/WindowPlacement.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>

#include <functional>

using namespace hakop;
using hakop::test::key;

namespace {

using Action = std::function<void(TAboutForm&)>;

// Opens the box modally, runs 'action' from inside its loop once it is
// active, and returns exec()'s result. If the action leaves the box open,
// 'stillOpen' says so and the box is closed with its button.
int openAndDo(TAboutForm& about, const Action& action, bool* stillOpen = nullptr)
{
    QTimer::singleShot(0, &about, [&] {
        // It takes the input itself, window manager or not.
        // A box that never became active fails the test, but is still closed
        // below so the test does not hang in exec().
        if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == &about; }))
            QTest::qFail("the About box did not become active", __FILE__, __LINE__);
        action(about);
        QCoreApplication::processEvents();
        if (stillOpen != nullptr)
            *stillOpen = about.isVisible();
        if (about.isVisible())
            QTest::mouseClick(about.Button1, Qt::LeftButton);
    });
    return about.exec();
}

Action keyPress(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    return [k, mods](TAboutForm& about) { key(&about, k, mods); };
}

Action inMemo(const Action& then)
{
    return [then](TAboutForm& about) {
        about.Memo1->setFocus(Qt::TabFocusReason);
        then(about);
    };
}

QRectF lineRectInView(const QTextEdit& memo, int blockNumber)
{
    const QTextBlock block = memo.document()->findBlockByNumber(blockNumber);
    QRectF rect = memo.document()->documentLayout()->blockBoundingRect(block);
    rect.translate(0, -memo.verticalScrollBar()->value());
    return rect;
}

} // namespace

class AboutFormTest : public QObject {
    Q_OBJECT
private slots:
    void layoutFollowsTheDescription();
    void memoHoldsEightLinesWithTheFirstThreeInView();
    void everyWayOfClosingReturnsTwo_data();
    void everyWayOfClosingReturnsTwo();
    void keysThatMustNotClose_data();
    void keysThatMustNotClose();
    void memoIsReadOnlyButSelectable();
    void reopensWhereItWasWithTheLastFocus();
    void centringFormula();
    void frameToPlaceBy();
};

void AboutFormTest::layoutFollowsTheDescription()
{
    TAboutForm about;
    QCOMPARE(about.size(), QSize(306, 180));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.windowTitle(), QStringLiteral("About HAKOP"));
    QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(about.Button1->text(), QStringLiteral("&OK"));
    QCOMPARE(QFontInfo(about.Button1->font()).family(), QStringLiteral("IPAPGothic"));

    const QFontInfo memoFont(about.Memo1->font());
    QCOMPARE(memoFont.family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(memoFont.pixelSize(), 12);
    QVERIFY(memoFont.bold());
    QCOMPARE(about.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QImage shot = about.grab().toImage();
    const QColor yellow(255, 255, 0);
    QCOMPARE(shot.pixelColor(3, 175), yellow);    // window ground
    QCOMPARE(shot.pixelColor(300, 130), yellow);  // text box ground
    QCOMPARE(shot.pixelColor(5, 62), yellow);     // banner ground merges with the window
    // As drawn: the banner's own pixels fill the top 65 rows, the memo's sunken
    // border starts right under them, and the written button rectangle is the
    // button's face, whatever geometry the widgets report.
    const QImage banner = QImage(QStringLiteral(":/dialogs/Banner.png")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(banner.size(), QSize(306, 65));
    QCOMPARE(shot.copy(0, 0, 306, 65).convertToFormat(QImage::Format_RGB32), banner);
    QVERIFY(shot.pixelColor(150, 65) != yellow);
    for (const QPoint inside : {QPoint(116, 146), QPoint(186, 166), QPoint(120, 160)})
        QCOMPARE(about.childAt(inside), about.Button1);
    QVERIFY(about.childAt(QPoint(112, 156)) != about.Button1);
    QVERIFY(about.childAt(QPoint(151, 170)) != about.Button1);
    // Blue text somewhere in the first line.
    bool blue = false;
    for (int y = 67; y < 85 && !blue; ++y)
        for (int x = 100; x < 206 && !blue; ++x)
            blue = shot.pixelColor(x, y) == QColor(0, 0, 255);
    QVERIFY(blue);
    about.hide();
}

void AboutFormTest::memoHoldsEightLinesWithTheFirstThreeInView()
{
    TAboutForm about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QTextEdit& memo = *about.Memo1;
    const QTextDocument& doc = *memo.document();
    QCOMPARE(doc.blockCount(), 8);
    QCOMPARE(doc.findBlockByNumber(0).text(), QStringLiteral("HAKOP 1.1"));
    for (int n : {1, 2, 6, 7})
        QVERIFY(!doc.findBlockByNumber(n).text().isEmpty());
    for (int n : {3, 4, 5})
        QVERIFY(doc.findBlockByNumber(n).text().isEmpty());
    for (const QChar c : doc.toPlainText())
        QVERIFY2(c.unicode() < 0x100, "the text box holds Western characters only");

    const qreal middle = memo.viewport()->width() / 2.0;
    for (int n : {0, 1, 2, 6, 7}) {
        const QTextBlock block = doc.findBlockByNumber(n);
        QCOMPARE(block.layout()->lineCount(), 1); // no line wraps, so three lines stay in view
        const QRectF line = block.layout()->lineAt(0).naturalTextRect();
        const QRectF blockRect = doc.documentLayout()->blockBoundingRect(block);
        QVERIFY2(qAbs(blockRect.left() + line.center().x() - middle) <= 2.0, qPrintable(block.text()));
    }

    const int viewHeight = memo.viewport()->height();
    QVERIFY(lineRectInView(memo, 0).top() >= 0);
    QVERIFY(lineRectInView(memo, 2).bottom() <= viewHeight);
    QVERIFY(lineRectInView(memo, 6).top() >= viewHeight); // dedication out of view
    about.hide();
}

void AboutFormTest::everyWayOfClosingReturnsTwo_data()
{
    QTest::addColumn<Action>("action");
    QTest::newRow("click OK") << Action([](TAboutForm& a) { QTest::mouseClick(a.Button1, Qt::LeftButton); });
    QTest::newRow("Enter on OK") << keyPress(Qt::Key_Return);
    QTest::newRow("keypad Enter on OK") << keyPress(Qt::Key_Enter, Qt::KeypadModifier);
    QTest::newRow("Space on OK") << keyPress(Qt::Key_Space);
    QTest::newRow("Esc") << keyPress(Qt::Key_Escape);
    QTest::newRow("o") << keyPress(Qt::Key_O);
    QTest::newRow("O") << keyPress(Qt::Key_O, Qt::ShiftModifier);
    QTest::newRow("Alt+O") << keyPress(Qt::Key_O, Qt::AltModifier);
    QTest::newRow("Alt+O in the text") << inMemo(keyPress(Qt::Key_O, Qt::AltModifier));
    QTest::newRow("Alt+Shift+O in the text") << inMemo(keyPress(Qt::Key_O, Qt::AltModifier | Qt::ShiftModifier));
    QTest::newRow("Esc in the text") << inMemo(keyPress(Qt::Key_Escape));
    QTest::newRow("close box") << Action([](TAboutForm& a) { a.close(); });
    QTest::newRow("Alt+F4") << keyPress(Qt::Key_F4, Qt::AltModifier);
    QTest::newRow("Alt+F4 in the text") << inMemo(keyPress(Qt::Key_F4, Qt::AltModifier));
}

void AboutFormTest::everyWayOfClosingReturnsTwo()
{
    QFETCH(Action, action);
    TAboutForm about;
    bool stillOpen = true;
    QCOMPARE(openAndDo(about, action, &stillOpen), 2);
    QVERIFY(!stillOpen);
    QVERIFY(!about.isVisible());
    // ... and it can be shown again afterwards.
    QCOMPARE(openAndDo(about, keyPress(Qt::Key_Escape)), 2);
}

void AboutFormTest::keysThatMustNotClose_data()
{
    QTest::addColumn<Action>("action");
    QTest::newRow("Shift+Esc") << keyPress(Qt::Key_Escape, Qt::ShiftModifier);
    QTest::newRow("Ctrl+Esc") << keyPress(Qt::Key_Escape, Qt::ControlModifier);
    QTest::newRow("Alt+Esc") << keyPress(Qt::Key_Escape, Qt::AltModifier);
    QTest::newRow("Ctrl+O") << keyPress(Qt::Key_O, Qt::ControlModifier);
    QTest::newRow("other letter") << keyPress(Qt::Key_K);
    QTest::newRow("o in the text") << inMemo(keyPress(Qt::Key_O));
    QTest::newRow("O in the text") << inMemo(keyPress(Qt::Key_O, Qt::ShiftModifier));
    QTest::newRow("Enter in the text") << inMemo(keyPress(Qt::Key_Return));
    QTest::newRow("Space in the text") << inMemo(keyPress(Qt::Key_Space));
    QTest::newRow("Tab") << keyPress(Qt::Key_Tab);
}

void AboutFormTest::keysThatMustNotClose()
{
    QFETCH(Action, action);
    TAboutForm about;
    bool stillOpen = false;
    QCOMPARE(openAndDo(about, action, &stillOpen), 2);
    QVERIFY(stillOpen);
}

void AboutFormTest::memoIsReadOnlyButSelectable()
{
    TAboutForm about;
    const QString original = about.Memo1->toPlainText();
    QString copied;
    int scrolledTo = -1;
    openAndDo(about, [&](TAboutForm& a) {
        key(&a, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), a.Memo1);
        QTest::keyClicks(a.Memo1, QStringLiteral("xyz"));
        for (Qt::Key k : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return})
            key(&a, k);
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        key(&a, Qt::Key_V, Qt::ControlModifier);
        key(&a, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(a.Memo1->toPlainText(), original);

        key(&a, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(a.Memo1->textCursor().selectedText().size(), original.size());
        key(&a, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();

        // Moving the caret to the end scrolls the dedication into view.
        key(&a, Qt::Key_End, Qt::ControlModifier);
        const int viewHeight = a.Memo1->viewport()->height();
        QVERIFY(a.Memo1->verticalScrollBar()->value() > 0);
        QVERIFY(lineRectInView(*a.Memo1, 7).bottom() <= viewHeight);
        QVERIFY(lineRectInView(*a.Memo1, 7).top() >= 0);
        scrolledTo = a.Memo1->verticalScrollBar()->value();
    });
    QCOMPARE(copied, original);
    // The scroll position outlives the closing.
    openAndDo(about, [&](TAboutForm& a) { QCOMPARE(a.Memo1->verticalScrollBar()->value(), scrolledTo); });
}

void AboutFormTest::reopensWhereItWasWithTheLastFocus()
{
    TAboutForm about;
    const QRect display = QGuiApplication::primaryScreen()->geometry();
    QPoint firstPosition;
    QWidget* firstFocus = nullptr;
    openAndDo(about, [&](TAboutForm& a) {
        firstPosition = a.frameGeometry().topLeft();
        firstFocus = QApplication::focusWidget();
        key(&a, Qt::Key_Tab);
        // Let the window settle as it would under a window manager before
        // "the user" moves it.
        QTest::qWait(1700);
        a.move(100, 120);
        QTRY_COMPARE(a.frameGeometry().topLeft(), QPoint(100, 120));
        key(&a, Qt::Key_O, Qt::AltModifier);
    });
    QCOMPARE(firstPosition, centredFramePosition(display, about.frameGeometry().size()));
    QCOMPARE(firstFocus, about.Button1);

    QPoint secondPosition;
    QWidget* secondFocus = nullptr;
    openAndDo(about, [&](TAboutForm& a) {
        secondPosition = a.frameGeometry().topLeft();
        secondFocus = QApplication::focusWidget();
        key(&a, Qt::Key_Tab); // back to the button, closed from there
    });
    QCOMPARE(secondPosition, QPoint(100, 120));
    QCOMPARE(secondFocus, about.Memo1);

    openAndDo(about, [&](TAboutForm&) { secondFocus = QApplication::focusWidget(); });
    QCOMPARE(secondFocus, about.Button1);
}

void AboutFormTest::centringFormula()
{
    // Each half rounded toward zero, never negative, from the display's origin.
    QCOMPARE(centredFramePosition(QRect(0, 0, 1280, 800), QSize(286, 139)), QPoint(497, 330));
    QCOMPARE(centredFramePosition(QRect(0, 0, 1281, 801), QSize(300, 200)), QPoint(490, 300));
    QCOMPARE(centredFramePosition(QRect(0, 0, 200, 100), QSize(306, 180)), QPoint(0, 0));
    QCOMPARE(centredFramePosition(QRect(1920, 0, 1280, 1024), QSize(280, 124)), QPoint(2420, 450));
}

void AboutFormTest::frameToPlaceBy()
{
    const QMargins openbox(1, 20, 1, 1);
    // Qt's estimate while the window manager's frame is still 1 x 1 around a
    // 306 x 180 client: it would centre a 2 x 2 window.
    const QMargins midDecoration(0, 0, -305, -179);
    QCOMPARE(knownFrame(openbox, true, midDecoration), openbox);
    QCOMPARE(knownFrame(openbox, false, QMargins()), openbox);
    // Announcing, but not for this window yet: wait, whatever Qt guesses.
    QCOMPARE(knownFrame(std::nullopt, true, midDecoration), QMargins());
    QCOMPARE(knownFrame(std::nullopt, true, QMargins(0, 0, 2, 21)), QMargins());
    // No announcements: Qt's estimate, once it surrounds the client.
    QCOMPARE(knownFrame(std::nullopt, false, openbox), openbox);
    QCOMPARE(knownFrame(QMargins(), false, openbox), openbox);
    QCOMPARE(knownFrame(std::nullopt, false, midDecoration), QMargins());
}

QTEST_MAIN(AboutFormTest)
#include "about_form_test.moc"
