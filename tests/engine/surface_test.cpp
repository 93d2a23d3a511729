// Sprites and painting on small surfaces, checked pixel for pixel.
#include "engine/Sprite.h"
#include "engine/Surface.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace hakop;
using namespace hakop::test;

namespace {

QRgb px(const Surface& s, int x, int y) { return s.pixels().pixel(x, y); }

// A sprite placed before attaching, as the animation does it.
std::unique_ptr<Sprite> placed(Surface& s, QRect r, const QImage& pic = {}, bool attach = true)
{
    auto sp = std::make_unique<Sprite>(s);
    sp->setTransparent(true);
    sp->setLeft(r.left());
    sp->setTop(r.top());
    sp->setWidth(r.width());
    sp->setHeight(r.height());
    if (attach)
        sp->attach();
    if (!pic.isNull())
        sp->setPicture(KeyedFrame(pic));
    return sp;
}

// What a pass over 'area' must leave, worked out pixel by pixel the slow way.
QImage referencePass(QImage img, const QRegion& area, const std::vector<Sprite*>& list)
{
    for (const QRect& r : area) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                for (const Sprite* s : list) {
                    const QImage& p = s->Picture().image();
                    const int u = x - s->Left(), v = y - s->Top();
                    if (p.isNull() || !s->rect().contains(x, y) || u >= p.width() || v >= p.height())
                        continue;
                    const QRgb c = p.pixel(u, v);
                    if (s->Transparent() && (c & 0xffffff) == (p.pixel(0, p.height() - 1) & 0xffffff))
                        continue;
                    img.setPixel(x, y, c | 0xff000000u);
                }
            }
        }
    }
    return img;
}

} // namespace

TEST(Sprite, MarkingFollowsTheOperationRules)
{
    Surface s(QSize(200, 100));
    auto sp = placed(s, QRect(10, 20, 30, 40), {}, false);
    sp->setPicture(KeyedFrame(picture(QSize(30, 40), QRect(0, 0, 30, 39), White)));
    EXPECT_FALSE(s.hasPending()) << "an unattached sprite marks nothing";
    EXPECT_TRUE(s.paintList().empty());

    sp->attach();
    EXPECT_EQ(s.pending(), QRegion(10, 20, 30, 40));
    sp->attach(); // attaching again must not list it twice
    EXPECT_EQ(s.paintList().size(), 1u);
    s.paintPass();

    sp->setLeft(10);
    sp->setTop(20);
    EXPECT_FALSE(s.hasPending()) << "equal values mark nothing";

    sp->setPicture(sp->Picture());
    EXPECT_EQ(s.pending(), QRegion(10, 20, 30, 40)) << "the same picture still marks";
    s.paintPass();

    // Left then Top: old rect, the rect at the new Left and old Top, the new rect.
    sp->setLeft(50);
    sp->setTop(70);
    QRegion expected = QRegion(10, 20, 30, 40) + QRegion(50, 20, 30, 40) + QRegion(50, 70, 30, 40);
    expected &= QRegion(s.rect());
    EXPECT_EQ(s.pending(), expected);
    EXPECT_FALSE(s.pending().contains(QPoint(10, 80))) << "a union, not a bounding box";
    EXPECT_TRUE(s.pending().contains(QPoint(79, 99)));
    EXPECT_FALSE(s.pending().contains(QPoint(79, 100))) << "clipped to the surface";
    s.paintPass();

    sp->setWidth(5);
    EXPECT_EQ(s.pending(), QRegion(50, 70, 30, 30)) << "shrinking marks the old, larger rect";
}

TEST(Sprite, WhollyOutsideMarksAndDrawsNothing)
{
    Surface s(QSize(100, 100));
    auto sp = placed(s, QRect(0, -75, 85, 75), picture(QSize(85, 75), QRect(0, 0, 85, 74), White));
    EXPECT_FALSE(s.hasPending());
    sp->setLeft(200); // from outside to outside
    EXPECT_FALSE(s.hasPending());
    const QImage before = s.pixels();
    sp->PaintPending();
    EXPECT_EQ(s.pixels(), before);
}

