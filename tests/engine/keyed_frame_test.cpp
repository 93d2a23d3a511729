// A frame's keyed form: worked out once, shared by every copy, and exactly
// the pixels that are not the bottom-left pixel's colour.
#include "engine/KeyedFrame.h"
#include "engine/MemoryCanvas.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <vector>

using namespace hakop;
using namespace hakop::test;

namespace {

// Row y's runs as written pairs, for readable failures.
std::vector<KeyedFrame::Run> runsOf(const KeyedFrame& f, int y)
{
    const auto [first, last] = f.runs(y);
    return std::vector<KeyedFrame::Run>(first, last);
}

} // namespace

TEST(KeyedFrame, RunsAreTheColumnsThatAreNotTheKeyColour)
{
    // Key red (the bottom-left pixel); yellow is an ordinary colour here.
    QImage p(7, 3, QImage::Format_RGB32);
    p.fill(qRgb(255, 0, 0));
    p.setPixel(0, 0, White);
    p.setPixel(2, 0, Yellow);
    p.setPixel(3, 0, Yellow);
    p.setPixel(6, 0, Black);
    for (int x = 0; x < 7; ++x)
        p.setPixel(x, 1, Silver);
    // The key compares colours only: a different alpha is still the key.
    p.setPixel(4, 2, qRgba(255, 0, 0, 0));
    const KeyedFrame f(p.convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(f.keyColour(), 0xff0000u);
    EXPECT_EQ(runsOf(f, 0), (std::vector<KeyedFrame::Run>{{0, 1}, {2, 4}, {6, 7}}));
    EXPECT_EQ(runsOf(f, 1), (std::vector<KeyedFrame::Run>{{0, 7}}));
    EXPECT_TRUE(runsOf(f, 2).empty());
    EXPECT_EQ(f.runCount(), 4u);
    EXPECT_TRUE(runsOf(f, 3).empty()) << "no row past the picture";
    EXPECT_EQ(f.image().format(), QImage::Format_RGB32);
}

TEST(KeyedFrame, CopiesShareOneFormAndEveryFormHasItsOwnNumber)
{
    const QImage p = picture(QSize(20, 10), QRect(2, 2, 5, 5), White);
    const KeyedFrame a(p);
    const KeyedFrame copy = a; // NOLINT(performance-unnecessary-copy-initialization): the copy is what is tested
    const KeyedFrame again(p); // the same pixels, worked out anew
    EXPECT_EQ(copy, a);
    EXPECT_EQ(copy.id(), a.id());
    EXPECT_EQ(copy.image().constBits(), p.constBits()) << "RGB32 pixels are shared, not copied";
    EXPECT_NE(again.id(), a.id()) << "a canvas must not take one for the other";
    EXPECT_NE(a.id(), 0u);

    const KeyedFrame none;
    EXPECT_TRUE(none.isNull());
    EXPECT_EQ(none.id(), 0u);
    EXPECT_TRUE(KeyedFrame(QImage()).isNull());
    MemoryCanvas canvas(QSize(10, 10));
    canvas.drawFrame(none, QPoint(0, 0), true, QRegion(0, 0, 10, 10), QRect(0, 0, 10, 10));
    EXPECT_EQ(canvas.read().pixel(5, 5), Black) << "no picture draws nothing";
}

TEST(MemoryCanvas, KeepsItsSnapshotUntilReleased)
{
    const QImage backdrop = patternBackdrop(QSize(30, 20));
    MemoryCanvas canvas(backdrop);
    EXPECT_EQ(canvas.size(), backdrop.size());
    EXPECT_EQ(canvas.read().pixel(3, 3), Black) << "the pixels start black";
    canvas.drawBackdrop();
    EXPECT_EQ(canvas.read(), backdrop);
    canvas.drawImage(picture(QSize(30, 20), QRect(0, 0, 30, 20), White), QPoint(0, 0));
    canvas.releaseBackdrop();
    EXPECT_TRUE(canvas.backdrop().isNull());
    canvas.drawBackdrop();
    EXPECT_EQ(canvas.read().pixel(3, 3), White) << "a released snapshot draws nothing";
}

// Pixels handed over (a display server's memory, already showing something)
// are neither replaced nor cleared before the first drawing, which goes into them.
TEST(MemoryCanvas, DrawsIntoPixelsItIsGivenWithoutClearingThem)
{
    const QImage backdrop = patternBackdrop(QSize(30, 20));
    QImage given = picture(QSize(30, 20), QRect(0, 0, 30, 20), White);
    const uchar* const memory = given.constBits();
    MemoryCanvas canvas(backdrop, given);
    given = QImage(); // the canvas holds the only reference, as it asks
    EXPECT_EQ(canvas.read().constBits(), memory);
    EXPECT_EQ(canvas.read().pixel(3, 3), White) << "the pixels start as they were";
    canvas.drawBackdrop();
    EXPECT_EQ(canvas.read(), backdrop);
    EXPECT_EQ(canvas.read().constBits(), memory);
}
