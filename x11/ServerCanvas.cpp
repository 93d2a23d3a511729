#include "ServerCanvas.h"

#include "engine/PresentBoxes.h"

#include "ImageBands.h"
#include "XcbReply.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace hakop {

namespace {

// Pictures kept on the server before the oldest are let go: the figures use
// forty-eight; anything beyond is a caller drawing ever new pictures.
constexpr std::size_t maxPictures = 256;

} // namespace

std::unique_ptr<ServerCanvas> ServerCanvas::create(xcb_connection_t* connection, std::uint32_t window, QSize size,
                                                   std::uint32_t snapshot, bool asBackground)
{
    xcb_connection_t* c = connection;
    if (c == nullptr || xcb_connection_has_error(c))
        return nullptr;
    auto refuse = [&] {
        if (snapshot != 0) {
            xcb_free_pixmap(c, snapshot);
            xcb_flush(c);
        }
        return nullptr;
    };
    if (window == 0 || size.isEmpty() || size.width() > 32767 || size.height() > 32767)
        return refuse();
    std::uint8_t depth = 0;
    x11::XPixelFormat format;
    if (!x11::XPixelFormat::ofWindow(c, window, depth, format))
        return refuse();

    // With a snapshot, its pixmap becomes the canvas's pixels as they are:
    // nothing new to make, fill or copy before the window shows. What the
    // snapshot needs to outlive the drawing is copied as drawing reaches it.
    std::uint32_t pixmap = snapshot;
    if (pixmap == 0) {
        pixmap = xcb_generate_id(c);
        const platform::XcbReply<xcb_generic_error_t> error(xcb_request_check(
            c, xcb_create_pixmap_checked(c, depth, pixmap, window, std::uint16_t(size.width()),
                                         std::uint16_t(size.height()))));
        if (error != nullptr) // no room on the server
            return refuse();
    }

    std::unique_ptr<ServerCanvas> canvas(new ServerCanvas);
    canvas->m_connection = connection;
    canvas->m_window = window;
    canvas->m_asBackground = asBackground;
    canvas->m_pixmap = pixmap;
    canvas->m_showsBackdrop = snapshot != 0;
    canvas->m_depth = depth;
    canvas->m_format = format;
    canvas->m_size = size;
    canvas->m_maxRequestBytes = xcb_get_maximum_request_length(c) * 4u;

    // No GraphicsExpose or NoExpose events: each would wake the toolkit's
    // event reader for nothing.
    const std::uint32_t copyValues[] = {0 /* black */, 0};
    canvas->m_copyGc = xcb_generate_id(c);
    xcb_create_gc(c, canvas->m_copyGc, pixmap, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, copyValues);
    canvas->m_snapshot = std::make_unique<x11::CleanPicture>(c, pixmap, canvas->m_copyGc, depth, size);
    if (snapshot != 0)
        canvas->m_snapshot->keepPixels();
    if (snapshot == 0) {
        const xcb_rectangle_t all{0, 0, std::uint16_t(size.width()), std::uint16_t(size.height())};
        xcb_poly_fill_rectangle(c, pixmap, canvas->m_copyGc, 1, &all);
    }
    if (asBackground)
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_flush(c);
    return canvas;
}

ServerCanvas::~ServerCanvas()
{
    xcb_connection_t* c = m_connection;
    if (xcb_connection_has_error(c))
        return;
    // The window may outlive us: it must not keep showing a freed pixmap.
    if (m_asBackground) {
        const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
        xcb_change_window_attributes(c, m_window, XCB_CW_BACK_PIXMAP, &none);
    }
    freePictures();
    releaseBackdrop();
    if (m_bitmapGc != 0)
        xcb_free_gc(c, m_bitmapGc);
    xcb_free_gc(c, m_copyGc);
    xcb_free_pixmap(c, m_pixmap);
    xcb_flush(c);
}

void ServerCanvas::freePictures()
{
    xcb_connection_t* c = m_connection;
    for (const auto& [id, p] : m_pictures) {
        xcb_free_gc(c, p.maskGc);
        xcb_free_pixmap(c, p.pixmap);
        xcb_free_pixmap(c, p.mask);
    }
    m_pictures.clear();
}

void ServerCanvas::drawBackdrop()
{
    if (!m_snapshot->kept() || m_showsBackdrop)
        return; // released, or the pixels already are the snapshot
    m_showsBackdrop = true;
    m_snapshot->restore();
}

