#include "Sprite.h"

#include "Canvas.h"
#include "Surface.h"

namespace hakop {

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

void Sprite::setPicture(const KeyedFrame& picture)
{
    m_picture = picture; // shared: nothing is copied or worked out again
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

void Sprite::drawOn(Canvas& canvas, const QRegion& clip) const
{
    // The canvas cuts each of the clip's rectangles to the box itself: no
    // region is built for a drawing that may only be sent on.
    if (!m_picture.isNull())
        canvas.drawFrame(m_picture, QPoint(m_left, m_top), m_transparent, clip, rect());
}

} // namespace hakop
