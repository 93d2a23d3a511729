#pragma once
// One figure on the surface: a picture at an integer position, drawn with the
// colour of its bottom-left pixel left out. Every change to an attached sprite
// only marks areas pending on its surface; it never paints by itself.
#include "KeyedFrame.h"

#include <QRect>

namespace hakop {

class Canvas;
class Surface;

class Sprite {
public:
    // Created unattached and without a picture; 'owner' is the surface it
    // joins when attached.
    explicit Sprite(Surface& owner);
    // Freeing marks the rectangle pending and leaves the sprite's drawing on the surface.
    ~Sprite();

    Sprite(const Sprite&) = delete;
    Sprite& operator=(const Sprite&) = delete;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void setLeft(int v);
    void setTop(int v);
    void setWidth(int v);
    void setHeight(int v);

    bool Transparent() const { return m_transparent; }
    void setTransparent(bool on) { m_transparent = on; }

    // Shares the frame (no copy); marks the rectangle when attached, even if
    // the frame is the same.
    void setPicture(const KeyedFrame& picture);
    const KeyedFrame& Picture() const { return m_picture; }

    Surface* parent() const { return m_parent; }
    // Appends the sprite to its surface's paint list and marks its rectangle.
    void attach();

    // Runs one paint pass at once if attached and something is pending.
    void PaintPending();

    QRect rect() const { return QRect(m_left, m_top, m_width, m_height); }

    // Draws the picture on 'canvas' within clip (canvas coordinates), inside
    // the sprite's rectangle, key colour left out when Transparent.
    void drawOn(Canvas& canvas, const QRegion& clip) const;

private:
    friend class Surface;

    void changeGeometry(int& field, int value);

    Surface* m_owner;
    Surface* m_parent = nullptr;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_transparent = false;
    KeyedFrame m_picture;
};

} // namespace hakop