void ServerCanvas::releaseBackdrop()
{
    m_showsBackdrop = false;
    m_snapshot->release();
}

void ServerCanvas::setBackdrop(const QImage& picture)
{
    releaseBackdrop();
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    put(m_pixmap, rgb, rgb.rect() & QRect(QPoint(0, 0), m_size), QPoint(0, 0));
    // As with a snapshot from the screen: it is kept as drawing reaches it.
    keepPixelsAsBackdrop();
}

void ServerCanvas::keepPixelsAsBackdrop()
{
    m_snapshot->keepPixels();
    m_showsBackdrop = true;
}

QImage ServerCanvas::backdrop() const
{
    if (!m_snapshot->kept())
        return {};
    const std::uint32_t saved = m_snapshot->savedPixmap();
    return m_snapshot->snapshot(readPixmap(m_pixmap), saved != 0 ? readPixmap(saved) : QImage());
}

void ServerCanvas::saveBefore(const QRect& area)
{
    m_showsBackdrop = false;
    m_snapshot->saveBefore(area);
}

void ServerCanvas::drawImage(const QImage& picture, QPoint at)
{
    if (picture.isNull())
        return;
    const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    const QRect target = QRect(at, rgb.size()) & QRect(QPoint(0, 0), m_size);
    if (target.isEmpty())
        return;
    saveBefore(target);
    put(m_pixmap, rgb, target.translated(-at), target.topLeft());
}

void ServerCanvas::drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box)
{
    if (frame.isNull() || clip.isEmpty())
        return;
    const QRect within = box & QRect(at, frame.size()) & QRect(QPoint(0, 0), m_size);
    if (within.isEmpty())
        return;
    xcb_connection_t* c = m_connection;
    saveBefore(within);
    Picture& p = upload(frame);
    std::uint32_t gc = m_copyGc;
    if (keyed) {
        gc = p.maskGc;
        if (p.maskOrigin != at) {
            const std::uint32_t origin[] = {std::uint32_t(std::int32_t(at.x())), std::uint32_t(std::int32_t(at.y()))};
            xcb_change_gc(c, gc, XCB_GC_CLIP_ORIGIN_X | XCB_GC_CLIP_ORIGIN_Y, origin);
            p.maskOrigin = at;
        }
    }
    auto copy = [&](const QRect& r) {
        xcb_copy_area(c, p.pixmap, m_pixmap, gc, std::int16_t(r.x() - at.x()), std::int16_t(r.y() - at.y()),
                      std::int16_t(r.x()), std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()));
    };
    // A region's rectangles never overlap: when the parts of them inside
    // the box add up to the box, the clip covers it, and one copy draws what
    // one per rectangle would (the usual case: a figure wholly inside the
    // area a pass paints, which is cut into bands around the others).
    long long covered = 0;
    for (const QRect& rect : clip) {
        const QRect r = rect & within;
        covered += r.isEmpty() ? 0 : (long long)r.width() * r.height();
    }
    if (covered == (long long)within.width() * within.height()) {
        copy(within);
        return;
    }
    for (const QRect& rect : clip) {
        const QRect r = rect & within;
        if (!r.isEmpty())
            copy(r);
    }
}

