// Whole saver scenes on the real artwork: show, tick, the backdrop redraw,
// closing, and two scenes side by side.
#include "engine/ImageList.h"
#include "engine/SaverScene.h"
#include "engine/MemoryCanvas.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

using namespace hakop;
using namespace hakop::test;

namespace {

void advance(SaverScene& s, int ticks)
{
    for (int t = 0; t < ticks; ++t) {
        s.tick();
        s.paintPending();
    }
}

} // namespace

// The walking example with the real frames: state 16's silhouette at Left 100,
// then state 17's colour frame at 108. Black stays exactly where the
// silhouette is black and the new frame leaves the key colour.
TEST(Scene, RealWalkingFramesLeaveATrail)
{
    Surface s(QSize(400, 400));
    const QImage backdrop = patternBackdrop(s.size());
    s.drawDirect(backdrop);
    Sprite sp(s);
    sp.setTransparent(true);
    sp.setLeft(100);
    sp.setTop(200);
    sp.setWidth(85);
    sp.setHeight(75);
    sp.attach();
    sp.setPicture(embeddedFrames().Frames(16));
    s.paintPass();
    sp.setPicture(embeddedFrames().Frames(16 + 25));
    sp.PaintPending();
    sp.setLeft(108);
    sp.setPicture(embeddedFrames().Frames(17));
    s.paintPass();

    const QImage& sil = embeddedFrames().Frames(41).image();
    const QImage& next = embeddedFrames().Frames(17).image();
    int blackLeftOf130 = 0;
    for (int y = 200; y < 275; ++y)
        for (int x = 90; x < 200; ++x) {
            QRgb want = backdrop.pixel(x, y);
            if (x >= 100 && x < 185 && sil.pixel(x - 100, y - 200) == Black)
                want = Black;
            if (x >= 108 && x < 193 && next.pixel(x - 108, y - 200) != Yellow)
                want = next.pixel(x - 108, y - 200);
            ASSERT_EQ(s.pixels().pixel(x, y), want) << x << "," << y;
            if (want == Black && x < 130) {
                ++blackLeftOf130;
                EXPECT_GE(x, 121) << "the silhouette's black starts at column 121";
            }
        }
    EXPECT_GT(blackLeftOf130, 0) << "the trail behind the walker";
}

TEST(Scene, ShowDrawsTheSnapshotThenTheSprites)
{
    const QImage backdrop = patternBackdrop(QSize(640, 480));
    SaverScene scene(backdrop, embeddedFrames());
    scene.show(45296789);
    EXPECT_EQ(scene.surface().pixels(), backdrop);
    scene.paintPending();
    EXPECT_NE(scene.surface().pixels(), backdrop);
    EXPECT_TRUE(onlyStampsAndSprites(scene, backdrop));
    advance(scene, 40);
    EXPECT_TRUE(onlyStampsAndSprites(scene, backdrop));
}

TEST(Scene, BackdropRedrawWipesStampsUntilTheSpritesArePaintedAgain)
{
    const QImage backdrop = patternBackdrop(QSize(640, 480));
    SaverScene scene(backdrop, embeddedFrames());
    scene.show(99);
    advance(scene, 30);
    scene.tick(); // sprite 5's new frame stays pending
    const QRegion pending = scene.surface().pending();
    ASSERT_FALSE(pending.isEmpty());
    scene.redrawBackdrop();
    EXPECT_EQ(scene.surface().pixels(), backdrop);
    EXPECT_EQ(scene.surface().pending(), pending) << "the redraw marks nothing";
    scene.paintPending();
    // Only what was pending came back.
    const QImage& px = scene.surface().pixels();
    for (int y = 0; y < px.height(); ++y)
        for (int x = 0; x < px.width(); ++x)
            if (px.pixel(x, y) != backdrop.pixel(x, y)) {
                ASSERT_TRUE(pending.contains(QPoint(x, y))) << x << "," << y;
            }
}

TEST(Scene, ClosingFreesTheSpritesAndKeepsTheirDrawings)
{
    SaverScene scene(patternBackdrop(QSize(320, 240)), embeddedFrames());
    scene.show(5);
    advance(scene, 20);
    const QImage before = scene.surface().pixels().copy();
    scene.close();
    EXPECT_TRUE(scene.surface().paintList().empty());
    advance(scene, 3);
    EXPECT_EQ(scene.surface().pixels(), before);
    // The snapshot is let go: nothing left to redraw.
    EXPECT_TRUE(scene.Backdrop().isNull());
    scene.redrawBackdrop();
    EXPECT_EQ(scene.surface().pixels(), before);
}

// The scene draws on whatever canvas it is given, and only through it.
TEST(Scene, DrawsThroughTheCanvasItIsGiven)
{
    struct Recording : MemoryCanvas {
        using MemoryCanvas::MemoryCanvas;
        void drawBackdrop() override { ++backdrops; MemoryCanvas::drawBackdrop(); }
        void drawFrame(const KeyedFrame& f, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override
        {
            ++frames;
            allKeyed &= keyed;
            MemoryCanvas::drawFrame(f, at, keyed, clip, box);
        }
        int backdrops = 0, frames = 0;
        bool allKeyed = true;
    };
    const QImage backdrop = patternBackdrop(QSize(320, 240));
    auto canvas = std::make_unique<Recording>(backdrop);
    Recording* seen = canvas.get();
    SaverScene scene(std::move(canvas), embeddedFrames());
    SaverScene reference(backdrop, embeddedFrames());
    scene.show(7);
    reference.show(7);
    advance(scene, 25);
    advance(reference, 25);
    EXPECT_EQ(seen->backdrops, 1);
    EXPECT_GT(seen->frames, 25);
    EXPECT_TRUE(seen->allKeyed) << "the figures always leave their key colour out";
    EXPECT_EQ(scene.surface().pixels(), reference.surface().pixels());
    scene.redrawBackdrop();
    EXPECT_EQ(seen->backdrops, 2);
    EXPECT_EQ(scene.surface().pixels(), backdrop);
}

TEST(Scene, TwoScenesAreIndependent)
{
    const QImage backdrop = patternBackdrop(QSize(500, 400));
    SaverScene a(backdrop, embeddedFrames()), b(backdrop, embeddedFrames());
    SaverScene aloneA(backdrop, embeddedFrames()), aloneB(backdrop, embeddedFrames());
    a.show(1);
    b.show(2);
    aloneA.show(1);
    aloneB.show(2);
    for (int t = 0; t < 300; ++t) {
        advance(a, 1);
        advance(b, 2); // out of step on purpose
    }
    advance(aloneA, 300);
    advance(aloneB, 600);
    EXPECT_EQ(a.surface().pixels(), aloneA.surface().pixels());
    EXPECT_EQ(b.surface().pixels(), aloneB.surface().pixels());
    EXPECT_EQ(a.random().seed(), aloneA.random().seed());
    EXPECT_NE(a.surface().pixels(), b.surface().pixels());
}
