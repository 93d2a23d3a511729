#include "Sprite.h"

#include "PixelServer.h"
#include "Surface.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hakop {

struct Sprite::Stencil {
    QImage rgb;                 // the picture as RGB32
    std::vector<int> rowStart;  // runs of row y are runs[rowStart[y] .. rowStart[y + 1])
    std::vector<std::pair<int, int>> runs; // [first, last + 1) columns that are not the key colour
};

namespace {

constexpr QRgb ColourMask = 0x00ffffffu;

bool isDirect32(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32
        || f == QImage::Format_ARGB32_Premultiplied;
}

// Keeps a sprite's cache bounded when it is given many short-lived pictures.
constexpr std::size_t MaxStencils = 256;

} // namespace

Sprite::Sprite(Surface& owner)
    : m_owner(&owner)
{
}

Sprite::~Sprite()
{
    if (m_parent) {
        m_parent->MarkPending(rect());
        m_parent->detach(this);
    }
}

void Sprite::changeGeometry(int& field, int value)
{
    if (field == value)
        return;
    if (m_parent)
        m_parent->MarkPending(rect());
    field = value;
    if (m_parent)
        m_parent->MarkPending(rect());
}

void Sprite::setLeft(int v) { changeGeometry(m_left, v); }
void Sprite::setTop(int v) { changeGeometry(m_top, v); }
void Sprite::setWidth(int v) { changeGeometry(m_width, v); }
void Sprite::setHeight(int v) { changeGeometry(m_height, v); }

void Sprite::setPicture(const QImage& picture)
{
    m_picture = picture; // implicit sharing: no pixels are copied
    if (m_parent)
        m_parent->MarkPending(rect());
}

void Sprite::attach()
{
    if (m_parent)
        return; // already in the paint list; a second entry would paint it twice
    m_parent = m_owner;
    m_parent->attach(this);
    m_parent->MarkPending(rect());
}

void Sprite::PaintPending()
{
    if (m_parent && m_parent->hasPending())
        m_parent->paintPass();
}

const Sprite::Stencil& Sprite::stencil() const
{
    const qint64 key = m_picture.cacheKey();
    if (auto it = m_stencils.find(key); it != m_stencils.end())
        return *it->second;
    if (m_stencils.size() >= MaxStencils)
        m_stencils.clear();

    auto st = std::make_unique<Stencil>();
    st->rgb = m_picture.format() == QImage::Format_RGB32
        ? m_picture
        : m_picture.convertToFormat(QImage::Format_RGB32);
    const int w = st->rgb.width();
    const int h = st->rgb.height();
    const QRgb keyColour = reinterpret_cast<const QRgb*>(st->rgb.constScanLine(h - 1))[0] & ColourMask;
    st->rowStart.reserve(h + 1);
    for (int y = 0; y < h; ++y) {
        st->rowStart.push_back(int(st->runs.size()));
        const QRgb* row = reinterpret_cast<const QRgb*>(st->rgb.constScanLine(y));
        int x = 0;
        while (x < w) {
            while (x < w && (row[x] & ColourMask) == keyColour)
                ++x;
            const int first = x;
            while (x < w && (row[x] & ColourMask) != keyColour)
                ++x;
            if (x > first)
                st->runs.emplace_back(first, x);
        }
    }
    st->rowStart.push_back(int(st->runs.size()));
    const Stencil& ref = *st;
    m_stencils.emplace(key, std::move(st));
    return ref;
}

QRect Sprite::drawableBox(const QRect& bounds) const
{
    if (m_picture.isNull())
        return {};
    return rect() & QRect(m_left, m_top, m_picture.width(), m_picture.height()) & bounds;
}

void Sprite::drawOn(PixelServer& server, const QRegion& clip, const QRect& bounds) const
{
    // The server cuts each of the clip's rectangles to the box itself: no
    // region is built for a drawing that is only sent on.
    const QRect box = drawableBox(bounds);
    if (!box.isEmpty())
        server.drawPicture(m_picture, QPoint(m_left, m_top), m_transparent, clip, box);
}

void Sprite::drawInto(QImage& target, const QRegion& clip) const
{
    const QRect box = drawableBox(target.rect());
    if (box.isEmpty())
        return;
    const QRegion area = clip.intersected(box);
    if (area.isEmpty())
        return;

    const Stencil& st = stencil();
    const bool fast = isDirect32(target.format());
    // Row addresses are worked out here rather than asked of the pictures run
    // by run: every scanLine() call on the target checks whether it must detach.
    uchar* const targetBits = fast ? target.bits() : nullptr;
    const qsizetype targetStride = target.bytesPerLine();
    const uchar* const pictureBits = st.rgb.constBits();
    const qsizetype pictureStride = st.rgb.bytesPerLine();
    for (const QRect& r : area) {
        const int x0 = r.left();
        const int x1 = r.right() + 1; // exclusive
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const int sy = y - m_top;
            const QRgb* src = reinterpret_cast<const QRgb*>(pictureBits + sy * pictureStride);
            QRgb* const dst = fast ? reinterpret_cast<QRgb*>(targetBits + y * targetStride) : nullptr;
            auto put = [&](int from, int to) { // surface columns [from, to)
                if (fast) {
                    std::memcpy(dst + from, src + (from - m_left), std::size_t(to - from) * sizeof(QRgb));
                } else {
                    for (int x = from; x < to; ++x)
                        target.setPixelColor(x, y, QColor::fromRgb(src[x - m_left]));
                }
            };
            if (!m_transparent) {
                put(x0, x1);
                continue;
            }
            for (int k = st.rowStart[sy]; k < st.rowStart[sy + 1]; ++k) {
                const int from = std::max(x0, st.runs[k].first + m_left);
                const int to = std::min(x1, st.runs[k].second + m_left);
                if (from < to)
                    put(from, to);
            }
        }
    }
}

} // namespace hakop
