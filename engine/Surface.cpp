#include "Surface.h"

#include "Sprite.h"

#include <QPainter>
#include <algorithm>
#include <utility>

namespace hakop {

Surface::Surface(QSize size, QImage::Format format)
    : m_pixels(size, format)
    , m_size(m_pixels.size())
{
    // A fresh QImage holds whatever the allocator left; start from a known colour.
    m_pixels.fill(Qt::black);
}

Surface::Surface(std::unique_ptr<PixelServer> server)
    : m_server(std::move(server))
    , m_size(m_server ? m_server->size() : QSize())
{
}

QImage Surface::pixels() const
{
    return m_server ? m_server->read() : m_pixels;
}

Surface::~Surface()
{
    for (Sprite* s : m_paintList)
        s->m_parent = nullptr;
}

void Surface::MarkPending(const QRect& r)
{
    const QRect clipped = r & rect();
    if (clipped.isEmpty())
        return;
    const bool wasEmpty = m_pending.isEmpty();
    m_pending += clipped;
    if (wasEmpty && onPendingStarted)
        onPendingStarted();
}

void Surface::drawDirect(const QImage& picture, QPoint at)
{
    if (picture.isNull())
        return;
    if (m_server) {
        m_server->drawImage(picture, at);
    } else {
        QPainter p(&m_pixels);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(at, picture);
    }
    const QRect changed = QRect(at, picture.size()) & rect();
    if (!changed.isEmpty() && onPixelsChanged)
        onPixelsChanged(QRegion(changed));
}

QRegion Surface::paintPass()
{
    if (m_pending.isEmpty())
        return {};
    QRegion area;
    std::swap(area, m_pending);
    for (Sprite* s : m_paintList) {
        if (!area.intersects(s->rect()))
            continue;
        if (m_server)
            s->drawOn(*m_server, area, rect());
        else
            s->drawInto(m_pixels, area);
    }
    if (onPixelsChanged)
        onPixelsChanged(area);
    return area;
}

Sprite* Surface::spriteAt(QPoint p) const
{
    for (auto it = m_paintList.rbegin(); it != m_paintList.rend(); ++it) {
        if ((*it)->rect().contains(p))
            return *it;
    }
    return nullptr;
}

void Surface::attach(Sprite* s)
{
    m_paintList.push_back(s);
}

void Surface::detach(Sprite* s)
{
    m_paintList.erase(std::remove(m_paintList.begin(), m_paintList.end(), s), m_paintList.end());
}

} // namespace hakop
