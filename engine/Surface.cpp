#include "Surface.h"

#include "MemoryCanvas.h"
#include "Sprite.h"

#include <stdexcept>
#include <algorithm>
#include <utility>

namespace hakop {

Surface::Surface(QSize size, QImage::Format format)
    : Surface(std::make_unique<MemoryCanvas>(size, format))
{
}

Surface::Surface(std::unique_ptr<Canvas> canvas)
    : m_canvas(std::move(canvas))
{
    if (!m_canvas)
        throw std::invalid_argument("a surface needs a canvas");
    m_size = m_canvas->size();
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
    m_pending += clipped;
}

void Surface::drawDirect(const QImage& picture, QPoint at)
{
    if (picture.isNull())
        return;
    m_canvas->drawImage(picture, at);
    const QRect changed = QRect(at, picture.size()) & rect();
    m_drawn += changed;
}

void Surface::drawBackdrop()
{
    m_canvas->drawBackdrop();
    m_drawn = QRegion(rect());
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
        s->drawOn(*m_canvas, area);
    }
    m_drawn += area;
    return area;
}

QRegion Surface::takeDrawn()
{
    QRegion drawn;
    std::swap(drawn, m_drawn);
    return drawn;
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
