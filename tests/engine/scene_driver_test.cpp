// The scene driver as a host sees it: whatever it draws reaches the display
// through one present per tick, and the display then matches the pixels.
#include "engine/ImageList.h"
#include "engine/MemoryCanvas.h"
#include "engine/SceneDriver.h"
#include "TestPictures.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

using namespace hakop;
using namespace hakop::test;

namespace {

// A display that only learns what present hands it: the pixels of 'changed'
// are copied to 'screen'; anything drawn but left out of a present stays
// wrong on it.
class ShownCanvas : public MemoryCanvas {
public:
    explicit ShownCanvas(const QImage& backdrop)
        : MemoryCanvas(backdrop)
        , screen(backdrop.size(), QImage::Format_RGB32)
    {
        screen.fill(Qt::magenta);
    }

    void present(const QRegion& changed) override
    {
        ++presents;
        QPainter painter(&screen);
        painter.setClipRegion(changed);
        painter.drawImage(0, 0, read());
    }

    QImage screen;
    int presents = 0;
};

// A display that fails once in the middle of a tick, once armed: at its
// fourth figure.
class FailingCanvas : public ShownCanvas {
public:
    using ShownCanvas::ShownCanvas;
    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override
    {
        if (armed && ++drawn == 4)
            throw std::runtime_error("the display broke");
        ShownCanvas::drawFrame(frame, at, keyed, clip, box);
    }
    bool armed = false;
    int drawn = 0;
};

} // namespace

TEST(SceneDriver, EveryTickIsOnePresentAndTheScreenFollowsThePixels)
{
    const QImage backdrop = patternBackdrop(QSize(480, 360));
    auto owned = std::make_unique<ShownCanvas>(backdrop);
    ShownCanvas& display = *owned;
    SceneDriver driver(embeddedFrames());
    EXPECT_EQ(driver.scene(), nullptr);
    driver.start(std::move(owned), 45296789);
    EXPECT_EQ(display.presents, 1);
    EXPECT_EQ(display.screen, display.read()) << "the snapshot and the first pass are shown at once";

    SaverScene reference(backdrop, embeddedFrames());
    reference.show(45296789);
    reference.paintPending();
    for (int t = 1; t <= 120; ++t) {
        driver.tick();
        reference.tick();
        reference.paintPending();
        ASSERT_EQ(display.presents, 1 + t);
        ASSERT_EQ(display.screen, display.read()) << "tick " << t << " drew outside what it presented";
    }
    EXPECT_EQ(display.read(), reference.surface().pixels()) << "the driver runs the scene's own tick";
}

TEST(SceneDriver, ExposedAreasAndTheRefusedCloseAreShownAgain)
{
    const QImage backdrop = patternBackdrop(QSize(320, 240));
    auto owned = std::make_unique<ShownCanvas>(backdrop);
    ShownCanvas& display = *owned;
    SceneDriver driver(embeddedFrames());
    driver.start(std::move(owned), 7);
    for (int t = 0; t < 40; ++t)
        driver.tick();

    display.screen.fill(Qt::magenta); // the display lost everything
    driver.exposed(QRegion(0, 0, 320, 240));
    EXPECT_EQ(display.screen, display.read());

    driver.redrawBackdrop();
    EXPECT_EQ(display.screen, backdrop);
}

TEST(SceneDriver, AfterCloseNothingPaintsOrPresents)
{
    auto owned = std::make_unique<ShownCanvas>(patternBackdrop(QSize(320, 240)));
    ShownCanvas& display = *owned;
    SceneDriver driver(embeddedFrames());
    driver.start(std::move(owned), 3);
    for (int t = 0; t < 30; ++t)
        driver.tick();
    const QImage shown = display.screen.copy();
    const int presents = display.presents;

    driver.close();
    EXPECT_FALSE(driver.running());
    EXPECT_EQ(driver.scene(), nullptr);
    EXPECT_FALSE(driver.spriteAt(QPoint(100, 100)));
    driver.tick();
    driver.exposed(QRegion(0, 0, 320, 240));
    driver.redrawBackdrop();
    EXPECT_EQ(display.presents, presents);
    EXPECT_EQ(display.screen, shown);
}

TEST(SceneDriver, ATickThatFailsStillShowsWhatItDrew)
{
    auto owned = std::make_unique<FailingCanvas>(patternBackdrop(QSize(320, 240)));
    FailingCanvas& display = *owned;
    SceneDriver driver(embeddedFrames());
    driver.start(std::move(owned), 11);
    const int presents = display.presents;
    display.armed = true;
    EXPECT_THROW(driver.tick(), std::runtime_error);
    EXPECT_GE(display.drawn, 4);
    EXPECT_EQ(display.presents, presents + 1);
    EXPECT_EQ(display.screen, display.read()) << "drawn but never shown";
}

TEST(SceneDriver, TicksKeepTheirPaceAndAStallIsNotMadeUpInABurst)
{
    using namespace std::chrono_literals;
    const SceneDriver::Clock::time_point due{1000s};
    EXPECT_EQ(SceneDriver::TickLength, 100ms);
    EXPECT_EQ(SceneDriver::nextTickDue(due, due + 30ms), due + 100ms) << "a tick run late keeps the beat";
    EXPECT_EQ(SceneDriver::nextTickDue(due, due + 100ms), due + 200ms);
    EXPECT_EQ(SceneDriver::nextTickDue(due, due + 5s), due + 5s + 100ms) << "a stall is not ticked through";
}
