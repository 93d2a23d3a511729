#include "XPixelFormat.h"

#include "XcbReply.h"

#include <xcb/xcb.h>

#include <X11/Xlib.h>

#include <bit>
#include <cstring>
#include <string>

namespace hakop::x11 {

namespace {

constexpr auto ourByteOrder
    = std::endian::native == std::endian::little ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST;

} // namespace

bool XPixelFormat::ofWindow(xcb_connection_t* c, std::uint32_t window, std::uint8_t& depth, XPixelFormat& format)
{
    const platform::XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    const platform::XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (attributes == nullptr || geometry == nullptr)
        return false;
    const xcb_visualid_t visualId = attributes->visual;
    depth = geometry->depth;

    const xcb_setup_t* setup = xcb_get_setup(c);
    format.msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    format.bitsPerPixel = 0;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth) {
            format.bitsPerPixel = it.data->bits_per_pixel;
            format.scanlinePad = it.data->scanline_pad;
        }
    }
    if ((format.bitsPerPixel != 16 && format.bitsPerPixel != 24 && format.bitsPerPixel != 32)
        || format.scanlinePad < 8 || format.scanlinePad % 8 != 0)
        return false;

    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem > 0; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem > 0;
             xcb_depth_next(&depths)) {
            for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem > 0; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != visualId)
                    continue;
                format.red = v.data->red_mask;
                format.green = v.data->green_mask;
                format.blue = v.data->blue_mask;
                return (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR
                        || v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR)
                    && format.red != 0 && format.green != 0 && format.blue != 0;
            }
        }
    }
    return false;
}

std::uint32_t XPixelFormat::toChannel(std::uint32_t v, std::uint32_t mask)
{
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    std::uint32_t wide = bits <= 8 ? v >> (8 - bits) : 0;
    if (bits > 8) {
        for (int have = 0; have < bits; have += 8)
            wide = (wide << 8) | v;
        wide >>= (bits + 7) / 8 * 8 - bits;
    }
    return (wide << shift) & mask;
}

std::uint32_t XPixelFormat::fromChannel(std::uint32_t pixel, std::uint32_t mask)
{
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8)
        return v >> (bits - 8);
    return v * 255u / ((1u << bits) - 1u);
}

bool XPixelFormat::isXrgbWords() const
{
    return bitsPerPixel == 32 && scanlinePad == 32 && msbFirst == (ourByteOrder == XCB_IMAGE_ORDER_MSB_FIRST) && red == 0xff0000u
        && green == 0xff00u && blue == 0xffu;
}

std::uint32_t XPixelFormat::rowBytes(int width) const
{
    const std::uint32_t padBytes = std::uint32_t(scanlinePad) / 8u;
    const std::uint32_t bytes = std::uint32_t(width) * std::uint32_t(bitsPerPixel) / 8u;
    return (bytes + padBytes - 1u) / padBytes * padBytes;
}

std::uint32_t XPixelFormat::pixel(QRgb colour) const
{
    return toChannel(std::uint32_t(qRed(colour)), red) | toChannel(std::uint32_t(qGreen(colour)), green)
        | toChannel(std::uint32_t(qBlue(colour)), blue);
}

QRgb XPixelFormat::rgb(std::uint32_t value) const
{
    return 0xff000000u | (fromChannel(value, red) << 16) | (fromChannel(value, green) << 8) | fromChannel(value, blue);
}

void XPixelFormat::pack(const QRgb* in, int width, std::uint8_t* out) const
{
    if (isXrgbWords()) {
        std::memcpy(out, in, std::size_t(width) * 4u);
        return;
    }
    const std::uint32_t bytesPerPixel = std::uint32_t(bitsPerPixel) / 8u;
    for (int x = 0; x < width; ++x, out += bytesPerPixel) {
        const std::uint32_t v = pixel(in[x]);
        for (std::uint32_t b = 0; b < bytesPerPixel; ++b) {
            const std::uint32_t shift = 8u * (msbFirst ? bytesPerPixel - 1u - b : b);
            out[b] = std::uint8_t(v >> shift);
        }
    }
}

void XPixelFormat::unpack(const std::uint8_t* in, int width, QRgb* out) const
{
    const std::uint32_t bytesPerPixel = std::uint32_t(bitsPerPixel) / 8u;
    for (int x = 0; x < width; ++x, in += bytesPerPixel) {
        std::uint32_t v = 0;
        for (std::uint32_t b = 0; b < bytesPerPixel; ++b) {
            const std::uint32_t shift = 8u * (msbFirst ? bytesPerPixel - 1u - b : b);
            v |= std::uint32_t(in[b]) << shift;
        }
        out[x] = rgb(v);
    }
}

bool colourScreen(int visualClass, int depth)
{
    return (visualClass == TrueColor || visualClass == DirectColor) && depth >= 15 && depth <= 32;
}

bool defaultScreenShowsColour(Display* display, std::string* why)
{
    Display* dpy = display;
    if (dpy == nullptr)
        return true;
    const int screen = DefaultScreen(dpy);
    const Visual* visual = DefaultVisual(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    const int visualClass = visual->c_class;
    if (colourScreen(visualClass, depth))
        return true;
    if (why != nullptr) {
        static const char* const names[] = {"StaticGray", "GrayScale", "StaticColor",
                                            "PseudoColor", "TrueColor", "DirectColor"};
        const char* name = visualClass >= 0 && visualClass <= 5 ? names[visualClass] : "unknown";
        *why = "the screen has " + std::to_string(depth) + " bits per pixel (" + name
            + "); the saver needs a true-colour screen of 15 bits or more";
    }
    return false;
}

} // namespace hakop::x11
