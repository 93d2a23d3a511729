#pragma once
// Pictures in memory written to a drawable on the X server: packed in the
// drawable's pixel layout and sent in bands of whole rows, each band one
// PutImage request no bigger than the server takes.
#include "XPixelFormat.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace hakop::x11 {

// Rows of 'rowBytes' each that one PutImage request of at most
// 'maxRequestBytes' carries: at least one (a row the server refuses is the
// server's to report), at most 'height'.
int rowsPerBand(std::uint32_t maxRequestBytes, std::uint32_t rowBytes, int height);

// Writes 'source' of 'rgb' (RGB32) to 'drawable' at 'at' through 'gc', in
// 'format' at 'depth'. 'buffer' is where the rows are packed; a large
// picture's worth is let go afterwards.
void putImageInBands(xcb_connection_t* connection, std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth,
                     const XPixelFormat& format, const QImage& rgb, const QRect& source, QPoint at,
                     std::vector<std::uint8_t>& buffer);

} // namespace hakop::x11
