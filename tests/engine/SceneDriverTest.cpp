// The scene driver as a host sees it: whatever it draws reaches the display
// through one present per tick, and the display then matches the pixels.
#include "ImageList.h"
#include "MemoryCanvas.h"
#include "SceneDriver.h"
#include "TestPictures.h"

#include <QPainter>

#include <gtest/gtest.h>

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

    int steps = 0;
    driver.tick([&](SaverScene& scene) {
        ++steps;
        scene.tick();
    });
    EXPECT_EQ(steps, 1) << "the host's step replaces the scene's own";

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
