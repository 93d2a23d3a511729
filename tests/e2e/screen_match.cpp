// Tells whether a screenshot of the running saver is a state the headless
// engine reaches from the same desktop picture and seed. Used by the
// fixed-clock end-to-end test, which cannot know exactly how many ticks the
// real program has run when the screen is read, so it searches:
//   screen_match BACKDROP.png SEED SHOT.png [--max-ticks N]
//       the shot equals the surface after some tick 1..N
//   screen_match BACKDROP.png SEED SHOT.png --after-reset [--max-ticks N] [--max-ticks-after-reset J]
//       the shot equals the surface after the snapshot was redrawn at some tick
//       k (a refused close request) followed by 0..J further ticks; the match
//       line says how many
// Prints the match (or the closest candidate) and exits 0 on a match, 1 if none.
#include "engine/ImageList.h"
#include "engine/SaverScene.h"

#include <QGuiApplication>
#include <QImage>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Counts differing pixels, giving up once the count reaches `enough` (a
// candidate no better than the best so far needs no exact figure).
long long differingPixels(const QImage& a, const QImage& b, long long enough)
{
    if (a.size() != b.size())
        return std::numeric_limits<long long>::max();
    long long n = 0;
    for (int y = 0; y < a.height() && n < enough; ++y) {
        auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            n += (ra[x] & 0xffffff) != (rb[x] & 0xffffff);
    }
    return n;
}

struct Best {
    long long diff = std::numeric_limits<long long>::max();
    int tick = -1;
    int reset = -1;
    int afterReset = -1;
};

// The state the window shows between ticks: after each tick the event loop's
// pass has painted whatever the tick left pending.
void advance(hakop::SaverScene& scene)
{
    scene.tick();
    scene.paintPending();
}

// A tick count from the command line; -1 for anything but a plain number, so
// a typo cannot silently become 0 ticks searched.
int tickCount(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || n < 0 || n > 1'000'000)
        return -1;
    return static_cast<int>(n);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        (void)std::fprintf(stderr, "usage: screen_match BACKDROP.png SEED SHOT.png [--after-reset] [--max-ticks N] [--max-ticks-after-reset J]\n");
        return 2;
    }
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    const QImage backdrop = QImage(argv[1]).convertToFormat(QImage::Format_RGB32);
    const auto seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const QImage shot = QImage(argv[3]).convertToFormat(QImage::Format_RGB32);
    if (backdrop.isNull() || shot.isNull()) {
        (void)std::fprintf(stderr, "screen_match: cannot read %s or %s\n", argv[1], argv[3]);
        return 2;
    }
    bool afterReset = false;
    int maxTicks = 100;
    int maxTicksAfterReset = 6;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--after-reset"))
            afterReset = true;
        else if (!std::strcmp(argv[i], "--max-ticks") && i + 1 < argc)
            maxTicks = tickCount(argv[++i]);
        else if (!std::strcmp(argv[i], "--max-ticks-after-reset") && i + 1 < argc)
            maxTicksAfterReset = tickCount(argv[++i]);
    }
    if (maxTicks < 0 || maxTicksAfterReset < 0) {
        (void)std::fprintf(stderr, "screen_match: a tick count must be a whole number from 0\n");
        return 2;
    }

    const hakop::TIForm frames;
    Best best;
    if (!afterReset) {
        hakop::SaverScene scene(backdrop, frames);
        scene.show(seed);
        scene.paintPending();
        for (int t = 1; t <= maxTicks; ++t) {
            advance(scene);
            const long long d = differingPixels(scene.surface().pixels(), shot, best.diff);
            if (d < best.diff)
                best = {d, t, -1, -1};
            if (d == 0)
                break;
        }
    } else {
        for (int k = 1; k <= maxTicks && best.diff != 0; ++k) {
            hakop::SaverScene scene(backdrop, frames);
            scene.show(seed);
            scene.paintPending();
            for (int t = 1; t <= k; ++t)
                advance(scene);
            scene.redrawBackdrop();
            scene.paintPending();
            for (int j = 0; j <= maxTicksAfterReset; ++j) {
                if (j > 0)
                    advance(scene);
                const long long d = differingPixels(scene.surface().pixels(), shot, best.diff);
                if (d < best.diff)
                    best = {d, k + j, k, j};
                if (d == 0)
                    break;
            }
        }
    }
    if (best.diff == 0) {
        if (afterReset)
            std::printf("match: reset after tick %d, then %d tick(s)\n", best.reset, best.afterReset);
        else
            std::printf("match: tick %d\n", best.tick);
        return 0;
    }
    std::printf("no match: closest is tick %d (reset %d) with %lld differing pixels\n", best.tick, best.reset, best.diff);
    return 1;
}
