#include "ScreenCapture.h"

#include "XcbReply.h"

#include "Failure.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
            const auto* src = reinterpret_cast<const std::uint32_t*>(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line);
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

namespace hakop::platform {

std::uint32_t copyRootToPixmap(void* connection, std::uint32_t window, const QRect& area)
{
    auto* c = static_cast<xcb_connection_t*>(connection);
    if (c == nullptr || xcb_connection_has_error(c) || window == 0 || area.isEmpty() || area.width() > 32767
        || area.height() > 32767)
        return 0;
    // The root of the window's own screen (the one the saver runs on, which
    // need not be the display's first).
    const XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (geometry == nullptr)
        return 0;
    const std::uint8_t depth = geometry->depth;
    const xcb_screen_t* screen = nullptr;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it)) {
        if (it.data->root == geometry->root)
            screen = it.data;
    }
    if (screen == nullptr || depth != screen->root_depth)
        return 0;

    const std::uint32_t pixmap = xcb_generate_id(c);
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(
        c, xcb_create_pixmap_checked(c, depth, pixmap, window, std::uint16_t(area.width()),
                                     std::uint16_t(area.height()))));
    if (error != nullptr) // no room on the server
        return 0;
    // Windows on the root are copied too, as they show; no exposure events
    // for parts that cannot be copied: they stay black.
    const std::uint32_t gc = xcb_generate_id(c);
    // Values in the order of the mask's bits: foreground, subwindow mode, graphics exposures.
    const std::uint32_t values[] = {screen->black_pixel, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values);
    const QRect from = area & QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    if (from != area) { // a pass over every pixel: only when some stay black
        const xcb_rectangle_t all{0, 0, std::uint16_t(area.width()), std::uint16_t(area.height())};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    }
    if (!from.isEmpty()) {
        xcb_copy_area(c, screen->root, pixmap, gc, std::int16_t(from.x()), std::int16_t(from.y()),
                      std::int16_t(from.x() - area.x()), std::int16_t(from.y() - area.y()),
                      std::uint16_t(from.width()), std::uint16_t(from.height()));
    }
    xcb_free_gc(c, gc);
    xcb_flush(c);
    return pixmap;
}

void freePixmap(void* connection, std::uint32_t pixmap)
{
    auto* c = static_cast<xcb_connection_t*>(connection);
    if (c == nullptr || pixmap == 0 || xcb_connection_has_error(c))
        return;
    xcb_free_pixmap(c, pixmap);
    xcb_flush(c);
}

} // namespace hakop::platform
