// The frame table built from the embedded artwork.
#include "engine/ImageList.h"
#include "TestPictures.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace hakop;
using namespace hakop::test;

namespace {

bool samePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(FrameTable, PicturesLoadAsRgb32FramesWithTheYellowKey)
{
    for (int n = 1; n <= TIForm::ImageCount; ++n) {
        const QImage& img = embeddedFrames().Image(n);
        ASSERT_EQ(img.size(), QSize(85, 75)) << "Image" << n;
        EXPECT_EQ(img.format(), QImage::Format_RGB32) << "Image" << n;
        EXPECT_EQ(img.pixel(0, 74), Yellow) << "Image" << n;
    }
}

TEST(FrameTable, SlotsAliasAndOffset)
{
    const TIForm& f = embeddedFrames();
    EXPECT_EQ(f.FrameOffset(), 25);
    // The very same picture, not an equal copy.
    EXPECT_EQ(&f.Frames(20), &f.Frames(13));
    EXPECT_EQ(f.Frames(20).image().constBits(), f.Frames(13).image().constBits());
    EXPECT_EQ(f.Frames(45).id(), f.Frames(38).id());
    EXPECT_EQ(&f.Frames(45).image(), &f.Image(32));
    EXPECT_EQ(&f.Frames(1).image(), &f.Image(1));
    EXPECT_EQ(&f.Frames(21).image(), &f.Image(39));
    EXPECT_EQ(&f.Frames(25).image(), &f.Image(43));
    EXPECT_EQ(&f.Frames(26).image(), &f.Image(20));
    EXPECT_EQ(&f.Frames(50).image(), &f.Image(48));
    for (int bad : {0, 51, -1})
        EXPECT_THROW(f.Frames(bad), std::out_of_range) << bad;
    EXPECT_THROW(f.Image(0), std::out_of_range);
    EXPECT_THROW(f.Image(49), std::out_of_range);
}

TEST(FrameTable, EverySilhouetteIsFoundAtFrameOffset)
{
    const TIForm& f = embeddedFrames();
    for (int s = 1; s <= 25; ++s)
        EXPECT_TRUE(samePixels(f.Frames(s + f.FrameOffset()).image(), silhouetteOf(f.Frames(s).image()))) << "slot " << s;
}

TEST(FrameTable, WalkingLeftMirrorsWalkingRight)
{
    const TIForm& f = embeddedFrames();
    for (int s = 14; s <= 17; ++s)
        EXPECT_TRUE(samePixels(f.Frames(s + 7).image(), mirrorOf(f.Frames(s).image()))) << "slot " << s + 7;
    EXPECT_TRUE(samePixels(f.Frames(19).image(), mirrorOf(f.Frames(18).image())));
}

TEST(FrameTable, BadPicturesAreRefusedWithAClearMessage)
{
    auto images = syntheticFrames();
    EXPECT_NO_THROW(TIForm{images});
    images[6] = QImage();
    try {
        TIForm f(images);
        FAIL() << "a missing picture was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Image7"), std::string::npos) << e.what();
    }
    images = syntheticFrames();
    images[47] = images[47].copy(0, 0, 84, 75);
    try {
        TIForm f(images);
        FAIL() << "a picture of the wrong size was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("84 x 75"), std::string::npos) << e.what();
    }
}

TEST(FrameTable, PicturesInOtherFormatsAreConvertedOnce)
{
    auto images = syntheticFrames();
    images[0] = images[0].convertToFormat(QImage::Format_Indexed8);
    const TIForm f(images);
    EXPECT_EQ(f.Image(1).format(), QImage::Format_RGB32);
    EXPECT_TRUE(samePixels(f.Image(1), syntheticFrames()[0]));
}
