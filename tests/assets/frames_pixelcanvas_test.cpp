// The drawing primitives the frames are tuned with: their reach must follow
// from their numbers, or a retouched frame silently drifts out of its extent.
#include "PixelCanvas.h"

#include <gtest/gtest.h>

namespace {

using hakop::art::Mask;
using hakop::art::PixelCanvas;

QRect extentOf(const Mask& m)
{
    PixelCanvas cv;
    cv.paint(m, hakop::art::Black);
    return cv.extent();
}

TEST(PixelCanvasShapes, EllipseCoversExactlyItsBoxForOddAndEvenSizes)
{
    const PixelCanvas cv;
    for (const QRect& box : {QRect(QPoint(27, 42), QPoint(57, 73)), QRect(QPoint(26, 12), QPoint(57, 63)),
                             QRect(QPoint(40, 53), QPoint(44, 56)), QRect(QPoint(0, 0), QPoint(84, 74))}) {
        Mask m = cv.mask();
        m.ellipse(box.left(), box.top(), box.right(), box.bottom());
        EXPECT_EQ(extentOf(m), box);
    }
}

TEST(PixelCanvasShapes, CapsuleReachesWholePixelsPastItsEnds)
{
    const PixelCanvas cv;
    Mask m = cv.mask();
    m.capsule({31, 47}, {25, 41}, 3.5);
    EXPECT_EQ(extentOf(m), QRect(QPoint(22, 38), QPoint(34, 50)));
}

TEST(PixelCanvasDerived, MirrorAndSilhouetteKeepKeyAndPlace)
{
    PixelCanvas cv;
    cv.set(3, 10, hakop::art::White);
    cv.set(4, 10, hakop::art::Silver);
    const PixelCanvas mirror = cv.mirrored();
    EXPECT_EQ(mirror.at(81, 10), hakop::art::White);
    EXPECT_EQ(mirror.at(80, 10), hakop::art::Silver);
    EXPECT_EQ(mirror.extent(), QRect(QPoint(80, 10), QPoint(81, 10)));
    const PixelCanvas shadow = cv.silhouette();
    EXPECT_EQ(shadow.at(3, 10), hakop::art::Black);
    EXPECT_EQ(shadow.at(4, 10), hakop::art::Black);
    EXPECT_EQ(shadow.at(5, 10), PixelCanvas::Key);
    const QImage img = cv.toImage();
    EXPECT_EQ(img.format(), QImage::Format_Indexed8);
    EXPECT_EQ(img.colorCount(), 16);
    EXPECT_EQ(img.pixelIndex(4, 10), hakop::art::Silver);
}

} // namespace
