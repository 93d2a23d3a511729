#include "CleanPicture.h"

#include "XcbReply.h"

#include <xcb/xcb.h>

#include <algorithm>

namespace hakop::x11 {

namespace {

// The side of the squares: a figure's box meets at most four.
constexpr int squareSize = 64;

} // namespace

CleanPicture::CleanPicture(xcb_connection_t* connection, std::uint32_t pixels, std::uint32_t gc, std::uint8_t depth,
                           QSize size)
    : m_connection(connection)
    , m_pixels(pixels)
    , m_gc(gc)
    , m_depth(depth)
    , m_size(size)
    , m_columns((size.width() + squareSize - 1) / squareSize)
{
    m_squareSaved.assign(std::size_t(m_columns) * std::size_t((size.height() + squareSize - 1) / squareSize), false);
}

CleanPicture::~CleanPicture()
{
    if (!xcb_connection_has_error(m_connection))
        release();
}

void CleanPicture::keepPixels()
{
    release();
    m_kept = true;
}

void CleanPicture::release()
{
    m_kept = false;
    m_squareSaved.assign(m_squareSaved.size(), false);
    if (m_saved == 0)
        return;
    xcb_free_pixmap(m_connection, m_saved);
    m_saved = 0;
}

void CleanPicture::copy(std::uint32_t from, std::uint32_t to, const QRect& r) const
{
    xcb_copy_area(m_connection, from, to, m_gc, std::int16_t(r.x()), std::int16_t(r.y()), std::int16_t(r.x()),
                  std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()));
}

void CleanPicture::saveBefore(const QRect& area)
{
    if (!m_kept)
        return;
    xcb_connection_t* c = m_connection;
    if (m_saved == 0) {
        m_saved = xcb_generate_id(c);
        const platform::XcbReply<xcb_generic_error_t> error(xcb_request_check(
            c, xcb_create_pixmap_checked(c, m_depth, m_saved, m_pixels, std::uint16_t(m_size.width()),
                                         std::uint16_t(m_size.height()))));
        if (error != nullptr) { // no room on the server: nothing to restore from
            m_saved = 0;
            release();
            return;
        }
    }
    const QRect r = area & QRect(QPoint(0, 0), m_size);
    if (r.isEmpty())
        return;
    // The server copies each run of squares not saved yet before the
    // drawing that follows changes them.
    for (int row = r.top() / squareSize; row <= r.bottom() / squareSize; ++row) {
        const std::size_t first = std::size_t(row) * std::size_t(m_columns);
        for (int column = r.left() / squareSize; column <= r.right() / squareSize;) {
            if (m_squareSaved[first + std::size_t(column)]) {
                ++column;
                continue;
            }
            const int from = column;
            while (column <= r.right() / squareSize && !m_squareSaved[first + std::size_t(column)])
                m_squareSaved[first + std::size_t(column++)] = true;
            copy(m_pixels, m_saved,
                 QRect(from * squareSize, row * squareSize, (column - from) * squareSize, squareSize)
                     & QRect(QPoint(0, 0), m_size));
        }
    }
}

template <typename Copy> void CleanPicture::forSavedRuns(Copy copy) const
{
    for (std::size_t row = 0; row * squareSize < std::size_t(m_size.height()); ++row) {
        const std::size_t first = row * std::size_t(m_columns);
        for (int column = 0; column < m_columns;) {
            if (!m_squareSaved[first + std::size_t(column)]) {
                ++column;
                continue;
            }
            const int from = column;
            while (column < m_columns && m_squareSaved[first + std::size_t(column)])
                ++column;
            copy(QRect(from * squareSize, int(row) * squareSize, (column - from) * squareSize, squareSize)
                 & QRect(QPoint(0, 0), m_size));
        }
    }
}

void CleanPicture::restore()
{
    // Only the saved squares were ever drawn on; they stay saved.
    if (m_kept)
        forSavedRuns([this](const QRect& run) { copy(m_saved, m_pixels, run); });
}

QImage CleanPicture::snapshot(QImage pixels, const QImage& saved) const
{
    if (!m_kept)
        return {};
    if (m_saved == 0 || pixels.isNull())
        return pixels;
    if (saved.size() != pixels.size())
        return {};
    forSavedRuns([&](const QRect& run) {
        for (int y = run.top(); y <= run.bottom(); ++y)
            std::copy_n(reinterpret_cast<const QRgb*>(saved.constScanLine(y)) + run.x(), run.width(),
                        reinterpret_cast<QRgb*>(pixels.scanLine(y)) + run.x());
    });
    return pixels;
}

} // namespace hakop::x11