TEST(Sprite, PictureSharesPixelsWithoutCopying)
{
    Surface s(QSize(100, 100));
    const QImage frame = picture(QSize(85, 75), QRect(20, 10, 30, 30), White);
    const uchar* bits = frame.constBits();
    auto sp = placed(s, QRect(0, 0, 85, 75), frame);
    EXPECT_EQ(sp->Picture().image().constBits(), bits);
    EXPECT_EQ(sp->Picture().image().cacheKey(), frame.cacheKey());
    s.paintPass();
    s.paintPass();
    EXPECT_EQ(sp->Picture().image().constBits(), bits) << "painting must not detach the picture";
    EXPECT_EQ(frame.constBits(), bits);
}

TEST(Surface, PaintPassDrawsEverySpriteMeetingTheAreaInAttachOrder)
{
    Surface s(QSize(60, 40));
    const QImage silver = picture(QSize(20, 20), QRect(0, 0, 20, 19), Silver); // key row at the bottom
    const QImage whiteRing = [&] {
        QImage p = picture(QSize(20, 20), QRect(0, 0, 20, 19), White);
        p.setPixel(5, 5, Yellow); // a key-coloured hole
        return p;
    }();
    auto first = placed(s, QRect(0, 0, 20, 20), silver);
    auto second = placed(s, QRect(10, 0, 20, 20), whiteRing);
    s.paintPass();
    EXPECT_EQ(px(s, 5, 5), Silver);
    EXPECT_EQ(px(s, 12, 5), White) << "the later sprite is on top";
    EXPECT_EQ(px(s, 15, 5), Silver) << "its key-coloured pixel lets the earlier one show";

    // The later sprite's silhouette blackens the earlier figure in the overlap...
    second->setPicture(KeyedFrame(silhouetteOf(whiteRing)));
    second->PaintPending();
    EXPECT_EQ(px(s, 12, 5), Black);
    EXPECT_EQ(px(s, 5, 5), Silver);
    // ...while the earlier sprite's silhouette is painted over again by the later one.
    second->setPicture(KeyedFrame(whiteRing));
    first->setPicture(KeyedFrame(silhouetteOf(silver)));
    first->PaintPending();
    EXPECT_EQ(px(s, 5, 5), Black);
    EXPECT_EQ(px(s, 12, 5), White);
    EXPECT_EQ(px(s, 15, 5), Black);
    EXPECT_FALSE(s.hasPending());
}

TEST(Surface, PassIsClippedToThePendingArea)
{
    Surface s(QSize(50, 50));
    const QImage grey = picture(QSize(20, 20), QRect(0, 0, 20, 19), Silver);
    auto sp = placed(s, QRect(0, 0, 20, 20), {}, false);
    sp->setPicture(KeyedFrame(grey));
    sp->attach();
    s.paintPass();
    s.drawDirect(picture(QSize(50, 50), QRect(), Yellow)); // covers the sprite; marks nothing
    EXPECT_FALSE(s.hasPending());
    EXPECT_EQ(px(s, 3, 3), Yellow) << "no sprite shows until it is painted again";
    s.MarkPending(QRect(2, 2, 3, 3));
    s.paintPass();
    EXPECT_EQ(px(s, 3, 3), Silver);
    EXPECT_EQ(px(s, 5, 5), Yellow) << "only the pending pixels are drawn";
}

