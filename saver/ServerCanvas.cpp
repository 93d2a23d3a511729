#include "ServerCanvas.h"

#include "platform/XcbReply.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace hakop {

namespace {

xcb_connection_t* xcb(void* connection)
{
    return static_cast<xcb_connection_t*>(connection);
}

// A PutImage request's fixed part, in bytes.
constexpr std::uint32_t putImageHeader = 24;
// Pictures kept on the server before the oldest are let go: the figures use
// fifty; anything beyond is a caller drawing ever new pictures.
constexpr std::size_t maxPictures = 256;

QRgb keyColour(const QImage& rgb)
{
    return rgb.pixel(0, rgb.height() - 1) & 0x00ffffffu;
}

// True when the window's pixels are 32-bit words 0x??RRGGBB in our own byte
// order, which is exactly how an RGB32 QImage keeps them.
bool windowTakesXrgbWords(xcb_connection_t* c, std::uint32_t window, std::uint8_t& depth)
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
    const auto ourOrder = std::endian::native == std::endian::little ? XCB_IMAGE_ORDER_LSB_FIRST
                                                                      : XCB_IMAGE_ORDER_MSB_FIRST;
    if (setup->image_byte_order != ourOrder)
        return false;

    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            thirtyTwoBits = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    }
    if (!thirtyTwoBits)
        return false;

    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem > 0; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem > 0;
             xcb_depth_next(&depths)) {
            for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem > 0; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != visualId)
                    continue;
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xff0000u
                    && v.data->green_mask == 0xff00u && v.data->blue_mask == 0xffu;
            }
        }
    }
    return false;
}

// A one-bit picture of the pixels of 'rgb' that are not its key colour, laid
// out as the server's bitmap format asks.
std::vector<std::uint8_t> packMask(const xcb_setup_t* setup, const QImage& rgb)
{
    const int w = rgb.width();
    const int h = rgb.height();
    const int unit = setup->bitmap_format_scanline_unit;
    const int pad = setup->bitmap_format_scanline_pad;
    const bool msbBits = setup->bitmap_format_bit_order == XCB_IMAGE_ORDER_MSB_FIRST;
    const bool msbBytes = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    const std::size_t rowBytes = std::size_t((w + pad - 1) / pad * pad / 8);
    std::vector<std::uint8_t> bits(rowBytes * std::size_t(h), 0);
    const QRgb key = keyColour(rgb);
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((row[x] & 0x00ffffffu) == key)
                continue;
            // Bit b of a scanline unit, counted from its least significant end.
            int b = x % unit;
            if (msbBits)
                b = unit - 1 - b;
            int byte = b / 8;
            if (msbBytes)
                byte = unit / 8 - 1 - byte;
            bits[std::size_t(y) * rowBytes + std::size_t(x / unit * (unit / 8) + byte)] |= std::uint8_t(1u << (b % 8));
        }
    }
    return bits;
}

} // namespace

std::unique_ptr<ServerCanvas> ServerCanvas::create(void* connection, std::uint32_t window, QSize size,
                                                   bool asBackground)
{
    xcb_connection_t* c = xcb(connection);
    if (c == nullptr || window == 0 || size.isEmpty() || size.width() > 32767 || size.height() > 32767
        || xcb_connection_has_error(c))
        return nullptr;
    std::uint8_t depth = 0;
    if (!windowTakesXrgbWords(c, window, depth))
        return nullptr;

    const std::uint32_t pixmap = xcb_generate_id(c);
    const platform::XcbReply<xcb_generic_error_t> error(xcb_request_check(
        c, xcb_create_pixmap_checked(c, depth, pixmap, window, std::uint16_t(size.width()),
                                     std::uint16_t(size.height()))));
    if (error != nullptr) // no room on the server
        return nullptr;

    std::unique_ptr<ServerCanvas> canvas(new ServerCanvas);
    canvas->m_connection = connection;
    canvas->m_window = window;
    canvas->m_asBackground = asBackground;
    canvas->m_pixmap = pixmap;
    canvas->m_depth = depth;
    canvas->m_size = size;
    canvas->m_maxRequestBytes = xcb_get_maximum_request_length(c) * 4u;

    // No GraphicsExpose or NoExpose events: each would wake the toolkit's
    // event reader for nothing.
    const std::uint32_t copyValues[] = {0 /* black */, 0};
    canvas->m_copyGc = xcb_generate_id(c);
    xcb_create_gc(c, canvas->m_copyGc, pixmap, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, copyValues);

    const xcb_rectangle_t all{0, 0, std::uint16_t(size.width()), std::uint16_t(size.height())};
    xcb_poly_fill_rectangle(c, pixmap, canvas->m_copyGc, 1, &all);
    if (asBackground)
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_flush(c);
    return canvas;
}

