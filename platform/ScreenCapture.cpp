#include "ScreenCapture.h"

#include "Failure.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <cstdint>
#include <cstring>

namespace hakop::platform {

namespace {

// One colour channel of a TrueColor pixel, scaled to 8 bits whatever its width.
std::uint32_t channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    std::uint32_t v = static_cast<std::uint32_t>((pixel & mask) >> shift);
    if (bits >= 8)
        return v >> (bits - 8);
    // A narrow channel (5 or 6 bits on 16-bit displays) is stretched to 0 .. 255.
    return v * 255u / ((1u << bits) - 1u);
}

bool isPlainXrgb(const XImage* image)
{
    return image->bits_per_pixel == 32 && image->red_mask == 0xff0000ul && image->green_mask == 0xff00ul
        && image->blue_mask == 0xfful
        && image->byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
}

void copyInto(QImage& target, const XImage* image, QPoint at)
{
    const int w = image->width;
    const int h = image->height;
    if (isPlainXrgb(image)) {
        // The common case: the server's pixels already are 0x??RRGGBB words.
        for (int y = 0; y < h; ++y) {
            const auto* src = reinterpret_cast<const std::uint32_t*>(image->data + y * image->bytes_per_line);
            auto* dst = reinterpret_cast<std::uint32_t*>(target.scanLine(at.y() + y)) + at.x();
            for (int x = 0; x < w; ++x)
                dst[x] = 0xff000000u | src[x];
        }
        return;
    }
    // Anything else (16-bit displays, other byte orders): pixel by pixel.
    auto* img = const_cast<XImage*>(image);
    for (int y = 0; y < h; ++y) {
        auto* dst = reinterpret_cast<std::uint32_t*>(target.scanLine(at.y() + y)) + at.x();
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(img, x, y);
            dst[x] = 0xff000000u | (channel(p, image->red_mask) << 16) | (channel(p, image->green_mask) << 8)
                | channel(p, image->blue_mask);
        }
    }
}

} // namespace

QRect rootRect(void* display)
{
    auto* dpy = static_cast<Display*>(display);
    if (dpy == nullptr)
        return {};
    Screen* screen = DefaultScreenOfDisplay(dpy);
    return QRect(0, 0, WidthOfScreen(screen), HeightOfScreen(screen));
}

QImage captureScreen(void* display, const QRect& area)
{
    QImage result(area.size().expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (result.isNull())
        return result;
    result.fill(0xff000000u);
    auto* dpy = static_cast<Display*>(display);
    const QRect from = area & rootRect(display);
    if (dpy == nullptr || from.isEmpty())
        return result;

    // Nothing is drawn while we read: the server copies the pixels in one request.
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), from.x(), from.y(), static_cast<unsigned>(from.width()),
                              static_cast<unsigned>(from.height()), AllPlanes, ZPixmap);
    if (image == nullptr) {
        logSurvived("could not read the screen; the saver starts from a black picture");
        return result;
    }
    copyInto(result, image, from.topLeft() - area.topLeft());
    XDestroyImage(image);
    return result;
}

} // namespace hakop::platform
