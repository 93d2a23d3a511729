#include "MemoryCanvas.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace hakop {

namespace {

bool isDirect32(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32
        || f == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

MemoryCanvas::MemoryCanvas(QImage backdrop)
    : MemoryCanvas(backdrop.size())
{
    m_backdrop = std::move(backdrop);
}

MemoryCanvas::MemoryCanvas(QImage backdrop, QImage pixels)
    : m_backdrop(std::move(backdrop))
    , m_pixels(std::move(pixels))
{
}

MemoryCanvas::MemoryCanvas(QSize size, QImage::Format format)
    : m_pixels(size, format)
{
    // A fresh QImage holds whatever the allocator left; start from a known colour.
    m_pixels.fill(Qt::black);
}

void MemoryCanvas::drawBackdrop()
{
    drawImage(m_backdrop, QPoint(0, 0));
}

void MemoryCanvas::drawImage(const QImage& picture, QPoint at)
{
    if (picture.isNull())
        return;
    QPainter p(&m_pixels);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(at, picture);
}

void MemoryCanvas::drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box)
{
    const QRect within = box & QRect(at, frame.size()) & m_pixels.rect();
    if (within.isEmpty())
        return;
    const QRegion area = clip.intersected(within);
    if (area.isEmpty())
        return;

    const bool fast = isDirect32(m_pixels.format());
    // Row addresses are worked out here rather than asked of the pictures run
    // by run: every scanLine() call on the target checks whether it must detach.
    uchar* const targetBits = fast ? m_pixels.bits() : nullptr;
    const qsizetype targetStride = m_pixels.bytesPerLine();
    const uchar* const pictureBits = frame.image().constBits();
    const qsizetype pictureStride = frame.image().bytesPerLine();
    for (const QRect& r : area) {
        const int x0 = r.left();
        const int x1 = r.right() + 1; // exclusive
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const int sy = y - at.y();
            const QRgb* src = reinterpret_cast<const QRgb*>(pictureBits + sy * pictureStride);
            QRgb* const dst = fast ? reinterpret_cast<QRgb*>(targetBits + y * targetStride) : nullptr;
            auto put = [&](int from, int to) { // canvas columns [from, to)
                if (fast) {
                    std::memcpy(dst + from, src + (from - at.x()), std::size_t(to - from) * sizeof(QRgb));
                } else {
                    for (int x = from; x < to; ++x)
                        m_pixels.setPixelColor(x, y, QColor::fromRgb(src[x - at.x()]));
                }
            };
            if (!keyed) {
                put(x0, x1);
                continue;
            }
            const auto [first, last] = frame.runs(sy);
            for (auto run = first; run != last; ++run) {
                const int from = std::max(x0, run->first + at.x());
                const int to = std::min(x1, run->second + at.x());
                if (from < to)
                    put(from, to);
            }
        }
    }
}

} // namespace hakop
