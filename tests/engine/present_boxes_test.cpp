#include "engine/PresentBoxes.h"

#include <gtest/gtest.h>

#include <random>

namespace hakop {
namespace {

QRegion unite(const std::vector<QRect>& boxes)
{
    QRegion all;
    for (const QRect& b : boxes)
        all += b;
    return all;
}

TEST(PresentBoxes, AFigureMovedTakesOneCopyAndFiguresApartKeepTheirOwn)
{
    // Old and new places of one figure, 4 pixels apart: a region cuts them
    // into three bands, one copy takes them all.
    QRegion moved = QRegion(100, 100, 85, 75) + QRegion(104, 98, 85, 75);
    std::vector<QRect> boxes;
    presentBoxes(moved, boxes);
    EXPECT_EQ(boxes, std::vector<QRect>{moved.boundingRect()});

    // Two figures far apart: a box around both would copy the screen between.
    const QRegion apart = moved + QRegion(1500, 900, 85, 75);
    presentBoxes(apart, boxes); // the storage is reused, the old boxes gone
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(unite(boxes), QRegion(moved.boundingRect()) + QRegion(1500, 900, 85, 75));

    presentBoxes(QRegion(), boxes);
    EXPECT_TRUE(boxes.empty());
}

TEST(PresentBoxes, EveryBoxCoversTheRegionWithinAQuarterMorePixels)
{
    std::mt19937 random(7); // NOLINT(cert-msc51-cpp): a fixed seed keeps a failure reproducible
    std::uniform_int_distribution<int> place(0, 600), size(1, 120);
    for (int round = 0; round < 200; ++round) {
        QRegion changed;
        for (int i = 0; i < 12; ++i)
            changed += QRect(place(random), place(random), size(random), size(random));
        std::vector<QRect> boxes;
        presentBoxes(changed, boxes);
        EXPECT_TRUE((changed - unite(boxes)).isEmpty()) << "round " << round;
        for (const QRect& b : boxes) {
            long long inside = 0;
            for (const QRect& r : changed & b)
                inside += (long long)r.width() * r.height();
            EXPECT_LE((long long)b.width() * b.height() * 4, inside * 5) << "round " << round;
        }
    }
}

} // namespace
} // namespace hakop
