// hakop-record: renders the saver headless over a picture into an animated
// GIF at 10 frames per second, one frame per 100 ms tick, to show what the
// saver looks like.
//   hakop-record PICTURE SECONDS OUT.gif [--seed N]
// Frame 0 is the saver's first showing, frame k the screen after tick k.
// Without --seed the seed comes from the time of day, as in the saver.
// The frames go to ImageMagick's convert, which writes the GIF.
#include "engine/Random.h"
#include "Render.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

constexpr int framesPerSecond = 10;

int usage()
{
    std::fprintf(stderr, "usage: hakop-record PICTURE SECONDS OUT.gif [--seed N]\n");
    return 2;
}

std::uint32_t seedFromClock()
{
    const QTime now = QDateTime::currentDateTimeUtc().time();
    return hakop::RandomSource::seedForTimeOfDay(now.hour(), now.minute(), now.second(), now.msec());
}

// One progress line, rewritten in place on a terminal; elsewhere (logs) a
// line per second of animation would be noise, so only every 10 seconds.
void progress(qulonglong done, qulonglong total)
{
    static const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (terminal)
        std::fprintf(stderr, "\rhakop-record: frame %llu/%llu", done, total);
    else if (done % (framesPerSecond * 10ULL) == 0 || done == total)
        std::fprintf(stderr, "hakop-record: frame %llu/%llu\n", done, total);
    if (terminal && done == total)
        std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 6)
        return usage();
    std::optional<qulonglong> seed;
    if (argc == 6) {
        if (QByteArray(argv[4]) != "--seed")
            return usage();
        seed = hakop::sim::number(argv[5], 0xffffffffu);
        if (!seed) {
            std::fprintf(stderr, "hakop-record: --seed needs an integer from 0 to 4294967295\n");
            return 2;
        }
    }
    const auto seconds = hakop::sim::number(argv[2], 3600);
    if (!seconds || *seconds == 0) {
        std::fprintf(stderr, "hakop-record: SECONDS must be a whole number from 1 to 3600\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[3]);
    if (!out.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        std::fprintf(stderr, "hakop-record: the output must be a .gif file\n");
        return 2;
    }
    const auto picture = hakop::sim::readPicture(QString::fromLocal8Bit(argv[1]));
    if (picture.image.isNull()) {
        std::fprintf(stderr, "hakop-record: cannot read picture %s: %s\n", argv[1], qPrintable(picture.error));
        return 2;
    }

    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "hakop-record: cannot make a temporary folder: %s\n", qPrintable(work.errorString()));
        return 1;
    }
    const qulonglong frames = *seconds * framesPerSecond;
    QStringList arguments{QStringLiteral("-delay"), QStringLiteral("%1").arg(100 / framesPerSecond),
                          QStringLiteral("-loop"), QStringLiteral("0")};
    try {
        const bool rendered = hakop::sim::run(
            picture.image, seed ? std::uint32_t(*seed) : seedFromClock(), frames - 1,
            [&](std::uint64_t tick, const QImage& pixels) {
                const QString path = work.filePath(QStringLiteral("%1.png").arg(tick, 6, 10, QLatin1Char('0')));
                // Quick compression: these files live only until convert has read them.
                if (!pixels.save(path, "PNG", 90)) {
                    std::fprintf(stderr, "hakop-record: cannot write %s\n", qPrintable(path));
                    return false;
                }
                arguments << path;
                progress(tick + 1, frames);
                return true;
            });
        if (!rendered)
            return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hakop-record: %s\n", e.what());
        return 1;
    }

    // Without dithering the frames keep flat colours and differ only where
    // the figures changed, which the layer optimisation turns into small frames.
    arguments << QStringLiteral("+dither") << QStringLiteral("-layers") << QStringLiteral("Optimize") << out;
    QProcess convert;
    convert.setProcessChannelMode(QProcess::ForwardedChannels);
    convert.start(QStringLiteral("convert"), arguments);
    if (!convert.waitForStarted(-1)) {
        std::fprintf(stderr, "hakop-record: cannot run ImageMagick's convert: %s\n",
                     qPrintable(convert.errorString()));
        return 1;
    }
    convert.waitForFinished(-1);
    if (convert.exitStatus() != QProcess::NormalExit || convert.exitCode() != 0) {
        std::fprintf(stderr, "hakop-record: convert could not write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
