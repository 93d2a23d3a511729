// The pure parts of taking the desktop's picture from the desktop portal:
// which URIs name a file we may take, taking it safely, and cutting the
// whole desktop's picture into outputs.
#include "wayland/DesktopLayout.h"
#include "wayland/ScreenshotFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace wl = hakop::platform::wayland;
namespace fs = std::filesystem;

namespace {

TEST(ScreenshotFile, OnlyLocalFileUrisNameAPath)
{
    EXPECT_EQ(wl::localFilePath("file:///home/u/Screenshot%20from%20now.png"), "/home/u/Screenshot from now.png");
    EXPECT_EQ(wl::localFilePath("file://localhost/tmp/s.png"), "/tmp/s.png");
    for (const char* refused : {"", "/tmp/s.png", "file:s.png", "file://elsewhere/tmp/s.png", "http://x/s.png",
                                "document:///tmp/s.png", "file:///tmp/a%00b.png"})
        EXPECT_FALSE(wl::localFilePath(refused)) << refused;
}

class TakeFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hakop-screenshot-file-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const char* name) const { return (m_dir / name).string(); }
    fs::path m_dir;
};

TEST_F(TakeFile, ReadsAndDeletesEvenWhatIsNoPicture)
{
    QImage red(4, 3, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(path("s.png"))));
    const std::optional<QByteArray> bytes = wl::takeFile(path("s.png"));
    ASSERT_TRUE(bytes);
    const QImage taken = QImage::fromData(*bytes);
    EXPECT_EQ(taken.size(), QSize(4, 3));
    EXPECT_EQ(taken.pixel(1, 1), QColor(Qt::red).rgb());
    EXPECT_FALSE(fs::exists(path("s.png")));

    std::ofstream(path("junk.png")) << "not a picture";
    EXPECT_EQ(wl::takeFile(path("junk.png")), "not a picture");
    EXPECT_FALSE(fs::exists(path("junk.png")));
}

TEST_F(TakeFile, LeavesLinksAndSpecialFilesAlone)
{
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(QString::fromStdString(path("user.png"))));
    fs::create_symlink(path("user.png"), path("link.png"));
    EXPECT_FALSE(wl::takeFile(path("link.png")));
    EXPECT_TRUE(fs::is_symlink(path("link.png")));
    EXPECT_TRUE(fs::exists(path("user.png")));

    // A FIFO nobody writes to must not hold the start.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(wl::takeFile(path("fifo")));
    EXPECT_TRUE(fs::exists(path("fifo")));
    EXPECT_FALSE(wl::takeFile(path("missing")));
}

// A desktop of two outputs side by side, the right one a little lower and at
// scale 2, drawn in one colour per output.
QImage desktopAt(int scale, const std::vector<wl::OutputPlace>& places)
{
    const QColor colours[] = {Qt::red, Qt::green};
    QRect bounds;
    for (const auto& place : places)
        bounds |= place.logical;
    QImage desktop(bounds.size() * scale, QImage::Format_RGB32);
    desktop.fill(Qt::black);
    for (std::size_t i = 0; i < places.size(); ++i) {
        const QRect r = places[i].logical;
        for (int y = r.top() * scale; y < (r.bottom() + 1) * scale; ++y)
            for (int x = r.left() * scale; x < (r.right() + 1) * scale; ++x)
                desktop.setPixel(x, y, colours[i].rgb());
    }
    return desktop;
}

TEST(CutOutputs, EachOutputGetsItsPartAtItsDeviceSize)
{
    const std::vector<wl::OutputPlace> places = {{QRect(0, 0, 64, 48), QSize(64, 48)},
                                                 {QRect(64, 8, 32, 24), QSize(64, 48)}};
    // The picture in layout units, and in device pixels of the larger scale.
    for (int scale : {1, 2}) {
        const std::vector<QImage> parts = wl::cutOutputs(desktopAt(scale, places), places);
        ASSERT_EQ(parts.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            ASSERT_EQ(parts[i].size(), QSize(64, 48)) << scale;
            const QRgb expected = (i == 0 ? QColor(Qt::red) : QColor(Qt::green)).rgb();
            for (QPoint p : {QPoint(0, 0), QPoint(63, 47), QPoint(32, 24)})
                EXPECT_EQ(parts[i].pixel(p), expected) << "scale " << scale << " output " << i;
        }
    }
    // A picture of another shape is of another layout: nothing is cut from it.
    for (const QImage& part : wl::cutOutputs(QImage(96, 96, QImage::Format_RGB32), places))
        EXPECT_TRUE(part.isNull());
}

} // namespace
