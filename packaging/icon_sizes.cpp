// hakop-icon-sizes: scales the pixel-art icon to the hicolor theme's sizes
// with nearest-neighbour sampling, so every size keeps hard pixel edges and
// only the original's colours (a smoothing filter would invent blends).
//   hakop-icon-sizes SOURCE.png OUTDIR SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/apps/hakop.png for each SIZE.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: hakop-icon-sizes SOURCE.png OUTDIR SIZE...\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "hakop-icon-sizes: cannot read %s\n", argv[1]);
        return 2;
    }
    // Work in ARGB so scaling never goes through a palette lookup of its own.
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "hakop-icon-sizes: not a size: %s\n", argv[i]);
            return 2;
        }
        // Pixel (x, y) of the result takes source pixel (x * w / size, y * h / size):
        // explicit, so no library's sampling offset can shift or blend a column.
        QImage out(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                out.setPixel(x, y, argb.pixel(x * argb.width() / size, y * argb.height() / size));
        // Back to the source's palette when it has one: smaller files, same colours.
        if (source.format() == QImage::Format_Indexed8 && !source.colorTable().isEmpty())
            out = out.convertToFormat(QImage::Format_Indexed8, source.colorTable(), Qt::ThresholdDither | Qt::AvoidDither);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!QDir().mkpath(dir) || !out.save(dir + QStringLiteral("/hakop.png"), "PNG")) {
            std::fprintf(stderr, "hakop-icon-sizes: cannot write %s/hakop.png\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
