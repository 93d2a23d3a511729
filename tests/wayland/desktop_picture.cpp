// What the saver would freeze on this Wayland desktop, without showing
// anything: takes the desktop's picture as the saver does, saves each
// output's part as OUTDIR/output-N.png and says per output what it got.
//   desktop_picture OUTDIR [RRGGBB]
// With a colour, also counts the pixels near it on each output. Prints one
// line per output ("output N WxH: none" or "output N WxH: picture[, K
// pixels of RRGGBB]"), then how long the taking took; the saver's own lines
// go to stderr as they would.
#include "wayland/Connection.h"
#include "wayland/DesktopPicture.h"
#include "wayland/ShmBuffer.h"

#include <QColor>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace wl = hakop::platform::wayland;

namespace {

long long pixelsNear(const QImage& picture, QRgb colour)
{
    long long count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if (std::abs(qRed(row[x]) - qRed(colour)) <= 8 && std::abs(qGreen(row[x]) - qGreen(colour)) <= 8
                && std::abs(qBlue(row[x]) - qBlue(colour)) <= 8)
                ++count;
    }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: desktop_picture OUTDIR [RRGGBB]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const QRgb colour = argc == 3 ? QColor(QStringLiteral("#") + QString::fromLatin1(argv[2])).rgb() : 0;
    auto failure = wl::Connection::Failure::Unreachable;
    auto connection = wl::Connection::open(nullptr, &failure);
    if (!connection) {
        std::fprintf(stderr, "desktop_picture: cannot connect to the Wayland display (%s)\n",
                     failure == wl::Connection::Failure::Silent ? "no answer" : "refused or gone");
        return 1;
    }
    std::vector<wl::Output*> outputs;
    for (const auto& output : connection->outputs())
        if (output->done)
            outputs.push_back(output.get());
    const auto start = std::chrono::steady_clock::now();
    const std::vector<wl::Capture> captures = wl::captureDesktop(*connection, outputs);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (captures.size() != outputs.size()) {
        std::fprintf(stderr, "desktop_picture: the connection was lost\n");
        return 1;
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const QSize size = outputs[i]->uprightSize();
        const QImage picture = wl::captureImage(captures[i], size);
        std::printf("output %zu %dx%d: ", i, size.width(), size.height());
        if (picture.isNull()) {
            std::printf("none\n");
            continue;
        }
        const std::string file = folder + "/output-" + std::to_string(i) + ".png";
        if (!picture.save(QString::fromStdString(file))) {
            std::fprintf(stderr, "desktop_picture: cannot save %s\n", file.c_str());
            return 1;
        }
        std::printf("picture");
        if (argc == 3)
            std::printf(", %lld pixels of %s", pixelsNear(picture, colour), argv[2]);
        std::printf("\n");
    }
    std::printf("taken in %lld ms\n", static_cast<long long>(took.count()));
    return 0;
}
