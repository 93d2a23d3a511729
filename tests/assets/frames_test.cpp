// The 48 embedded sprite frames keep the rules the animation relies on: size,
// palette, key colour, where each figure sits, and how silhouettes and mirror
// images derive from the colour frames.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr int W = 85;
constexpr int H = 75;
constexpr int Black = 0, Silver = 7, Yellow = 11, White = 15;

QImage frame(int n)
{
    return QImage(QStringLiteral(":/frames/Image%1.png").arg(n));
}

// Non-yellow bounding box (null if the frame is all yellow).
QRect extent(const QImage& img)
{
    int x0 = W, y0 = H, x1 = -1, y1 = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelIndex(x, y) != Yellow) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
}

class AllFrames : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (int n = 1; n <= 48; ++n)
            s_frames[n] = frame(n);
    }
    static const QImage& img(int n) { return s_frames[n]; }
    static inline QImage s_frames[49];
};

TEST_F(AllFrames, AreEmbeddedAs85x75IndexedPicturesWithTheStandardPalette)
{
    const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    for (int n = 1; n <= 48; ++n) {
        SCOPED_TRACE(n);
        ASSERT_FALSE(img(n).isNull()) << "missing :/frames/Image" << n << ".png";
        EXPECT_EQ(img(n).size(), QSize(W, H));
        EXPECT_EQ(img(n).format(), QImage::Format_Indexed8);
        EXPECT_EQ(img(n).colorTable(), palette);
    }
    EXPECT_TRUE(frame(49).isNull()) << "there are exactly 48 frames";
}

TEST_F(AllFrames, UseOnlyBlackSilverWhiteOnYellowWithAYellowBottomLeftPixel)
{
    for (int n = 1; n <= 48; ++n) {
        SCOPED_TRACE(n);
        ASSERT_FALSE(img(n).isNull());
        EXPECT_EQ(img(n).pixel(0, H - 1), qRgb(255, 255, 0)) << "key colour";
        std::set<int> used;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                used.insert(img(n).pixelIndex(x, y));
        for (int c : used)
            EXPECT_TRUE(c == Black || c == Silver || c == White || c == Yellow) << "colour index " << c;
        EXPECT_GT(used.size(), 1u) << "every frame shows something";
    }
}

TEST_F(AllFrames, FiguresHaveTheirExactExtents)
{
    struct Want {
        int n, x0, x1, y0, y1;
    };
    // The colour frames and, derived from them, the silhouettes (same area).
    const Want want[] = {
        {1, 25, 59, 71, 74},  {2, 25, 59, 63, 74},  {3, 25, 59, 55, 74},  {4, 25, 59, 47, 74},
        {5, 25, 59, 39, 74},  {6, 21, 63, 42, 74},  {7, 18, 66, 42, 74},  {8, 19, 65, 42, 74},
        {9, 27, 57, 42, 73},  {10, 27, 57, 36, 70}, {11, 25, 59, 26, 68}, {12, 22, 62, 19, 64},
        {13, 24, 60, 13, 66}, {14, 26, 57, 12, 63}, {15, 27, 57, 12, 63}, {16, 21, 62, 12, 60},
        {17, 22, 63, 12, 60}, {18, 20, 60, 14, 61}, {19, 24, 64, 14, 61}, {39, 27, 58, 12, 63},
        {40, 27, 57, 12, 63}, {41, 22, 63, 12, 60}, {42, 21, 62, 12, 60}, {43, 20, 64, 14, 58},
    };
    for (const Want& w : want) {
        const QRect r(QPoint(w.x0, w.y0), QPoint(w.x1, w.y1));
        EXPECT_EQ(extent(img(w.n)), r) << "Image" << w.n;
        const int silhouette = w.n <= 19 ? w.n + 19 : w.n + 5;
        EXPECT_EQ(extent(img(silhouette)), r) << "Image" << silhouette;
    }
}

TEST_F(AllFrames, RisingBoxStandsOnOneGroundLineAndCentreInEqualSteps)
{
    const QRect whole = extent(img(5));
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        const QRect r = extent(img(n));
        EXPECT_EQ(r.bottom(), H - 1) << "on the ground line";
        EXPECT_EQ(r.left() + r.right(), whole.left() + whole.right()) << "same centre";
        EXPECT_EQ(r.width(), whole.width());
        EXPECT_EQ(r.top(), whole.top() + 8 * (5 - n)) << "rises 8 rows a tick";
    }
}

TEST_F(AllFrames, SilhouettesAreTheirColourFramesAllBlack)
{
    auto check = [](int colour, int silhouette) {
        SCOPED_TRACE(QStringLiteral("Image%1 vs Image%2").arg(silhouette).arg(colour).toStdString());
        const QImage& c = img(colour);
        const QImage& s = img(silhouette);
        ASSERT_EQ(c.size(), s.size());
        int mismatches = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int expected = c.pixelIndex(x, y) == Yellow ? Yellow : Black;
                mismatches += s.pixelIndex(x, y) != expected;
            }
        EXPECT_EQ(mismatches, 0);
    };
    for (int n = 1; n <= 19; ++n)
        check(n, n + 19);
    for (int n = 39; n <= 43; ++n)
        check(n, n + 5);
}

TEST_F(AllFrames, LeftFacingAndTiltedFramesAreExactMirrors)
{
    auto check = [](int a, int b) {
        SCOPED_TRACE(QStringLiteral("Image%1 vs Image%2").arg(a).arg(b).toStdString());
        int mismatches = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                mismatches += img(a).pixelIndex(x, y) != img(b).pixelIndex(W - 1 - x, y);
        EXPECT_EQ(mismatches, 0);
    };
    for (int n = 0; n < 4; ++n)
        check(39 + n, 14 + n);
    check(19, 18);
    // Walking left must not look like walking right: the turned frames differ
    // from their mirrors.
    for (int n = 14; n <= 17; ++n) {
        int differs = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                differs += img(n).pixelIndex(x, y) != img(n + 25).pixelIndex(x, y);
        EXPECT_GT(differs, 0) << "Image" << n << " is its own mirror";
    }
}

TEST_F(AllFrames, WalkingStepsAreDifferentPictures)
{
    // Two alternating steps only read as walking if the legs really change.
    int changed = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            changed += img(16).pixelIndex(x, y) != img(17).pixelIndex(x, y);
    EXPECT_GT(changed, 100);
}

} // namespace
