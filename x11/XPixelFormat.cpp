#include "XPixelFormat.h"

#include "XcbReply.h"

#include <xcb/xcb.h>

#include <bit>

namespace hakop::platform {

namespace {

constexpr auto ourByteOrder
    = std::endian::native == std::endian::little ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST;

} // namespace

bool XPixelFormat::ofWindow(void* connection, std::uint32_t window, std::uint8_t& depth, XPixelFormat& format)
{
    auto* c = static_cast<xcb_connection_t*>(connection);
    const XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    const XcbReply<xcb_get_geometry_reply_t> geometry(
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

} // namespace hakop::platform
