// hakop-sim: the saver engine without a window, for comparing the real
// program's screen with what it should show.
//   hakop-sim BACKDROP.png SEED TICKS OUT.png [--every N OUTPREFIX]
//       show(SEED), the first pass, then TICKS ticks each followed by the
//       event loop's pass; writes the surface to OUT.png, and with --every
//       also after every N-th tick to OUTPREFIX000123.png (the tick number).
//   hakop-sim --seed-at HH:MM:SS[.mmm]
//       prints the seed a saver shown at that UTC time of day starts from.
#include "engine/Random.h"
#include "Render.h"

#include <QImage>
#include <QRegularExpression>
#include <QString>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: hakop-sim BACKDROP.png SEED TICKS OUT.png [--every N OUTPREFIX]\n"
                 "       hakop-sim --seed-at HH:MM:SS[.mmm]\n");
    return 2;
}

std::optional<std::uint32_t> seedAt(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{2}):(\\d{2})(?:\\.(\\d{1,3}))?$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt(), s = m.captured(3).toInt();
    // ".5" is half a second: the fraction is padded to milliseconds.
    const int ms = m.captured(4).isEmpty() ? 0 : m.captured(4).leftJustified(3, QLatin1Char('0')).toInt();
    if (h > 23 || min > 59 || s > 59)
        return std::nullopt;
    return hakop::RandomSource::seedForTimeOfDay(h, min, s, ms);
}

bool save(const QImage& img, const QString& path)
{
    if (img.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "hakop-sim: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--seed-at") {
        const auto seed = seedAt(QString::fromLocal8Bit(argv[2]));
        if (!seed) {
            std::fprintf(stderr, "hakop-sim: not a time of day: %s\n", argv[2]);
            return 2;
        }
        std::printf("%u\n", *seed);
        return 0;
    }
    if (argc != 5 && argc != 8)
        return usage();
    const auto seed = hakop::sim::number(argv[2], 0xffffffffu);
    const auto ticks = hakop::sim::number(argv[3], 0x7fffffff);
    std::optional<qulonglong> every;
    QString prefix;
    if (argc == 8) {
        if (QByteArray(argv[5]) != "--every")
            return usage();
        every = hakop::sim::number(argv[6], 0x7fffffff);
        prefix = QString::fromLocal8Bit(argv[7]);
        if (!every || *every == 0) {
            std::fprintf(stderr, "hakop-sim: --every needs a positive number\n");
            return 2;
        }
    }
    if (!seed || !ticks) {
        std::fprintf(stderr, "hakop-sim: SEED and TICKS must be non-negative integers (SEED below 2^32)\n");
        return 2;
    }
    const auto picture = hakop::sim::readPicture(QString::fromLocal8Bit(argv[1]));
    if (picture.image.isNull()) {
        std::fprintf(stderr, "hakop-sim: cannot read %s: %s\n", argv[1], qPrintable(picture.error));
        return 2;
    }
    try {
        const bool saved = hakop::sim::run(picture.image, std::uint32_t(*seed), *ticks,
                                           [&](std::uint64_t t, const QImage& pixels) {
            if (every && t > 0 && t % *every == 0
                && !save(pixels, prefix + QStringLiteral("%1.png").arg(t, 6, 10, QLatin1Char('0'))))
                return false;
            return t < *ticks || save(pixels, QString::fromLocal8Bit(argv[4]));
        });
        return saved ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hakop-sim: %s\n", e.what());
        return 1;
    }
}
