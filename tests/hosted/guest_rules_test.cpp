// The guest's pure rules: reading window ids and options as hosts pass them,
// taking the signals caught, and fitting pictures to the window.
#include "engine/Backdrop.h"
#include "GuestOptions.h"
#include "SignalRequests.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <string>
#include <vector>

namespace {

using namespace hakop::hosted;

std::string usageMessage(const std::vector<std::string>& args, const char* hostWindow = nullptr)
{
    try {
        parseGuestOptions(args, hostWindow);
    } catch (const UsageError& error) {
        return error.what();
    }
    return {};
}

TEST(WindowId, ReadsHexAsXscreensaverPassesItAndDecimalAsXsecurelockDoes)
{
    EXPECT_EQ(parseWindowId("0x1e00007", "-window-id"), 0x1e00007u);
    EXPECT_EQ(parseWindowId("0X1E00007", "-window-id"), 0x1e00007u);
    EXPECT_EQ(parseWindowId("31457287", "-window-id"), 31457287u);
    EXPECT_EQ(parseWindowId("0x1fffffff", "-window-id"), 0x1fffffffu);
    EXPECT_EQ(parseWindowId("017", "-window-id"), 17u); // decimal, not octal
}

TEST(WindowId, RefusesJunkWithAMessageNamingWhereItCameFrom)
{
    for (const char* junk : {"", "0x", "abc", "12abc", "0x12g", "-5", "+5", " 5", "5 ", "1.5", "0xx1"}) {
        try {
            parseWindowId(junk, "XSCREENSAVER_WINDOW");
            ADD_FAILURE() << "accepted \"" << junk << "\"";
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find("XSCREENSAVER_WINDOW"), std::string::npos) << error.what();
        }
    }
}

TEST(WindowId, RefusesNoneAndIdsOutsideWhatXHandsOut)
{
    EXPECT_THROW(parseWindowId("0", "w"), UsageError);
    EXPECT_THROW(parseWindowId("0x0", "w"), UsageError);
    // The top three bits of an X id are always clear.
    EXPECT_THROW(parseWindowId("0x20000000", "w"), UsageError);
    // Past 32 and 64 bits: no wrap-around into a valid-looking id.
    EXPECT_THROW(parseWindowId("0x100000001", "w"), UsageError);
    EXPECT_THROW(parseWindowId("4294967297", "w"), UsageError);
    EXPECT_THROW(parseWindowId("0x10000000000000001", "w"), UsageError);
    EXPECT_THROW(parseWindowId("18446744073709551617", "w"), UsageError);
    EXPECT_NE(usageMessage({"-window-id", "99999999999999999999"}).find("too large"), std::string::npos);
}

TEST(GuestOptions, WindowOptionBeatsTheHostVariableWhichBeatsRoot)
{
    auto o = parseGuestOptions({"-window-id", "0x400001", "--root"}, "12");
    EXPECT_EQ(o.target, Target::Given);
    EXPECT_EQ(o.window, 0x400001u);

    o = parseGuestOptions({"--root"}, "12");
    EXPECT_EQ(o.target, Target::Given);
    EXPECT_EQ(o.window, 12u);

    o = parseGuestOptions({"-root"}, "");
    EXPECT_EQ(o.target, Target::Root);

    o = parseGuestOptions({}, nullptr);
    EXPECT_EQ(o.target, Target::OwnWindow);
    EXPECT_TRUE(o.backdropFile.empty());
}

TEST(GuestOptions, AcceptsOneOrTwoDashesAndAttachedValues)
{
    auto o = parseGuestOptions({"--window-id=77", "-backdrop", "/tmp/a b.png"}, nullptr);
    EXPECT_EQ(o.window, 77u);
    EXPECT_EQ(o.backdropFile, "/tmp/a b.png");
    o = parseGuestOptions({"--backdrop=x.jpg", "--help"}, nullptr);
    EXPECT_EQ(o.backdropFile, "x.jpg");
    EXPECT_TRUE(o.help);
    o = parseGuestOptions({"-version"}, nullptr);
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(o.help);
}

TEST(GuestOptions, RefusesWhatItDoesNotKnow)
{
    EXPECT_NE(usageMessage({"-window-id"}).find("needs a value"), std::string::npos);
    EXPECT_NE(usageMessage({"--backdrop="}).find("file name"), std::string::npos);
    EXPECT_NE(usageMessage({"/s"}).find("unexpected argument"), std::string::npos);
    EXPECT_NE(usageMessage({"--fps"}).find("unknown option"), std::string::npos);
    EXPECT_NE(usageMessage({"--root=1"}).find("unknown option"), std::string::npos);
    EXPECT_NE(usageMessage({"--version=2"}).find("unknown option"), std::string::npos);
    // The option wins, so the variable is never read; alone, junk in it is refused.
    EXPECT_TRUE(usageMessage({"-window-id", "5"}, "junk").empty());
    EXPECT_NE(usageMessage({}, "junk").find("XSCREENSAVER_WINDOW"), std::string::npos);
}