ServerCanvas::Picture& ServerCanvas::upload(const KeyedFrame& frame)
{
    if (auto it = m_pictures.find(frame.id()); it != m_pictures.end())
        return it->second;
    if (m_pictures.size() >= maxPictures)
        freePictures();

    xcb_connection_t* c = m_connection;
    const auto w = std::uint16_t(frame.width());
    const auto h = std::uint16_t(frame.height());
    Picture p;
    p.keep = frame;
    p.pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, m_depth, p.pixmap, m_pixmap, w, h);
    put(p.pixmap, frame.image(), frame.image().rect(), QPoint(0, 0));

    // The mask is the frame's runs, drawn by the server: no bitmap layout to
    // get right on our side.
    p.mask = xcb_generate_id(c);
    xcb_create_pixmap(c, 1, p.mask, m_pixmap, w, h);
    if (m_bitmapGc == 0) {
        m_bitmapGc = xcb_generate_id(c);
        const std::uint32_t values[] = {0, 0};
        xcb_create_gc(c, m_bitmapGc, p.mask, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
    }
    std::uint32_t colour = 0;
    xcb_change_gc(c, m_bitmapGc, XCB_GC_FOREGROUND, &colour);
    const xcb_rectangle_t all{0, 0, w, h};
    xcb_poly_fill_rectangle(c, p.mask, m_bitmapGc, 1, &all);
    colour = 1;
    xcb_change_gc(c, m_bitmapGc, XCB_GC_FOREGROUND, &colour);
    std::vector<xcb_rectangle_t> runs;
    runs.reserve(frame.runCount());
    for (int y = 0; y < frame.height(); ++y) {
        const auto [first, last] = frame.runs(y);
        for (auto run = first; run != last; ++run)
            runs.push_back({std::int16_t(run->first), std::int16_t(y), std::uint16_t(run->second - run->first), 1});
    }
    // In slices that each fit one request.
    const std::size_t perRequest = std::max<std::size_t>(1, (m_maxRequestBytes - 12) / sizeof(xcb_rectangle_t));
    for (std::size_t i = 0; i < runs.size(); i += perRequest)
        xcb_poly_fill_rectangle(c, p.mask, m_bitmapGc, std::uint32_t(std::min(perRequest, runs.size() - i)),
                                runs.data() + i);

    // No GraphicsExpose events; the clip origin starts at (0, 0).
    p.maskGc = xcb_generate_id(c);
    const std::uint32_t maskValues[] = {0, p.mask};
    xcb_create_gc(c, p.maskGc, m_pixmap, XCB_GC_GRAPHICS_EXPOSURES | XCB_GC_CLIP_MASK, maskValues);
    return m_pictures.emplace(frame.id(), std::move(p)).first->second;
}

void ServerCanvas::put(std::uint32_t drawable, const QImage& rgb, const QRect& source, QPoint at)
{
    x11::putImageInBands(m_connection, drawable, m_copyGc, m_depth, m_format, rgb, source, at, m_buffer);
}

QImage ServerCanvas::read() const
{
    return readPixmap(m_pixmap);
}

QImage ServerCanvas::readPixmap(std::uint32_t pixmap) const
{
    xcb_connection_t* c = m_connection;
    QImage image(m_size, QImage::Format_RGB32);
    image.fill(Qt::black);
    // In bands, so no reply is bigger than a request may be.
    const std::uint32_t rowBytes = m_format.rowBytes(m_size.width());
    const int bandRows = std::max(1, int(std::min<std::uint32_t>(m_maxRequestBytes / rowBytes, std::uint32_t(m_size.height()))));
    for (int top = 0; top < m_size.height(); top += bandRows) {
        const int rows = std::min(bandRows, m_size.height() - top);
        const platform::XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, std::int16_t(top),
                             std::uint16_t(m_size.width()), std::uint16_t(rows), ~0u),
            nullptr));
        if (reply == nullptr)
            return {};
        const std::uint8_t* data = xcb_get_image_data(reply.get());
        if (std::uint32_t(xcb_get_image_data_length(reply.get())) >= rowBytes * std::uint32_t(rows)) {
            for (int i = 0; i < rows; ++i)
                m_format.unpack(data + std::size_t(i) * rowBytes, m_size.width(),
                                reinterpret_cast<QRgb*>(image.scanLine(top + i)));
        }
    }
    return image;
}

void ServerCanvas::setWindow(std::uint32_t window)
{
    m_window = window;
    if (m_asBackground)
        xcb_change_window_attributes(m_connection, window, XCB_CW_BACK_PIXMAP, &m_pixmap);
    xcb_flush(m_connection);
}

void ServerCanvas::show(const QRegion& region)
{
    for (const QRect& rect : region)
        showRect(rect);
}

void ServerCanvas::showRect(const QRect& rect)
{
    const QRect r = rect & QRect(QPoint(0, 0), m_size);
    if (r.isEmpty())
        return;
    xcb_copy_area(m_connection, m_pixmap, m_window, m_copyGc, std::int16_t(r.x()), std::int16_t(r.y()),
                  std::int16_t(r.x()), std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()));
}

void ServerCanvas::flush()
{
    xcb_flush(m_connection);
}

void ServerCanvas::present(const QRegion& changed)
{
    presentBoxes(changed, m_boxes);
    for (const QRect& box : m_boxes)
        showRect(box);
    flush();
}

} // namespace hakop
