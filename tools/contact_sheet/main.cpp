// hakop-contact-sheet OUTDIR
//
// Renders the pictures embedded in the program so a person can judge them:
//   OUTDIR/contact-sheet.png  every picture 4x on a grey ground, named
//   OUTDIR/states-strip.png   the colour frames of sprite states 1 .. 25 in a row
//   OUTDIR/states.gif         the same played at 10 frames a second (needs
//                             ImageMagick's `convert`; skipped without it)
// Sprite frames are shown as the saver shows them: the yellow key colour left
// out. Dialog pictures and the icon are shown as they are.
#include <QCollator>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const QColor Ground(160, 160, 160);
constexpr QRgb Key = qRgb(255, 255, 0);

struct Picture {
    QString name;
    QImage image;
    bool keyed; // a sprite frame: its yellow is not drawn
};

// The picture ready to draw: 32-bit, the key colour made transparent if keyed.
QImage display(const Picture& p, int scale)
{
    QImage img = p.image.convertToFormat(QImage::Format_ARGB32);
    if (p.keyed)
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                if ((line[x] & 0xffffff) == (Key & 0xffffff))
                    line[x] = qRgba(0, 0, 0, 0);
        }
    return img.scaled(img.width() * scale, img.height() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QStringList resourceNames(const QString& dir)
{
    QStringList names = QDir(dir).entryList({QStringLiteral("*.png")}, QDir::Files);
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(names.begin(), names.end(), natural);
    return names;
}

QList<Picture> collect(QStringList& missing)
{
    QList<Picture> out;
    for (int n = 1; n <= 48; ++n) {
        const QString path = QStringLiteral(":/frames/Image%1.png").arg(n);
        const QImage img(path);
        if (img.isNull())
            missing << path;
        else
            out.append({QStringLiteral("Image%1").arg(n), img, true});
    }
    for (const QString& dir : {QStringLiteral(":/dialogs"), QStringLiteral(":/icon")})
        for (const QString& name : resourceNames(dir)) {
            const QImage img(dir + QLatin1Char('/') + name);
            if (img.isNull())
                missing << dir + QLatin1Char('/') + name;
            else
                out.append({dir.mid(2) + QLatin1Char('/') + name, img, false});
        }
    return out;
}

// Lays the pictures out in rows no wider than `maxWidth`, each with its name.
QImage contactSheet(const QList<Picture>& pictures, int scale, int maxWidth)
{
    const int pad = 12, labelH = 22;
    struct Cell {
        QPoint at;
        QImage img;
        QString name;
        int width;
    };
    QList<Cell> cells;
    int x = pad, y = pad, rowH = 0, width = 0;
    for (const Picture& p : pictures) {
        const QImage img = display(p, scale);
        const int w = std::max(img.width(), 120);
        if (x > pad && x + w + pad > maxWidth) {
            x = pad;
            y += rowH + pad;
            rowH = 0;
        }
        cells.append({QPoint(x, y), img, p.name, w});
        x += w + pad;
        width = std::max(width, x);
        rowH = std::max(rowH, img.height() + labelH);
    }
    QImage sheet(width, y + rowH + pad, QImage::Format_RGB32);
    sheet.fill(Ground);
    QPainter painter(&sheet);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(15);
    painter.setFont(font);
    for (const Cell& c : cells) {
        // A thin frame shows the picture's full size around what is drawn.
        painter.setPen(QColor(128, 128, 128));
        painter.drawRect(QRect(c.at, c.img.size()).adjusted(-1, -1, 0, 0));
        painter.drawImage(c.at, c.img);
        painter.setPen(Qt::black);
        painter.drawText(QRect(c.at.x(), c.at.y() + c.img.height(), c.width, labelH),
                         Qt::AlignLeft | Qt::AlignVCenter, c.name);
    }
    return sheet;
}

// The picture each sprite state shows (the first half of the frame table).
int stateImage(int state)
{
    if (state <= 19)
        return state;
    if (state == 20)
        return 13;
    return state + 18; // 21 .. 25 -> Image39 .. Image43
}

QImage stateFrame(const Picture& p, int state, int scale)
{
    const QImage img = display(p, scale);
    QImage out(img.width(), img.height() + 22, QImage::Format_RGB32);
    out.fill(Ground);
    QPainter painter(&out);
    painter.drawImage(0, 0, img);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(15);
    painter.setFont(font);
    painter.drawText(QRect(0, img.height(), img.width(), 22), Qt::AlignCenter,
                     QStringLiteral("%1: %2").arg(state).arg(p.name));
    return out;
}

bool save(const QImage& img, const QString& path)
{
    if (img.save(path))
        return true;
    std::fprintf(stderr, "hakop-contact-sheet: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing text needs a platform; this tool never shows a window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: hakop-contact-sheet OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "hakop-contact-sheet: cannot create %s\n", argv[1]);
        return 1;
    }

    QStringList missing;
    const QList<Picture> pictures = collect(missing);
    for (const QString& m : missing)
        std::fprintf(stderr, "hakop-contact-sheet: missing picture %s\n", qPrintable(m));
    if (!missing.isEmpty())
        return 1;

    if (!save(contactSheet(pictures, 4, 6 * (85 * 4 + 12) + 12), out.filePath(QStringLiteral("contact-sheet.png"))))
        return 1;

    // States 1 .. 25 at 2x in a row, and at 4x as an animation.
    QList<QImage> strip;
    for (int s = 1; s <= 25; ++s)
        strip.append(stateFrame(pictures[stateImage(s) - 1], s, 2));
    QImage row(strip[0].width() * 25, strip[0].height(), QImage::Format_RGB32);
    row.fill(Ground);
    {
        QPainter painter(&row);
        for (int s = 0; s < 25; ++s)
            painter.drawImage(s * strip[0].width(), 0, strip[s]);
    }
    if (!save(row, out.filePath(QStringLiteral("states-strip.png"))))
        return 1;

    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        std::printf("ImageMagick's convert not found: states.gif skipped\n");
        return 0;
    }
    QTemporaryDir tmp;
    QStringList args{QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("-loop"), QStringLiteral("0")};
    for (int s = 1; s <= 25; ++s) {
        const QString path = tmp.filePath(QStringLiteral("state%1.png").arg(s, 2, 10, QLatin1Char('0')));
        if (!save(stateFrame(pictures[stateImage(s) - 1], s, 4), path))
            return 1;
        args << path;
    }
    args << out.filePath(QStringLiteral("states.gif"));
    if (QProcess::execute(convert, args) != 0) {
        std::fprintf(stderr, "hakop-contact-sheet: convert failed to write states.gif\n");
        return 1;
    }
    return 0;
}
