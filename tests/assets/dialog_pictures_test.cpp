// The dialog pictures and the program icon as the program embeds them: their
// sizes, their palette, their yellow ground and the colours each may use.
#include <QImage>
#include <QList>
#include <QRgb>
#include <QString>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kOlive = qRgb(128, 128, 0);
const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kAqua = qRgb(0, 255, 255);
const QRgb kWhite = qRgb(255, 255, 255);

// Written out here rather than taken from the generator, so a slip in either shows.
const QList<QRgb> kStandardPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

using Colours = std::set<QRgb>;

struct Picture {
    const char* resource;
    int width;
    int height;
    Colours colours;  // the colours it must use
    bool onlyThose;   // and no others
};

const std::vector<Picture>& pictures()
{
    static const std::vector<Picture> all = {
        {":/dialogs/PictureA.png", 30, 40, {kYellow, kWhite, kBlack, kRed}, true},
        {":/dialogs/PictureB.png", 30, 40, {kYellow, kWhite, kBlack, kAqua}, true},
        {":/dialogs/Banner.png", 306, 65, {kYellow, kWhite, kBlack, kRed, kGrey, kOlive}, true},
        {":/icon/hakop.png", 32, 32, {kYellow, kRed, kBlack, kWhite}, false},
    };
    return all;
}

QImage load(const Picture& p)
{
    return QImage(QString::fromLatin1(p.resource));
}

Colours coloursOf(const QImage& image)
{
    Colours used;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            used.insert(image.pixel(x, y) | 0xff000000u);
    return used;
}

std::string names(const Colours& colours)
{
    std::string out;
    for (QRgb c : colours)
        out += "(" + std::to_string(qRed(c)) + "," + std::to_string(qGreen(c)) + "," +
               std::to_string(qBlue(c)) + ") ";
    return out;
}

TEST(DialogPictures, AreEmbeddedAtTheirSizes)
{
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.resource);
        const QImage image = load(p);
        ASSERT_FALSE(image.isNull()) << "not embedded";
        EXPECT_EQ(image.width(), p.width);
        EXPECT_EQ(image.height(), p.height);
    }
}

TEST(DialogPictures, AreIndexedWithTheStandardSixteenColourPalette)
{
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.resource);
        const QImage image = load(p);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.format(), QImage::Format_Indexed8) << "not a palette picture";
        QList<QRgb> table = image.colorTable();
        for (QRgb& c : table)
            c |= 0xff000000u;
        EXPECT_EQ(table, kStandardPalette);
    }
}

TEST(DialogPictures, StandOnAYellowGround)
{
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.resource);
        const QImage image = load(p);
        ASSERT_FALSE(image.isNull());
        const int r = image.width() - 1, b = image.height() - 1;
        EXPECT_EQ(image.pixel(0, 0) | 0xff000000u, kYellow);
        EXPECT_EQ(image.pixel(r, 0) | 0xff000000u, kYellow);
        EXPECT_EQ(image.pixel(0, b) | 0xff000000u, kYellow);
        EXPECT_EQ(image.pixel(r, b) | 0xff000000u, kYellow);
    }
}

// The banner sits edge to edge in the About box on the box's own yellow: anything
// but yellow on its border would show where the picture ends, or be cut off.
TEST(DialogPictures, BannerBorderIsAllYellow)
{
    const QImage banner(QStringLiteral(":/dialogs/Banner.png"));
    ASSERT_FALSE(banner.isNull());
    int stray = 0;
    for (int x = 0; x < banner.width(); ++x)
        stray += ((banner.pixel(x, 0) | 0xff000000u) != kYellow) +
                 ((banner.pixel(x, banner.height() - 1) | 0xff000000u) != kYellow);
    for (int y = 0; y < banner.height(); ++y)
        stray += ((banner.pixel(0, y) | 0xff000000u) != kYellow) +
                 ((banner.pixel(banner.width() - 1, y) | 0xff000000u) != kYellow);
    EXPECT_EQ(stray, 0);
}

TEST(DialogPictures, UseExactlyTheirColours)
{
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.resource);
        const QImage image = load(p);
        ASSERT_FALSE(image.isNull());
        const Colours used = coloursOf(image);
        Colours missing, extra;
        for (QRgb c : p.colours)
            if (!used.count(c))
                missing.insert(c);
        for (QRgb c : used)
            if (!p.colours.count(c))
                extra.insert(c);
        EXPECT_TRUE(missing.empty()) << "missing " << names(missing);
        if (p.onlyThose) {
            EXPECT_TRUE(extra.empty()) << "also uses " << names(extra);
        }
    }
}

} // namespace