TEST(SignalRequests, ABurstOfRestartsIsOneAndAnEndAnywhereInItWins)
{
    int fds[2]; // blocking: taking what waits must not wait for more
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const auto caught = [&](const std::string& numbers) {
        ASSERT_EQ(::write(fds[1], numbers.data(), numbers.size()), ssize_t(numbers.size()));
    };
    caught(std::string(1000, char(SIGUSR1)));
    EXPECT_TRUE(takeSignalRequests(fds[0]).restart);
    EXPECT_FALSE(takeSignalRequests(fds[0]).restart) << "the whole burst is one restart";
    caught(std::string(300, char(SIGUSR1)) + char(SIGTERM) + std::string(300, char(SIGUSR1)));
    EXPECT_TRUE(takeSignalRequests(fds[0]).end);
    ::close(fds[0]);
    ::close(fds[1]);
}

QImage quadrants(QSize size)
{
    // Red, green / blue, white: where each quarter lands shows the crop.
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool right = x >= size.width() / 2;
            const bool bottom = y >= size.height() / 2;
            image.setPixel(x, y, bottom ? (right ? 0xffffffffu : 0xff0000ffu) : (right ? 0xff00ff00u : 0xffff0000u));
        }
    return image;
}

TEST(Backdrop, APictureOfTheWindowsSizeIsKeptPixelForPixel)
{
    QImage picture = quadrants(QSize(37, 23));
    picture.setPixel(5, 7, 0xff123456u);
    const QImage fitted = coverFit(picture, QSize(37, 23));
    EXPECT_EQ(fitted.format(), QImage::Format_RGB32);
    EXPECT_EQ(fitted, picture);
}

TEST(Backdrop, OtherSizesAreScaledToCoverAndCentred)
{
    // A wide picture on a square window: the sides are cut evenly, the
    // quarters still meet in the middle.
    const QImage wide = quadrants(QSize(400, 100));
    const QImage fitted = coverFit(wide, QSize(200, 200));
    ASSERT_EQ(fitted.size(), QSize(200, 200));
    EXPECT_DOUBLE_EQ(fitted.devicePixelRatio(), 1.0);
    EXPECT_EQ(fitted.pixel(10, 10), 0xffff0000u);
    EXPECT_EQ(fitted.pixel(190, 10), 0xff00ff00u);
    EXPECT_EQ(fitted.pixel(10, 190), 0xff0000ffu);
    EXPECT_EQ(fitted.pixel(190, 190), 0xffffffffu);

    // Smaller than the window, with a device pixel ratio of its own: scaled up
    // in device pixels, every pixel of the window covered.
    QImage small = quadrants(QSize(10, 30));
    small.setDevicePixelRatio(2.0);
    const QImage up = coverFit(small, QSize(301, 97));
    ASSERT_EQ(up.size(), QSize(301, 97));
    EXPECT_EQ(up.pixel(0, 0), 0xffff0000u);
    EXPECT_EQ(up.pixel(300, 96), 0xffffffffu);
}

TEST(Backdrop, MadeInBandsItIsTheWholePictureWithoutSeams)
{
    const QSize window(301, 97);
    const auto inBands = [&](const QImage& picture, int rows) {
        const BackdropBands bands(picture, window);
        QImage whole(window, QImage::Format_RGB32);
        QPainter painter(&whole);
        for (int top = 0; top < window.height(); top += rows)
            painter.drawImage(0, top, bands.rows(top, std::min(rows, window.height() - top)));
        return whole;
    };
    // Nothing to fit, a larger picture, none at all: the same as made at once.
    const QImage same = quadrants(window);
    EXPECT_EQ(inBands(same, 10), same);
    const QImage large = quadrants(QSize(900, 200));
    EXPECT_EQ(inBands(large, 10), coverFit(large, window));
    EXPECT_EQ(inBands(QImage(), 10), neutralBackdrop(window));
    // Enlarged: bands of any height make one picture, covering as coverFit does.
    const QImage small = quadrants(QSize(10, 30));
    const QImage once = inBands(small, window.height());
    EXPECT_EQ(inBands(small, 1), once);
    EXPECT_EQ(inBands(small, 7), once);
    const QImage fitted = coverFit(small, window);
    for (const QPoint p : {QPoint(0, 0), QPoint(300, 0), QPoint(0, 96), QPoint(300, 96), QPoint(140, 40)})
        EXPECT_EQ(once.pixel(p), fitted.pixel(p)) << p.x() << "," << p.y();
}

TEST(Backdrop, ThePlainPictureIsLightEverywhere)
{
    for (const QSize size : {QSize(1, 1), QSize(640, 480), QSize(3, 2000)}) {
        const QImage plain = neutralBackdrop(size);
        ASSERT_EQ(plain.size(), size);
        for (int y = 0; y < size.height(); y += std::max(1, size.height() / 50))
            for (int x = 0; x < size.width(); x += std::max(1, size.width() / 50))
                ASSERT_GT(qGray(plain.pixel(x, y)), 120) << x << "," << y;
    }
    EXPECT_TRUE(neutralBackdrop(QSize(0, 10)).isNull());
}

} // namespace
