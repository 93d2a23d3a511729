#include "ImageBands.h"

#include <xcb/xcb.h>

#include <algorithm>

namespace hakop::x11 {

namespace {

// A PutImage request's fixed part, in bytes.
constexpr std::uint32_t putImageHeader = 24;

} // namespace

int rowsPerBand(std::uint32_t maxRequestBytes, std::uint32_t rowBytes, int height)
{
    const std::uint32_t room = maxRequestBytes > putImageHeader ? maxRequestBytes - putImageHeader : 0;
    const std::uint32_t rows = rowBytes > 0 ? room / rowBytes : room;
    return std::max(1, int(std::min<std::uint32_t>(rows, std::uint32_t(std::max(height, 0)))));
}

void putImageInBands(xcb_connection_t* connection, std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth,
                     const XPixelFormat& format, const QImage& rgb, const QRect& source, QPoint at,
                     std::vector<std::uint8_t>& buffer)
{
    const std::uint32_t rowBytes = format.rowBytes(source.width());
    const int bandRows =
        rowsPerBand(xcb_get_maximum_request_length(connection) * 4u, rowBytes, source.height());
    for (int top = 0; top < source.height(); top += bandRows) {
        const int rows = std::min(bandRows, source.height() - top);
        buffer.assign(std::size_t(rows) * rowBytes, 0);
        for (int i = 0; i < rows; ++i) {
            const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(source.top() + top + i)) + source.left();
            format.pack(in, source.width(), buffer.data() + std::size_t(i) * rowBytes);
        }
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, std::uint16_t(source.width()),
                      std::uint16_t(rows), std::int16_t(at.x()), std::int16_t(at.y() + top), 0, depth,
                      std::uint32_t(buffer.size()), buffer.data());
    }
    if (buffer.capacity() > (1u << 20))
        std::vector<std::uint8_t>().swap(buffer);
}

} // namespace hakop::x11
