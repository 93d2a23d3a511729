// The committed pictures are exactly what the generator draws: run it into a
// scratch folder and compare every picture pixel for pixel.
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QStringList pngsUnder(const QString& root)
{
    QStringList out;
    QDirIterator it(root, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

TEST(Artgen, RedrawsEveryCommittedPictureExactly)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const std::string cmd = std::string("'") + HAKOP_ARTGEN + "' '" + scratch.path().toStdString() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    const QString committed = QStringLiteral(HAKOP_ASSETS_DIR);
    const QStringList drawn = pngsUnder(scratch.path());
    ASSERT_TRUE(drawn.contains(QStringLiteral("frames/Image1.png")));
    ASSERT_TRUE(drawn.contains(QStringLiteral("frames/Image48.png")));

    for (const QString& rel : drawn) {
        SCOPED_TRACE(rel.toStdString());
        const QImage mine(scratch.filePath(rel));
        const QImage theirs(committed + QLatin1Char('/') + rel);
        ASSERT_FALSE(theirs.isNull()) << "not committed under assets/";
        ASSERT_EQ(mine.size(), theirs.size());
        EXPECT_EQ(mine.format(), theirs.format());
        EXPECT_EQ(mine.colorTable(), theirs.colorTable());
        int differing = 0;
        for (int y = 0; y < mine.height(); ++y)
            for (int x = 0; x < mine.width(); ++x)
                differing += mine.pixel(x, y) != theirs.pixel(x, y);
        EXPECT_EQ(differing, 0) << "pixels differ: rerun hakop-artgen into assets/";
    }

    // No stale frame left behind that the generator no longer draws.
    for (const QString& rel : pngsUnder(committed + QStringLiteral("/frames")))
        EXPECT_TRUE(drawn.contains(QStringLiteral("frames/") + rel)) << "stray assets/frames/" << rel.toStdString();
}

} // namespace

