#pragma once
// One figure on the surface: a picture at an integer position, drawn with the
// colour of its bottom-left pixel left out. Every change to an attached sprite
// only marks areas pending on its surface; it never paints by itself.
#include <QImage>
#include <QRect>
#include <memory>
#include <unordered_map>

namespace hakop {

class PixelServer;
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

    // Shares the picture's pixels (no copy); marks the rectangle when attached,
    // even if the picture is the same.
    void setPicture(const QImage& picture);
    const QImage& Picture() const { return m_picture; }

    Surface* parent() const { return m_parent; }
    // Appends the sprite to its surface's paint list and marks its rectangle.
    void attach();

    // Runs one paint pass at once if attached and something is pending.
    void PaintPending();

    QRect rect() const { return QRect(m_left, m_top, m_width, m_height); }

    // Draws the picture onto target within clip (already in target coordinates).
    void drawInto(QImage& target, const QRegion& clip) const;
    // The same drawing as an order to a pixel server whose pixels cover 'bounds'.
    void drawOn(PixelServer& server, const QRegion& clip, const QRect& bounds) const;

private:
    friend class Surface;

    // A picture prepared for drawing: its pixels in RGB32 (shared, not copied,
    // when the picture already is RGB32) and, per row, the runs of pixels that
    // are not the key colour. Built once per picture and kept.
    struct Stencil;
    const Stencil& stencil() const;

    void changeGeometry(int& field, int value);
    // Where the picture may be drawn: inside the sprite's rectangle, the
    // picture and bounds.
    QRect drawableBox(const QRect& bounds) const;

    Surface* m_owner;
    Surface* m_parent = nullptr;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_transparent = false;
    QImage m_picture;
    // Keyed by QImage::cacheKey(); each entry keeps its pixels alive, so a key
    // can never be reused for different pixels while it is cached.
    mutable std::unordered_map<qint64, std::unique_ptr<const Stencil>> m_stencils;
};

} // namespace hakop
