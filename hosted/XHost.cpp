#include "XHost.h"

#include "x11/ImageBands.h"
#include "x11/XcbReply.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace hakop::hosted {

namespace {

template <class T>
using Reply = platform::XcbReply<T>;

std::uint32_t internAtom(xcb_connection_t* c, const char* name, bool onlyIfExists = false)
{
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, onlyIfExists ? 1 : 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

std::uint32_t screenshotPixmap(xcb_connection_t* c, std::uint32_t window, std::uint32_t atom)
{
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, XCB_ATOM_PIXMAP, 0, 1), nullptr));
    if (!reply || reply->type != XCB_ATOM_PIXMAP || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return 0;
    std::uint32_t pixmap = 0;
    std::memcpy(&pixmap, xcb_get_property_value(reply.get()), sizeof pixmap);
    return pixmap;
}

// Reads a pixmap whose pixels are 32-bit 0x??RRGGBB words in our byte order
// (depth 24 or 32 on every common X server today).
QImage readPixmap(xcb_connection_t* c, std::uint32_t pixmap, std::string& problem)
{
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
    if (!geometry) {
        problem = "the host's desktop picture is gone";
        return QImage();
    }
    const int w = geometry->width;
    const int h = geometry->height;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto ourOrder
        = std::endian::native == std::endian::little ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST;
    bool words = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == geometry->depth)
            words = it.data->bits_per_pixel == 32;
    }
    if (!words || (geometry->depth != 24 && geometry->depth != 32) || setup->image_byte_order != ourOrder) {
        problem = "the host's desktop picture has a pixel format this program cannot read (depth "
            + std::to_string(geometry->depth) + ")";
        return QImage();
    }
    QImage image(w, h, QImage::Format_RGB32);
    // In bands of about a megabyte, so no reply is out of proportion.
    const int bandRows = std::max(1, (1 << 20) / (w * 4));
    for (int top = 0; top < h; top += bandRows) {
        const int rows = std::min(bandRows, h - top);
        Reply<xcb_get_image_reply_t> band(xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, std::int16_t(top), std::uint16_t(w),
                          std::uint16_t(rows), ~0u),
            nullptr));
        if (!band || xcb_get_image_data_length(band.get()) < rows * w * 4) {
            problem = "the host's desktop picture could not be read";
            return QImage();
        }
        const std::uint8_t* data = xcb_get_image_data(band.get());
        for (int y = 0; y < rows; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(top + y));
            std::memcpy(row, data + std::size_t(y) * std::size_t(w) * 4u, std::size_t(w) * 4u);
            // The top byte is padding on the server; a QImage wants it opaque.
            for (int x = 0; x < w; ++x)
                row[x] |= 0xff000000u;
        }
    }
    return image;
}

} // namespace

xcb_screen_t* defaultScreen(xcb_connection_t* c, int screenNumber)
{
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem > 0 && i < screenNumber; ++i)
        xcb_screen_next(&it);
    return it.rem > 0 ? it.data : nullptr;
}

std::optional<QSize> windowSize(xcb_connection_t* c, std::uint32_t window)
{
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    // A pixmap id answers a geometry request too; only a window has attributes.
    if (!attributes || !geometry)
        return std::nullopt;
    return QSize(geometry->width, geometry->height);
}

std::uint32_t windowRoot(xcb_connection_t* c, std::uint32_t window)
{
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    return geometry ? geometry->root : 0;
}

void watchWindow(xcb_connection_t* c, std::uint32_t window)
{
    // Event masks are kept per client: the host's own stay as they are.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
}

void clearWindow(xcb_connection_t* c, std::uint32_t window)
{
    xcb_clear_area(c, 1, window, 0, 0, 0, 0);
    // A round trip: the caller disconnects next, and the clear must be done by then.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

std::uint32_t deleteWindowAtom(xcb_connection_t* c)
{
    static const std::uint32_t atom = internAtom(c, "WM_DELETE_WINDOW");
    return atom;
}

std::uint32_t createOwnWindow(xcb_connection_t* c, xcb_screen_t* screen, QSize size)
{
    const std::uint32_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->black_pixel,
                                    XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, std::uint16_t(size.width()),
                      std::uint16_t(size.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    static const char title[] = "HAKOP";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof title - 1,
                        title);
    // Instance and class, each NUL-terminated.
    static const char wmClass[] = "hakop-hosted\0HakopHosted";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                        wmClass);
    const std::uint32_t protocols = internAtom(c, "WM_PROTOCOLS");
    const std::uint32_t deleteWindow = deleteWindowAtom(c);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    xcb_map_window(c, window);
    xcb_flush(c);
    return window;
}

QImage readHostScreenshot(xcb_connection_t* c, std::uint32_t window, std::uint32_t root, std::string& problem)
{
    const std::uint32_t atom = internAtom(c, "_SCREENSAVER_SCREENSHOT", true);
    if (atom == XCB_ATOM_NONE)
        return QImage();
    std::uint32_t pixmap = screenshotPixmap(c, window, atom);
    if (pixmap == 0 && root != window)
        pixmap = screenshotPixmap(c, root, atom);
    if (pixmap == 0)
        return QImage();
    return readPixmap(c, pixmap, problem);
}

std::unique_ptr<PixelWriter> PixelWriter::create(xcb_connection_t* c, std::uint32_t window)
{
    std::unique_ptr<PixelWriter> writer(new PixelWriter);
    if (!x11::XPixelFormat::ofWindow(c, window, writer->m_depth, writer->m_format))
        return nullptr;
    writer->m_connection = c;
    writer->m_window = window;
    writer->m_gc = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, writer->m_gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return writer;
}

PixelWriter::~PixelWriter()
{
    // A writer create() gave up on holds no connection and no GC yet.
    if (m_connection != nullptr && !xcb_connection_has_error(m_connection))
        xcb_free_gc(m_connection, m_gc);
}

void PixelWriter::put(const QImage& pixels, const QRegion& region)
{
    for (const QRect& area : region) {
        const QRect r = area & pixels.rect();
        if (!r.isEmpty())
            x11::putImageInBands(m_connection, m_window, m_gc, m_depth, m_format, pixels, r, r.topLeft(), m_buffer);
    }
}

} // namespace hakop::hosted
