#pragma once
// Pictures and checks shared by the engine tests: synthetic frames that honour
// every relation of the frame table (silhouettes, mirrors, key colour), so
// painting and animation can be checked without depending on the artwork, and
// the store of the real artwork for the tests that want it.
#include "engine/ImageList.h"
#include "engine/SaverScene.h"

#include <QImage>
#include <QRect>
#include <array>
#include <gtest/gtest.h>
#include <vector>

namespace hakop::test {

inline constexpr QRgb Yellow = 0xffffff00u; // the key colour of every frame
inline constexpr QRgb Black = 0xff000000u;
inline constexpr QRgb White = 0xffffffffu;
inline constexpr QRgb Silver = 0xffc0c0c0u;

// A key-yellow picture with 'figure' filled in 'colour'.
inline QImage picture(QSize size, QRect figure, QRgb colour)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(Yellow);
    for (int y = figure.top(); y <= figure.bottom(); ++y)
        for (int x = figure.left(); x <= figure.right(); ++x)
            img.setPixel(x, y, colour);
    return img;
}

inline QImage silhouetteOf(const QImage& src)
{
    QImage img = src.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xffffff) != (Yellow & 0xffffff))
                img.setPixel(x, y, Black);
    return img;
}

inline QImage mirrorOf(const QImage& src)
{
    return src.mirrored(true, false);
}

// 48 frames: colour frames with a silver outline and white inside, each figure
// a different size and off-centre so mirrors differ from their originals.
inline std::array<QImage, TIForm::ImageCount> syntheticFrames()
{
    std::array<QImage, TIForm::ImageCount> f;
    const QSize size(TIForm::FrameWidth, TIForm::FrameHeight);
    auto colourFrame = [&](int k) {
        const QRect fig(10 + k % 7, 5 + k % 11, 30 + k, 40 + k % 13);
        QImage img = picture(size, fig, Silver);
        for (int y = fig.top() + 1; y < fig.bottom(); ++y)
            for (int x = fig.left() + 1; x < fig.right(); ++x)
                img.setPixel(x, y, (x + y) % 5 ? White : Black);
        return img;
    };
    for (int n = 1; n <= 18; ++n)
        f[n - 1] = colourFrame(n);
    f[19 - 1] = mirrorOf(f[18 - 1]);
    for (int n = 39; n <= 42; ++n)
        f[n - 1] = mirrorOf(f[n - 39 + 14 - 1]);
    f[43 - 1] = colourFrame(43 % 29);
    for (int n = 20; n <= 38; ++n)
        f[n - 1] = silhouetteOf(f[n - 20]);
    for (int n = 44; n <= 48; ++n)
        f[n - 1] = silhouetteOf(f[n - 6]);
    return f;
}

// A backdrop without a single pure black pixel, different almost everywhere.
inline QImage patternBackdrop(QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb(1 + x % 250, 1 + y % 250, 1 + (x ^ y) % 250);
    }
    return img;
}

// The frame store on the real embedded artwork, built once per test program.
inline const TIForm& embeddedFrames()
{
    static const TIForm frames;
    return frames;
}

// Every pixel that differs from the backdrop is a black stamp or lies inside a
// sprite's current rectangle.
inline ::testing::AssertionResult onlyStampsAndSprites(const SaverScene& scene, const QImage& backdrop)
{
    const QImage& px = scene.surface().pixels();
    std::vector<QRect> rects;
    for (const Sprite* s : scene.surface().paintList())
        rects.push_back(s->rect());
    for (int y = 0; y < px.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(px.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(backdrop.constScanLine(y));
        for (int x = 0; x < px.width(); ++x) {
            if (((a[x] ^ b[x]) & 0xffffff) == 0 || (a[x] & 0xffffff) == 0)
                continue;
            bool inside = false;
            for (const QRect& r : rects)
                inside |= r.contains(x, y);
            if (!inside)
                return ::testing::AssertionFailure() << "stray pixel at " << x << "," << y;
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace hakop::test