ServerCanvas::~ServerCanvas()
{
    xcb_connection_t* c = xcb(m_connection);
    if (xcb_connection_has_error(c))
        return;
    // The window may outlive us: it must not keep showing a freed pixmap.
    if (m_asBackground) {
        const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
        xcb_change_window_attributes(c, m_window, XCB_CW_BACK_PIXMAP, &none);
    }
    freePictures();
    if (m_bitmapGc != 0)
        xcb_free_gc(c, m_bitmapGc);
    xcb_free_gc(c, m_copyGc);
    xcb_free_pixmap(c, m_pixmap);
    xcb_flush(c);
}

void ServerCanvas::freePictures()
{
    xcb_connection_t* c = xcb(m_connection);
    for (const auto& [key, p] : m_pictures) {
        xcb_free_gc(c, p.maskGc);
        xcb_free_pixmap(c, p.pixmap);
        xcb_free_pixmap(c, p.mask);
    }
    m_pictures.clear();
}

void ServerCanvas::drawImage(const QImage& picture, QPoint at)
{
    if (picture.isNull())
        return;
    const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    const QRect target = QRect(at, rgb.size()) & QRect(QPoint(0, 0), m_size);
    if (target.isEmpty())
        return;
    put(m_pixmap, m_copyGc, m_depth, rgb, target.translated(-at), target.topLeft());
}

void ServerCanvas::drawPicture(const QImage& picture, QPoint at, bool keyed, const QRegion& clip, const QRect& box)
{
    if (picture.isNull() || clip.isEmpty())
        return;
    xcb_connection_t* c = xcb(m_connection);
    Picture& p = upload(picture);
    std::uint32_t gc = m_copyGc;
    if (keyed) {
        gc = p.maskGc;
        if (p.maskOrigin != at) {
            const std::uint32_t origin[] = {std::uint32_t(std::int32_t(at.x())), std::uint32_t(std::int32_t(at.y()))};
            xcb_change_gc(c, gc, XCB_GC_CLIP_ORIGIN_X | XCB_GC_CLIP_ORIGIN_Y, origin);
            p.maskOrigin = at;
        }
    }
    const QRect within = box & QRect(at, picture.size()) & QRect(QPoint(0, 0), m_size);
    for (const QRect& rect : clip) {
        const QRect r = rect & within;
        if (r.isEmpty())
            continue;
        xcb_copy_area(c, p.pixmap, m_pixmap, gc, std::int16_t(r.x() - at.x()), std::int16_t(r.y() - at.y()),
                      std::int16_t(r.x()), std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()));
    }
}

ServerCanvas::Picture& ServerCanvas::upload(const QImage& picture)
{
    const qint64 key = picture.cacheKey();
    if (auto it = m_pictures.find(key); it != m_pictures.end())
        return it->second;
    if (m_pictures.size() >= maxPictures)
        freePictures();

    xcb_connection_t* c = xcb(m_connection);
    const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    const auto w = std::uint16_t(rgb.width());
    const auto h = std::uint16_t(rgb.height());
    Picture p;
    p.keep = picture;
    p.pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, m_depth, p.pixmap, m_pixmap, w, h);
    put(p.pixmap, m_copyGc, m_depth, rgb, rgb.rect(), QPoint(0, 0));

    p.mask = xcb_generate_id(c);
    xcb_create_pixmap(c, 1, p.mask, m_pixmap, w, h);
    if (m_bitmapGc == 0) {
        m_bitmapGc = xcb_generate_id(c);
        const std::uint32_t noExposures = 0;
        xcb_create_gc(c, m_bitmapGc, p.mask, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    }
    const std::vector<std::uint8_t> bits = packMask(xcb_get_setup(c), rgb);
    // The figures' pictures are small; a mask too big for one request is a
    // caller's mistake we would rather survive by drawing it unmasked.
    if (bits.size() + putImageHeader <= m_maxRequestBytes) {
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, p.mask, m_bitmapGc, w, h, 0, 0, 0, 1, std::uint32_t(bits.size()),
                      bits.data());
    }
    // No GraphicsExpose events; the clip origin starts at (0, 0).
    p.maskGc = xcb_generate_id(c);
    const std::uint32_t maskValues[] = {0, p.mask};
    xcb_create_gc(c, p.maskGc, m_pixmap, XCB_GC_GRAPHICS_EXPOSURES | XCB_GC_CLIP_MASK, maskValues);
    return m_pictures.emplace(key, std::move(p)).first->second;
}

