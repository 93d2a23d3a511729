// The dialog pictures as they reach the screen at the scale factor the test
// runs under (QT_SCALE_FACTOR, set per registered test): read back from the X
// server, every picture holds only its own colours, and at a whole factor it
// is exactly the picture with each pixel repeated factor x factor times.
#include "dialogs/About.h"
#include "dialogs/FormDescription.h"
#include "dialogs/Setup.h"
#include "dialogs/SharpPicture.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWindow>

#include <cmath>

using namespace hakop;

namespace {

QSet<QRgb> coloursOf(const QImage& image)
{
    QSet<QRgb> colours;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            colours.insert(rgb.pixel(x, y) | 0xff000000u);
    return colours;
}

// The picture box's area on the screen, in device pixels.
QImage onScreen(QLabel* picture)
{
    const qreal ratio = picture->devicePixelRatioF();
    const QPoint logical = picture->mapToGlobal(QPoint(0, 0));
    const QSizeF size = picture->pixmap().deviceIndependentSize();
    const QRect device(qRound(logical.x() * ratio), qRound(logical.y() * ratio), qRound(size.width() * ratio),
                       qRound(size.height() * ratio));
    // Window 0 is the root window: these are the pixels the X server shows.
    const QImage root = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    return root.copy(device);
}

void checkSharp(QLabel* picture, const char* name)
{
    const QImage source = picture->pixmap().toImage();
    QVERIFY2(!source.isNull(), name);
    const QImage shown = onScreen(picture);
    const QSet<QRgb> own = coloursOf(source);
    const QSet<QRgb> seen = coloursOf(shown);
    QVERIFY2(own.contains(seen), qPrintable(QStringLiteral("%1: %2 colours on screen, %3 in the picture")
                                                .arg(QLatin1String(name)).arg(seen.size()).arg(own.size())));
    const qreal ratio = picture->devicePixelRatioF();
    if (ratio != std::round(ratio))
        return;
    const int k = int(ratio);
    QCOMPARE(shown.size(), source.size() * k);
    const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if ((shown.pixel(x, y) | 0xff000000u) != (rgb.pixel(x / k, y / k) | 0xff000000u))
                QFAIL(qPrintable(QStringLiteral("%1: device pixel %2,%3 is not its source pixel")
                                     .arg(QLatin1String(name)).arg(x).arg(y)));
}

void showAndSettle(QWidget& window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300); // the first paint reaches the server
}

} // namespace

class SharpPicturesTest : public QObject {
    Q_OBJECT
private slots:
    void enlargedKeepsOnlySourceColours()
    {
        QImage source(3, 2, QImage::Format_RGB32);
        const QRgb colours[] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff000000, 0xffffffff};
        for (int i = 0; i < 6; ++i)
            source.setPixel(i % 3, i / 3, colours[i]);
        const QPixmap pixmap = QPixmap::fromImage(source);
        for (const qreal ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) {
            const QPixmap big = SharpPicture::enlarged(pixmap, ratio);
            QCOMPARE(big.devicePixelRatio(), ratio);
            QCOMPARE(big.size(), QSize(qRound(3 * ratio), qRound(2 * ratio)));
            QVERIFY(coloursOf(source).contains(coloursOf(big.toImage())));
        }
    }

    void settingsPicturesOnScreen()
    {
        TSetupForm setup;
        showAndSettle(setup);
        qInfo("device pixel ratio %.2f", setup.devicePixelRatioF());
        checkSharp(setup.Image1, "picture A");
        setup.Timer1Timer(); // the second scene
        QTest::qWait(300);
        checkSharp(setup.Image2, "picture B");
    }

    void aboutBannerOnScreen()
    {
        TAboutForm about;
        showAndSettle(about);
        checkSharp(about.Image1, "About banner");
    }
};

QTEST_MAIN(SharpPicturesTest)
#include "sharp_pictures_test.moc"