TEST(Surface, SpritesAreClippedAtEveryEdgeAndNeverMoved)
{
    const QSize size(40, 30);
    const QImage pic = [] { // every pixel distinct, bottom-left is the key
        QImage p(QSize(10, 10), QImage::Format_RGB32);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                p.setPixel(x, y, qRgb(10 * x + 1, 10 * y + 1, 7));
        p.setPixel(0, 9, Yellow);
        return p;
    }();
    for (QPoint at : {QPoint(-4, -6), QPoint(34, -3), QPoint(-7, 25), QPoint(35, 26), QPoint(-9, 10)}) {
        Surface s(size);
        auto sp = placed(s, QRect(at, QSize(10, 10)), pic);
        s.paintPass();
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const int u = x - at.x(), v = y - at.y();
                const bool inside = u >= 0 && v >= 0 && u < 10 && v < 10 && !(u == 0 && v == 9);
                ASSERT_EQ(px(s, x, y), inside ? pic.pixel(u, v) : Black)
                    << "sprite at " << at.x() << "," << at.y() << " pixel " << x << "," << y;
            }
    }
}

TEST(Surface, KeyColourAndTransparencyRules)
{
    Surface s(QSize(30, 10));
    // The key is whatever the bottom-left pixel holds, here red, not yellow.
    QImage redKey = picture(QSize(10, 10), QRect(0, 0, 10, 5), White);
    for (int y = 5; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            redKey.setPixel(x, y, qRgb(255, 0, 0));
    redKey.setPixel(3, 7, Yellow);
    auto keyed = placed(s, QRect(0, 0, 10, 10), redKey);
    auto opaque = placed(s, QRect(10, 0, 10, 10), {});
    opaque->setTransparent(false);
    opaque->setPicture(KeyedFrame(redKey));
    auto empty = placed(s, QRect(20, 0, 10, 10), {});
    s.paintPass();
    EXPECT_EQ(px(s, 1, 1), White);
    EXPECT_EQ(px(s, 1, 7), Black) << "key colour skipped";
    EXPECT_EQ(px(s, 3, 7), Yellow) << "yellow is an ordinary colour in this picture";
    EXPECT_EQ(px(s, 11, 7), qRgb(255, 0, 0)) << "with Transparent off every pixel is drawn";
    EXPECT_EQ(px(s, 25, 5), Black) << "a sprite without a picture draws nothing";
}

TEST(Surface, PicturesInOtherFormatsDrawTheSame)
{
    const QImage rgb = [] {
        QImage p = picture(QSize(12, 8), QRect(2, 1, 8, 5), White);
        p.setPixel(4, 3, Black);
        p.setPixel(5, 3, Silver);
        return p;
    }();
    Surface expect(QSize(20, 20));
    auto a = placed(expect, QRect(3, 4, 12, 8), rgb);
    expect.paintPass();
    for (QImage::Format f : {QImage::Format_Indexed8, QImage::Format_ARGB32, QImage::Format_RGB888,
                             QImage::Format_Mono}) {
        const QImage other = rgb.convertToFormat(f);
        Surface s(QSize(20, 20));
        auto b = placed(s, QRect(3, 4, 12, 8), other);
        s.paintPass();
        if (f == QImage::Format_Mono) { // two colours only: compare with its own RGB32 twin
            Surface t(QSize(20, 20));
            auto c = placed(t, QRect(3, 4, 12, 8), other.convertToFormat(QImage::Format_RGB32));
            t.paintPass();
            EXPECT_EQ(s.pixels(), t.pixels());
        } else {
            EXPECT_EQ(s.pixels(), expect.pixels()) << "format " << f;
        }
        // Converted once, when the keyed form is made; sprites then share it.
        auto d = placed(s, QRect(3, 4, 12, 8));
        d->setPicture(b->Picture());
        EXPECT_EQ(d->Picture().image().constBits(), b->Picture().image().constBits()) << "format " << f;
    }
}

TEST(Surface, FreeingMarksDetachesAndLeavesTheDrawing)
{
    Surface s(QSize(50, 50));
    auto a = placed(s, QRect(5, 5, 10, 10), picture(QSize(10, 10), QRect(0, 0, 10, 9), White));
    auto b = placed(s, QRect(30, 30, 10, 10), picture(QSize(10, 10), QRect(0, 0, 10, 9), Silver));
    s.paintPass();
    EXPECT_EQ(s.spriteAt(QPoint(6, 6)), a.get());
    a.reset();
    EXPECT_EQ(s.pending(), QRegion(5, 5, 10, 10));
    ASSERT_EQ(s.paintList().size(), 1u);
    EXPECT_EQ(s.paintList()[0], b.get());
    s.paintPass();
    EXPECT_EQ(px(s, 6, 6), White) << "the freed sprite's drawing stays";
    EXPECT_EQ(s.spriteAt(QPoint(6, 6)), nullptr);
}

TEST(Surface, PaintPendingRunsAPassOnlyWhenNeeded)
{
    Surface s(QSize(50, 50));
    auto loose = placed(s, QRect(0, 0, 10, 10), picture(QSize(10, 10), QRect(0, 0, 10, 9), White), false);
    auto sp = placed(s, QRect(20, 20, 10, 10), picture(QSize(10, 10), QRect(0, 0, 10, 9), White));
    s.paintPass();
    (void)s.takeDrawn();

    sp->PaintPending();
    EXPECT_TRUE(s.drawn().isEmpty()) << "nothing pending: no pass";

    s.MarkPending(QRect(0, 0, 5, 5));
    loose->PaintPending();
    EXPECT_TRUE(s.drawn().isEmpty()) << "an unattached sprite runs no pass";
    EXPECT_TRUE(s.hasPending());

    sp->PaintPending();
    EXPECT_EQ(s.drawn(), QRegion(0, 0, 5, 5)) << "the pass covers whatever was pending";
    EXPECT_FALSE(s.hasPending());
}

TEST(Surface, DrawnAreaCollectsPassesAndDirectDrawingUntilTaken)
{
    Surface s(QSize(40, 40));
    s.MarkPending(QRect(0, 0, 4, 4));
    s.MarkPending(QRect(10, 10, 4, 4));
    EXPECT_TRUE(s.drawn().isEmpty()) << "marking draws nothing";
    s.drawDirect(picture(QSize(20, 20), QRect(0, 0, 20, 20), White), QPoint(30, 30));
    EXPECT_EQ(s.drawn(), QRegion(30, 30, 10, 10)) << "clipped to the surface";
    EXPECT_EQ(s.pending(), QRegion(0, 0, 4, 4) + QRegion(10, 10, 4, 4)) << "direct drawing marks nothing";
    EXPECT_EQ(px(s, 35, 35), White);
    s.paintPass();
    EXPECT_EQ(s.takeDrawn(), QRegion(30, 30, 10, 10) + QRegion(0, 0, 4, 4) + QRegion(10, 10, 4, 4))
        << "a union of everything drawn";
    EXPECT_TRUE(s.drawn().isEmpty()) << "taking empties it";
    s.drawBackdrop();
    EXPECT_EQ(s.takeDrawn(), QRegion(s.rect()));
}

TEST(Surface, SpriteAtPrefersTheLatestAttached)
{
    Surface s(QSize(100, 100));
    auto a = placed(s, QRect(0, 0, 85, 75));
    auto b = placed(s, QRect(50, 50, 85, 75));
    EXPECT_EQ(s.spriteAt(QPoint(0, 0)), a.get());
    EXPECT_EQ(s.spriteAt(QPoint(60, 60)), b.get());
    EXPECT_EQ(s.spriteAt(QPoint(84, 74)), b.get());
    EXPECT_EQ(s.spriteAt(QPoint(85, 10)), nullptr) << "the rectangle ends at Left + Width - 1";
    EXPECT_EQ(s.spriteAt(QPoint(-1, -1)), nullptr);
}

TEST(Surface, SpriteOutlivingItsSurfaceIsSafe)
{
    auto s = std::make_unique<Surface>(QSize(10, 10));
    auto sp = placed(*s, QRect(0, 0, 5, 5));
    s.reset();
    EXPECT_EQ(sp->parent(), nullptr);
    sp.reset(); // must not touch the freed surface
}

// The worked example of the two-phase swap: a figure walking right leaves the
// part of its silhouette that the next frame does not cover.
TEST(Surface, WalkingFigureLeavesBlackBehind)
{
    Surface s(QSize(400, 400));
    const QImage backdrop = patternBackdrop(s.size());
    s.drawDirect(backdrop);
    const QSize fs(85, 75);
    const QImage walk16 = picture(fs, QRect(QPoint(21, 12), QPoint(62, 60)), White);
    const QImage walk17 = picture(fs, QRect(QPoint(22, 12), QPoint(63, 60)), Silver);
    auto sp = placed(s, QRect(100, 200, 85, 75), walk16);
    s.paintPass();
    sp->setPicture(KeyedFrame(silhouetteOf(walk16)));
    EXPECT_EQ(s.pending(), QRegion(100, 200, 85, 75));
    sp->PaintPending();
    sp->setLeft(108);
    EXPECT_EQ(s.pending(), QRegion(100, 200, 93, 75));
    sp->setPicture(KeyedFrame(walk17));
    s.paintPass();
    for (int x = 110; x < 200; ++x) {
        const QRgb expected = x < 121 || x > 171 ? backdrop.pixel(x, 230)
                            : x <= 129           ? Black
                                                 : Silver;
        ASSERT_EQ(px(s, x, 230), expected) << "column " << x;
    }
    EXPECT_EQ(px(s, 125, 211), backdrop.pixel(125, 211)) << "above the figure";
}

// Random sprites and operations; after every pass the surface must equal a
// pixel-by-pixel reference, and the pending area must stay inside the surface.
TEST(Surface, RandomOperationsMatchTheReferencePainter)
{
    std::mt19937 rng(20261208); // NOLINT(cert-msc51-cpp): a fixed seed keeps a failure reproducible
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const QRgb palette[] = {Yellow, Black, White, Silver, qRgb(255, 0, 0), qRgb(0, 0, 128)};
    auto randomPicture = [&] {
        QImage p(QSize(uni(1, 30), uni(1, 30)), QImage::Format_RGB32);
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x)
                p.setPixel(x, y, palette[uni(0, 5)]);
        const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_ARGB32,
                                          QImage::Format_Indexed8, QImage::Format_RGB16};
        return p.convertToFormat(formats[uni(0, 3)]);
    };
    for (int round = 0; round < 40; ++round) {
        Surface s(QSize(uni(20, 70), uni(20, 70)));
        s.drawDirect(patternBackdrop(s.size()));
        std::vector<std::unique_ptr<Sprite>> sprites;
        sprites.reserve(4);
        for (int i = 0; i < 4; ++i)
            sprites.push_back(placed(s, QRect(uni(-30, 70), uni(-30, 70), uni(0, 30), uni(0, 30)), {}, false));
        for (int op = 0; op < 200; ++op) {
            Sprite& sp = *sprites[uni(0, 3)];
            switch (uni(0, 8)) {
            case 0: sp.setLeft(uni(-40, 80)); break;
            case 1: sp.setTop(uni(-40, 80)); break;
            case 2: sp.setWidth(uni(0, 35)); break;
            case 3: sp.setHeight(uni(0, 35)); break;
            case 4: sp.setPicture(KeyedFrame(randomPicture())); break;
            case 5: sp.attach(); break;
            case 6: sp.setTransparent(uni(0, 1)); break;
            case 7: s.MarkPending(QRect(uni(-20, 70), uni(-20, 70), uni(0, 40), uni(0, 40))); break;
            default: {
                ASSERT_TRUE(QRegion(s.rect()).contains(s.pending().boundingRect()) || !s.hasPending());
                const QImage expected = referencePass(s.pixels(), s.pending(), s.paintList());
                sp.PaintPending();
                if (sp.parent()) {
                    ASSERT_EQ(s.pixels(), expected) << "round " << round << " op " << op;
                }
            }
            }
        }
    }
}
