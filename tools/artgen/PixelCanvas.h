#pragma once
// A tiny palette-index canvas with the few shape primitives the sprite art is
// drawn from. Shapes are tested at pixel centres, so a shape's extent follows
// directly from its numbers: an ellipse given by the box x0..x1 covers exactly
// those columns, a capsule of radius k + 0.5 reaches exactly k pixels past its
// end points. That keeps every frame's outline predictable to the pixel.
#include "Palette.h"

#include <QImage>
#include <QPointF>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace hakop::art {

// A set of pixels of the canvas, built from shapes and then painted.
class Mask {
public:
    Mask(int w, int h) : m_w(w), m_h(h), m_bits(std::size_t(w) * std::size_t(h), 0) {}

    int width() const { return m_w; }
    int height() const { return m_h; }
    bool at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < m_w && y < m_h && m_bits[idx(x, y)];
    }
    void set(int x, int y, bool on = true)
    {
        if (x >= 0 && y >= 0 && x < m_w && y < m_h)
            m_bits[idx(x, y)] = on ? 1 : 0;
    }

    // Adds every pixel whose centre satisfies the predicate (coordinates are
    // pixel centres: column x has its centre at x).
    Mask& addWhere(const std::function<bool(double, double)>& inside)
    {
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x)
                if (inside(x, y))
                    set(x, y);
        return *this;
    }

    // Ellipse inscribed in the pixel box x0..x1, y0..y1 (inclusive), optionally
    // turned by `degrees` about its centre (then the box is only nominal).
    Mask& ellipse(double x0, double y0, double x1, double y1, double degrees = 0)
    {
        const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
        const double rx = (x1 - x0 + 1) / 2, ry = (y1 - y0 + 1) / 2;
        const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
        return addWhere([=](double x, double y) {
            const double dx = x - cx, dy = y - cy;
            const double u = (dx * c + dy * s) / rx, v = (-dx * s + dy * c) / ry;
            return u * u + v * v <= 1.0 + 1e-9;
        });
    }

    // A thick line with round ends: all pixels within r of the segment.
    Mask& capsule(QPointF p, QPointF q, double r)
    {
        return addWhere([=](double x, double y) {
            const double vx = q.x() - p.x(), vy = q.y() - p.y();
            const double len2 = vx * vx + vy * vy;
            double t = len2 > 0 ? ((x - p.x()) * vx + (y - p.y()) * vy) / len2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            const double dx = x - (p.x() + t * vx), dy = y - (p.y() + t * vy);
            return dx * dx + dy * dy <= r * r + 1e-9;
        });
    }

    Mask& rect(int x0, int y0, int x1, int y1)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                set(x, y);
        return *this;
    }

    // Convex or concave polygon, even-odd rule, tested at pixel centres.
    Mask& polygon(const std::vector<QPointF>& pts)
    {
        return addWhere([&pts](double x, double y) {
            bool in = false;
            for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
                const QPointF& a = pts[i];
                const QPointF& b = pts[j];
                if ((a.y() > y) != (b.y() > y)
                    && x < (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()) + a.x())
                    in = !in;
            }
            return in;
        });
    }

    Mask& unite(const Mask& o)
    {
        for (std::size_t i = 0; i < m_bits.size(); ++i)
            m_bits[i] |= o.m_bits[i];
        return *this;
    }
    Mask& subtract(const Mask& o)
    {
        for (std::size_t i = 0; i < m_bits.size(); ++i)
            if (o.m_bits[i])
                m_bits[i] = 0;
        return *this;
    }
    Mask& intersect(const Mask& o)
    {
        for (std::size_t i = 0; i < m_bits.size(); ++i)
            m_bits[i] &= o.m_bits[i];
        return *this;
    }

    // A pixel of the set with a 4-neighbour outside it.
    bool isEdge(int x, int y) const
    {
        return at(x, y) && (!at(x - 1, y) || !at(x + 1, y) || !at(x, y - 1) || !at(x, y + 1));
    }

private:
    std::size_t idx(int x, int y) const { return std::size_t(y) * std::size_t(m_w) + std::size_t(x); }
    int m_w, m_h;
    std::vector<unsigned char> m_bits;
};

// Palette indices on a fixed-size grid, yellow (the key colour) by default.
class PixelCanvas {
public:
    static constexpr int Width = 85;
    static constexpr int Height = 75;
    static constexpr int Key = Yellow;

    PixelCanvas() : m_px(std::size_t(Width) * Height, Key) {}

    Mask mask() const { return Mask(Width, Height); }

    int at(int x, int y) const { return m_px[std::size_t(y) * Width + std::size_t(x)]; }
    void set(int x, int y, int c)
    {
        if (x >= 0 && y >= 0 && x < Width && y < Height)
            m_px[std::size_t(y) * Width + std::size_t(x)] = c;
    }

    // Paints the set: edge pixels in `outline` (if >= 0), the rest in `fill`.
    void paint(const Mask& m, int fill, int outline = -1)
    {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (m.at(x, y))
                    set(x, y, outline >= 0 && m.isEdge(x, y) ? outline : fill);
    }
    // Paints only the pixels of `m` that already hold `onlyOver`.
    void paintOver(const Mask& m, int colour, int onlyOver)
    {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (m.at(x, y) && at(x, y) == onlyOver)
                    set(x, y, colour);
    }

    // Non-key pixels as a mask.
    Mask drawn() const
    {
        Mask m(Width, Height);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (at(x, y) != Key)
                    m.set(x, y);
        return m;
    }

    // Bounding box of the non-key pixels (empty if none).
    QRect extent() const
    {
        int x0 = Width, y0 = Height, x1 = -1, y1 = -1;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (at(x, y) != Key) {
                    x0 = std::min(x0, x);
                    x1 = std::max(x1, x);
                    y0 = std::min(y0, y);
                    y1 = std::max(y1, y);
                }
        return x1 < 0 ? QRect() : QRect(QPoint(x0, y0), QPoint(x1, y1));
    }

    PixelCanvas mirrored() const
    {
        PixelCanvas out;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                out.set(Width - 1 - x, y, at(x, y));
        return out;
    }
    PixelCanvas silhouette() const
    {
        PixelCanvas out;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                out.set(x, y, at(x, y) == Key ? Key : Black);
        return out;
    }
    // Moves every pixel by (dx, dy); what leaves the grid is lost.
    PixelCanvas shifted(int dx, int dy) const
    {
        PixelCanvas out;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                if (at(x, y) != Key)
                    out.set(x + dx, y + dy, at(x, y));
        return out;
    }

    QImage toImage() const
    {
        QImage img(Width, Height, QImage::Format_Indexed8);
        img.setColorTable(standardPalette());
        for (int y = 0; y < Height; ++y) {
            uchar* line = img.scanLine(y);
            for (int x = 0; x < Width; ++x)
                line[x] = uchar(at(x, y));
        }
        return img;
    }

private:
    std::vector<int> m_px;
};

} // namespace hakop::art