void ServerCanvas::put(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth, const QImage& rgb,
                       const QRect& source, QPoint at)
{
    // Rows are packed tightly and sent in bands that fit one request.
    xcb_connection_t* c = xcb(m_connection);
    const std::uint32_t rowBytes = std::uint32_t(source.width()) * 4u;
    const std::uint32_t room = m_maxRequestBytes > putImageHeader ? m_maxRequestBytes - putImageHeader : 0;
    const int bandRows = std::max(1, int(std::min<std::uint32_t>(room / rowBytes, std::uint32_t(source.height()))));
    for (int top = 0; top < source.height(); top += bandRows) {
        const int rows = std::min(bandRows, source.height() - top);
        m_buffer.resize(std::size_t(rows) * rowBytes);
        for (int i = 0; i < rows; ++i)
            std::memcpy(m_buffer.data() + std::size_t(i) * rowBytes,
                        rgb.constScanLine(source.top() + top + i) + std::size_t(source.left()) * 4u, rowBytes);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, std::uint16_t(source.width()), std::uint16_t(rows),
                      std::int16_t(at.x()), std::int16_t(at.y() + top), 0, depth, std::uint32_t(m_buffer.size()),
                      m_buffer.data());
    }
    if (m_buffer.capacity() > (1u << 20))
        std::vector<std::uint8_t>().swap(m_buffer); // a backdrop's worth is not kept
}

QImage ServerCanvas::read() const
{
    xcb_connection_t* c = xcb(m_connection);
    QImage image(m_size, QImage::Format_RGB32);
    image.fill(Qt::black);
    // In bands, so no reply is bigger than a request may be.
    const std::uint32_t rowBytes = std::uint32_t(m_size.width()) * 4u;
    const int bandRows = std::max(1, int(std::min<std::uint32_t>(m_maxRequestBytes / rowBytes, std::uint32_t(m_size.height()))));
    for (int top = 0; top < m_size.height(); top += bandRows) {
        const int rows = std::min(bandRows, m_size.height() - top);
        const platform::XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_pixmap, 0, std::int16_t(top),
                             std::uint16_t(m_size.width()), std::uint16_t(rows), ~0u),
            nullptr));
        if (reply == nullptr)
            return {};
        const std::uint8_t* data = xcb_get_image_data(reply.get());
        if (std::uint32_t(xcb_get_image_data_length(reply.get())) >= rowBytes * std::uint32_t(rows)) {
            for (int i = 0; i < rows; ++i) {
                auto* dst = reinterpret_cast<QRgb*>(image.scanLine(top + i));
                std::memcpy(dst, data + std::size_t(i) * rowBytes, rowBytes);
                for (int x = 0; x < m_size.width(); ++x)
                    dst[x] |= 0xff000000u; // what depth 24 leaves undefined
            }
        }
    }
    return image;
}

void ServerCanvas::show(const QRegion& region)
{
    xcb_connection_t* c = xcb(m_connection);
    for (const QRect& rect : region) {
        const QRect r = rect & QRect(QPoint(0, 0), m_size);
        if (r.isEmpty())
            continue;
        xcb_copy_area(c, m_pixmap, m_window, m_copyGc, std::int16_t(r.x()), std::int16_t(r.y()), std::int16_t(r.x()),
                      std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()));
    }
}

void ServerCanvas::flush()
{
    xcb_flush(xcb(m_connection));
}

} // namespace hakop
