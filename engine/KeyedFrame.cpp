#include "KeyedFrame.h"

#include <atomic>

namespace hakop {

namespace {

constexpr QRgb ColourMask = 0x00ffffffu;

std::atomic<std::uint64_t> lastId{0};

} // namespace

KeyedFrame::KeyedFrame(const QImage& picture)
{
    if (picture.isNull())
        return;
    auto d = std::make_shared<Data>();
    d->rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    const int w = d->rgb.width();
    const int h = d->rgb.height();
    d->key = reinterpret_cast<const QRgb*>(d->rgb.constScanLine(h - 1))[0] & ColourMask;
    d->rowStart.reserve(std::size_t(h) + 1);
    for (int y = 0; y < h; ++y) {
        d->rowStart.push_back(int(d->runs.size()));
        const QRgb* row = reinterpret_cast<const QRgb*>(d->rgb.constScanLine(y));
        int x = 0;
        while (x < w) {
            while (x < w && (row[x] & ColourMask) == d->key)
                ++x;
            const int first = x;
            while (x < w && (row[x] & ColourMask) != d->key)
                ++x;
            if (x > first)
                d->runs.emplace_back(first, x);
        }
    }
    d->rowStart.push_back(int(d->runs.size()));
    d->id = ++lastId;
    m_data = std::move(d);
}

const QImage& KeyedFrame::image() const
{
    static const QImage none;
    return m_data ? m_data->rgb : none;
}

} // namespace hakop
