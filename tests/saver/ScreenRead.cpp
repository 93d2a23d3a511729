#include "ScreenRead.h"

#include "x11/XPixelFormat.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstddef>
#include <cstdint>

namespace hakop::test {

QImage captureScreen(Display* display, const QRect& area)
{
    QImage result(area.size().expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (result.isNull())
        return result;
    result.fill(0xff000000u);
    if (display == nullptr)
        return result;
    Screen* screen = DefaultScreenOfDisplay(display);
    const QRect from = area & QRect(0, 0, WidthOfScreen(screen), HeightOfScreen(screen));
    if (from.isEmpty())
        return result;
    XImage* image = XGetImage(display, DefaultRootWindow(display), from.x(), from.y(),
                              static_cast<unsigned>(from.width()), static_cast<unsigned>(from.height()), AllPlanes,
                              ZPixmap);
    if (image == nullptr)
        return result;
    x11::XPixelFormat format;
    format.bitsPerPixel = image->bits_per_pixel;
    format.msbFirst = image->byte_order == MSBFirst;
    format.red = std::uint32_t(image->red_mask);
    format.green = std::uint32_t(image->green_mask);
    format.blue = std::uint32_t(image->blue_mask);
    const bool trueColour = format.red != 0 && format.green != 0 && format.blue != 0;
    const bool wholeBytes = format.bitsPerPixel == 16 || format.bitsPerPixel == 24 || format.bitsPerPixel == 32;
    const QPoint at = from.topLeft() - area.topLeft();
    for (int y = 0; y < image->height && trueColour; ++y) {
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(at.y() + y)) + at.x();
        if (wholeBytes) {
            format.unpack(reinterpret_cast<const std::uint8_t*>(image->data)
                              + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line,
                          image->width, out);
            continue;
        }
        for (int x = 0; x < image->width; ++x)
            out[x] = format.rgb(std::uint32_t(XGetPixel(image, x, y)));
    }
    XDestroyImage(image);
    return result;
}

} // namespace hakop::test
