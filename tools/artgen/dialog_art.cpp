// The settings dialog's two pictures, the About box's banner and the program icon.
//
// Small pictures are kept as character maps, one character per pixel, so they can be
// edited by eye; the banner is composed from such maps and from a few shapes (boxes,
// the unfolded box, shadows) drawn on an indexed canvas. Every file is written as an
// 8-bit indexed image carrying exactly the standard 16-colour palette.
#include "DialogArt.h"

#include "Palette.h"

#include <QDir>
#include <QImage>
#include <QPoint>
#include <QPointF>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace hakop::art {
namespace {

// Character map key: '.' is the yellow ground (left out when a map is stamped onto a
// larger canvas), K black, W white, R red, C aqua, G grey, O olive.

// Picture A, 30 x 40: the figure seated, seen from the side, arms folded, puzzled.
const char* const kPictureA[] = {
    "..............................",
    ".....................RRRRR....",
    "....................RRRRRRR...",
    "....................RR...RR...",
    ".........................RR...",
    "........................RRR...",
    ".......................RRR....",
    ".......................RR.....",
    "..............................",
    ".......................RR.....",
    ".......................RR.....",
    ".....KKK.....KKKK.............",
    "....KKKKK...KKKKKK............",
    "....KKKKKK.KKKKKKK............",
    "....KKKKKKKKKKKKKK............",
    ".....KKKWWWWWWWKKKK...........",
    ".....KWWWWWWWWWWWWWKK.........",
    "....KWWWWWWWWWWWWWWWWK........",
    "....KWWWWWWWWWWWKKKWWWK.......",
    "...KWWWWWWWWWWWKKKKKWWWK......",
    "...KWWWWWWWWWWKKKWKKWWWWKKK...",
    "...KWWWWWWWWWWKKKKKWWWWWWKKK..",
    "...KWWWWWWWWWWWKKKWWWWWWWKK...",
    "....KWWWWWWWWWWWWWWWWWWKK.....",
    "....KWWWWWWWWWWWWWWWWWKK......",
    "...KKWWWWWWWWWWWWWWWKK........",
    "..KWWWWKKWWWWWWWKKKKWWK.......",
    ".KWWWKKKKKKWWWWWWWWWWWWK......",
    ".KWWKKKKKKKKWWWWWWWWWWWK......",
    ".KWWKKKKKKKKKWWWWWWWWWWWK.....",
    ".KWWKKKKKKKKKKKKKKKKKKKKKK....",
    ".KWWWKKKKKKKKKKKKKKKKKKKKK....",
    ".KWWWWWKKKKKKKKKKKKKKKKKK.....",
    ".KWWWWWWWWWWWWWWWWWWWWWK......",
    "..KWWWWWWWWWWWWWWWWWWWWK......",
    "..KWWWWWWWWWWWWWWKKKKKKKK.....",
    "..KKKKWWWWWWWWWKKKKKKKKKKK....",
    ".KKKKKKKWWWWWKKKKKKKKKKKKKK...",
    ".KKKKKKKKKKKKKKKKKKKKKKKKK....",
    "..KKKKKK.....KKKKKKKKKKKK.....",
};

// Picture B: the same figure, a paw raised to its mouth, sweat flying off its head.
const char* const kPictureB[] = {
    "..........K...................",
    ".........KCK..................",
    ".........KCK.........K........",
    "........KCCCK.......KCK.......",
    ".KK.....KCCCK......KCCK.......",
    ".KCKK....KKK......KCCCK.......",
    "..KCCK............KCCK........",
    "..KCCCK............KK.........",
    "...KCCK.......................",
    "....KK........................",
    "..............................",
    ".....KKK.....KKKK.............",
    "....KKKKK...KKKKKK............",
    "....KKKKKK.KKKKKKK............",
    "....KKKKKKKKKKKKKK............",
    ".....KKKWWWWWWWKKKK...........",
    ".....KWWWWWWWWWWWWWKK.........",
    "....KWWWWWWWWWWWWWWWWK........",
    "....KWWWWWWWWWWWKKKWWWK.......",
    "...KWWWWWWWWWWWKKKKKWWWK......",
    "...KWWWWWWWWWWKKKWKKWWWWKKK...",
    "...KWWWWWWWWWWKKKKKWWWWWWKKK..",
    "...KWWWWWWWWWWWKKKWWWWWWWKK...",
    "....KWWWWWWWWWWWWWWWKKKKK.....",
    "....KWWWWWWWWWWWWWWKKKKKKK....",
    "...KKWWWWWWWWWWWWWKKKKKKKKK...",
    "..KWWWWWWWWWWWWWWWKKKKKKKK....",
    ".KWWWWWWWWWWWWWWWWWKKKKKK.....",
    ".KWWWWWWWWWKKKWWWWWKKKKKK.....",
    ".KWWWWWWWWKKKKKKWWWKKKKKKK....",
    ".KWWWWWWWWKKKKKKKKKKKKKKKK....",
    ".KWWWWWWWWWKKKKKKKKKKKKKKK....",
    ".KWWWWWWWWWWWWKKKKKKKKKKK.....",
    ".KWWWWWWWWWWWWWWWWWWWWWK......",
    "..KWWWWWWWWWWWWWWWWWWWWK......",
    "..KWWWWWWWWWWWWWWKKKKKKKK.....",
    "..KKKKWWWWWWWWWKKKKKKKKKKK....",
    ".KKKKKKKWWWWWKKKKKKKKKKKKKK...",
    ".KKKKKKKKKKKKKKKKKKKKKKKKK....",
    "..KKKKKK.....KKKKKKKKKKKK.....",
};

// The program icon, 32 x 32: flames over a cow-patterned band.
const char* const kIcon[] = {
    "................................",
    "..............R.................",
    "..............RR................",
    ".............RRR........R.......",
    "......R......RRRR.......RR......",
    "......RR....RRRRR.......RRR.....",
    "......RRR...RRRRRR......RRR.....",
    ".....RRRR..RRRR.RRR....RRRR.....",
    ".....RRRRR.RRR..RRRR...RRRRR....",
    "....RRRRRRRRRR...RRR..RRR.RR....",
    "....RRR.RRRRR....RRRR.RRR.RRR...",
    "...RRRR..RRRR..R..RRRRRR..RRR...",
    "...RRR...RRR...RR..RRRRR...RRR..",
    "..RRRR...RRR..RRR...RRRR...RRR..",
    "..RRR....RRR..RRRR...RRR....RR..",
    "..RRR...RRRR.RRRRR...RRR....RR..",
    "..RRR...RRR..RR.RRR..RRR...RRR..",
    "..RRRR.RRRR.RRR..RR.RRRR..RRRR..",
    "...RRRRRRRRRRRR...RRRRRRRRRRR...",
    "....RRRRRRRRRRRRRRRRRRRRRRRRR...",
    "................................",
    ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    ".KWWWKKKKWWWWWWWWWWWWKKKKWWWWWK.",
    ".KWWKKKKKKWWWWWKKWWWKKKKKKWWWWK.",
    ".KWWKKKKKKWWWWKKKKWWWKKKKWWWKKK.",
    ".KWWWKKKKWWWWWKKKKWWWWWWWWWKKKK.",
    ".KKWWWWWWWWWWWWKKWWWWWWWWWWWKKK.",
    ".KKKWWWWWKKKWWWWWWWWWKKKWWWWWWK.",
    ".KKWWWWWKKKKKWWWWWWWKKKKKWWWWWK.",
    ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    "................................",
    "................................",
};

// The figure standing, facing the viewer, one paw raised (drawn on the banner).
const char* const kStandingFigure[] = {
    "..........................................",
    "..........................................",
    "..........................................",
    ".......KK..................KK.............",
    ".....KKKKKK..............KKKKKK...........",
    ".....KKKKKK..............KKKKKK...........",
    "....KKKKKKKK............KKKKKKKK..........",
    "....KKKKKKKK..KKKKKKKK..KKKKKKKK....KK....",
    ".....KKKKKK.KKWWWWWWWWKK.KKKKKK...KKKKKK..",
    ".....KKKKKKKWWWWWWWWWWWWKKKKKKK...KKKKKK..",
    ".......KKKWWWWWWWWWWWWWWWWKKK....KKKKKKKK.",
    "........KWWWWWWWWWWWWWWWWWWK.....KKKKKKKK.",
    "........KWWWWWWWWWWWWWWWWWWK......KKKKKK..",
    ".......KWWWWWWWWWWWWWWWWWWWWK.....KKKKKK..",
    ".......KWWWWKKKWWWWWWKKKWWWWK....KKKKKK...",
    ".......KWWWKKKKKWWWWKKKKKWWWK....KKKKKK...",
    ".......KWWWKKKKKWWWWKKKKKWWWK....KKKKK....",
    ".......KWWKKKWKKWWWWKKWKKKWWK...KKKKKK....",
    ".......KWWKKKKKWWWWWWKKKKKWWK...KKKKK.....",
    ".......KWWKKKKKWWWWWWKKKKKWWK..KKKKKK.....",
    ".......KWWWKKKWWWWWWWWKKKWWWK..KKKKKK.....",
    "........KWWWWWWWWKKWWWWWWWWK...KKKKK......",
    "........KWWWWWWWWKKWWWWWWWWK..KKKKKK......",
    ".........KWWWWWWWWWWWWWWWWK...KKKKK.......",
    "..........KKWWWWWWWWWWWWKK...KKKKKK.......",
    "............KKWWWWWWWWKK.....KKKKKK.......",
    "..........KKWWKKKKKKKKWWKK...KKKKK........",
    ".......KKKWWWWWWWWWWWWWWWWK.KKKKKK........",
    "......KKKKWWWWWWWWWWWWWWWWWKKKKKK.........",
    ".....KKKKKKWWWWWWWWWWWWWWWWKKKKKK.........",
    ".....KKKKKKWWWWWWWWWWWWWWWWKKKKKK.........",
    ".....KKKKKWWWWWWWWWWWWWWWWWKKKKK..........",
    "....KKKKKKWWWWWWWWWWWWWWWWWKKKKK..........",
    "....KKKKKWWWWWWWWWWWWWWWWWWWWKK...........",
    "...KKKKKKWWWWWWWWWWWWWWWWWWWWWK...........",
    "...KKKKKWWWWWWWWWWWWWWWWWWWWWWK...........",
    "..KKKKKKWWWWWWWWWWWWWWWWWWWWWWK...........",
    "..KKKKKKWWWWWWWWWWWWWWWWWWWWWWK...........",
    ".KKKKKKKWWWWWWWWWWWWWWWWWWWWWWK...........",
    ".KKKKKKKWWWWWWWWWWWWWWWWWWWWWWK...........",
    "..KKKKKWWWWWWWWWWWWWWWWWWWWWWK............",
    "...KKKKWWWWWWWWWWWWWWWWWWWWWWK............",
    ".......KWWWWWWWWWWWWWWWWWWWWK.............",
    "........KKKKKKKWWWWWWKKKKKKK..............",
    ".......KKKKKKKKKKWWKKKKKKKKKK.............",
    ".......KKKKKKKKKKWWKKKKKKKKKK.............",
    ".......KKKKKKKKKKKKKKKKKKKKKK.............",
    ".......KKKKKKKKKK..KKKKKKKKKK.............",
    ".........KKKKKK......KKKKKK...............",
    "..........................................",
};

// Letter H for the banner boxes.
const char* const kLetterH[] = {
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRRRRRRRRRRRRRRRRRR",
    "RRRRRRRRRRRRRRRRRRRRRR",
    "RRRRRRRRRRRRRRRRRRRRRR",
    "RRRRRRRRRRRRRRRRRRRRRR",
    "RRRRRRRRRRRRRRRRRRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
};

// Letter A for the banner boxes.
const char* const kLetterA[] = {
    "........RRRRRR........",
    ".......RRRRRRRR.......",
    ".......RRRRRRRR.......",
    "......RRRRRRRRRR......",
    "......RRRR..RRRR......",
    "......RRRR..RRRR......",
    ".....RRRRR..RRRRR.....",
    ".....RRRR....RRRR.....",
    ".....RRRR....RRRR.....",
    "....RRRRR....RRRRR....",
    "....RRRR......RRRR....",
    "....RRRR......RRRR....",
    "...RRRRR......RRRRR...",
    "...RRRRRRRRRRRRRRRR...",
    "...RRRRRRRRRRRRRRRR...",
    "..RRRRRRRRRRRRRRRRRR..",
    "..RRRRRRRRRRRRRRRRRR..",
    "..RRRRR........RRRRR..",
    "..RRRRR........RRRRR..",
    ".RRRRRR........RRRRRR.",
    ".RRRRR..........RRRRR.",
    ".RRRRR..........RRRRR.",
    "RRRRRR..........RRRRRR",
    "RRRRR............RRRRR",
    "RRRRR............RRRRR",
    "RRRRR............RRRRR",
};

// Letter K for the banner boxes.
const char* const kLetterK[] = {
    "RRRRRR........RRRRRRRR",
    "RRRRRR.......RRRRRRRR.",
    "RRRRRR......RRRRRRRR..",
    "RRRRRR.....RRRRRRRR...",
    "RRRRRR....RRRRRRRR....",
    "RRRRRR...RRRRRRRR.....",
    "RRRRRR..RRRRRRRR......",
    "RRRRRR.RRRRRRRRR......",
    "RRRRRRRRRRRRRRR.......",
    "RRRRRRRRRRRRRR........",
    "RRRRRRRRRRRRR.........",
    "RRRRRRRRRRRRRR........",
    "RRRRRRRRRRRRRR........",
    "RRRRRRRRRRRRRRR.......",
    "RRRRRR....RRRRRR......",
    "RRRRRR....RRRRRR......",
    "RRRRRR.....RRRRRR.....",
    "RRRRRR.....RRRRRR.....",
    "RRRRRR......RRRRRR....",
    "RRRRRR......RRRRRRR...",
    "RRRRRR.......RRRRRR...",
    "RRRRRR.......RRRRRRR..",
    "RRRRRR........RRRRRR..",
    "RRRRRR........RRRRRRR.",
    "RRRRRR.........RRRRRRR",
    "RRRRRR.........RRRRRRR",
};

// Letter O for the banner boxes.
const char* const kLetterO[] = {
    "........RRRRRR........",
    "......RRRRRRRRRR......",
    ".....RRRRRRRRRRRR.....",
    "...RRRRRRRRRRRRRRRR...",
    "...RRRRRRRRRRRRRRRR...",
    "..RRRRRRRRRRRRRRRRRR..",
    ".RRRRRRR......RRRRRRR.",
    ".RRRRRR........RRRRRR.",
    ".RRRRRR........RRRRRR.",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    "RRRRRR..........RRRRRR",
    ".RRRRRR........RRRRRR.",
    ".RRRRRR........RRRRRR.",
    ".RRRRRRR......RRRRRRR.",
    "..RRRRRRRRRRRRRRRRRR..",
    "...RRRRRRRRRRRRRRRR...",
    "...RRRRRRRRRRRRRRRR...",
    ".....RRRRRRRRRRRR.....",
    "......RRRRRRRRRR......",
    "........RRRRRR........",
};

struct CharMap {
    const char* const* rows;
    int width;
    int height;
};

template <std::size_t N>
CharMap charMap(const char* const (&rows)[N])
{
    const int width = static_cast<int>(std::strlen(rows[0]));
    for (const char* row : rows) {
        if (static_cast<int>(std::strlen(row)) != width)
            throw std::logic_error("ragged character map");
    }
    return {rows, width, static_cast<int>(N)};
}

Colour colourOf(char c)
{
    switch (c) {
    case '.': return Yellow;
    case 'K': return Black;
    case 'W': return White;
    case 'R': return Red;
    case 'C': return Aqua;
    case 'G': return Grey;
    case 'O': return Olive;
    default: throw std::logic_error(std::string("unknown colour key '") + c + "' in a character map");
    }
}

// Linear map of the unit square onto a face: point = origin + u * across + v * down.
struct Face {
    QPointF origin;
    QPointF across;
    QPointF down;

    // Face coordinates of a point; false when the face is degenerate.
    bool toFace(QPointF p, double& u, double& v) const
    {
        const double det = across.x() * down.y() - across.y() * down.x();
        if (det == 0)
            return false;
        const QPointF d = p - origin;
        u = (d.x() * down.y() - d.y() * down.x()) / det;
        v = (across.x() * d.y() - across.y() * d.x()) / det;
        return true;
    }
};

// One elliptic part of a cow patch, in face coordinates.
struct Blot {
    double u, v, ru, rv;
};

class Canvas {
public:
    Canvas(int width, int height, Colour ground)
        : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), ground)
    {
    }

    void set(int x, int y, Colour c)
    {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            pixels_[index(x, y)] = c;
    }

    Colour at(int x, int y) const { return pixels_[index(x, y)]; }

    // In size_t from the start, so a large canvas cannot overflow int.
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    // Copies a character map with its top-left pixel at (left, top); the yellow
    // ground of the map is left out.
    void stamp(const CharMap& map, int left, int top)
    {
        for (int y = 0; y < map.height; ++y) {
            for (int x = 0; x < map.width; ++x) {
                const char c = map.rows[y][x];
                if (c != '.')
                    set(left + x, top + y, colourOf(c));
            }
        }
    }

    // As stamp(), with a one-pixel ring of `rim` around the map's shape, so a letter
    // stays readable whatever it is painted over.
    void stampRimmed(const CharMap& map, int left, int top, Colour rim)
    {
        for (int y = 0; y < map.height; ++y) {
            for (int x = 0; x < map.width; ++x) {
                if (map.rows[y][x] == '.')
                    continue;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        set(left + x + dx, top + y + dy, rim);
            }
        }
        stamp(map, left, top);
    }

    // Fills the pixels whose positions lie inside the polygon (even-odd rule). The
    // polygon runs through pixel positions, so a line drawn along an edge afterwards
    // covers every boundary pixel and nothing is left outside the outline.
    void fillPolygon(const std::vector<QPointF>& polygon, Colour c)
    {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                if (inside(polygon, QPointF(x, y)))
                    set(x, y, c);
            }
        }
    }

    // Bresenham line, both ends included.
    void line(QPoint a, QPoint b, Colour c)
    {
        int x = a.x(), y = a.y();
        const int dx = std::abs(b.x() - x), sx = x < b.x() ? 1 : -1;
        const int dy = -std::abs(b.y() - y), sy = y < b.y() ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            set(x, y, c);
            if (x == b.x() && y == b.y())
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
    }

    void outline(const std::vector<QPoint>& polygon, Colour c)
    {
        for (std::size_t i = 0; i < polygon.size(); ++i)
            line(polygon[i], polygon[(i + 1) % polygon.size()], c);
    }

    // Paints a patch made of elliptic blots onto a face, clipped to the face.
    void patch(const Face& face, const std::vector<Blot>& blots, Colour c)
    {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                double u = 0, v = 0;
                if (!face.toFace(QPointF(x, y), u, v) || u < 0 || u > 1 || v < 0 || v > 1)
                    continue;
                for (const Blot& b : blots) {
                    const double du = (u - b.u) / b.ru, dv = (v - b.v) / b.rv;
                    if (du * du + dv * dv <= 1) {
                        set(x, y, c);
                        break;
                    }
                }
            }
        }
    }

    QImage image() const
    {
        QImage img(width_, height_, QImage::Format_Indexed8);
        img.setColorTable(standardPalette());
        for (int y = 0; y < height_; ++y) {
            uchar* line = img.scanLine(y);
            for (int x = 0; x < width_; ++x)
                line[x] = static_cast<uchar>(at(x, y));
        }
        return img;
    }

private:
    static bool inside(const std::vector<QPointF>& polygon, QPointF p)
    {
        bool in = false;
        for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
            const QPointF a = polygon[i], b = polygon[j];
            if ((a.y() > p.y()) != (b.y() > p.y())) {
                const double xCross = a.x() + (p.y() - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
                if (p.x() < xCross)
                    in = !in;
            }
        }
        return in;
    }

    int width_;
    int height_;
    std::vector<Colour> pixels_;
};

Canvas fromMap(const CharMap& map)
{
    Canvas canvas(map.width, map.height, Yellow);
    canvas.stamp(map, 0, 0);
    return canvas;
}

std::vector<QPointF> toF(const std::vector<QPoint>& points)
{
    return {points.begin(), points.end()};
}

// --- The banner -------------------------------------------------------------------

constexpr int kBannerWidth = 306;
constexpr int kBannerHeight = 65;

// A cube in an oblique three-quarter view: a square front face, the top and the
// right side receding up and to the right at two pixels across per pixel up.
constexpr int kBoxSide = 36;          // front face, in pixels, outline included
constexpr QPoint kDepth(12, -6);      // from a front corner to the corner behind it
constexpr int kBoxTop = 18;           // top row of the front face
constexpr int kBoxPitch = 52;         // from one box to the next
constexpr int kFirstBoxLeft = 6;
constexpr int kShadowLength = 10;     // how far a box's shadow reaches past its side

struct BoxPatches {
    std::vector<std::vector<Blot>> front, top, side;
};

// Hand-placed cow patches, different on every box; the front patches keep to the
// edges so the letter stays clear.
const BoxPatches& patchesOf(int box)
{
    static const BoxPatches patches[4] = {
        {// H
         {{{-0.02, 0.06, 0.16, 0.20}, {0.12, -0.02, 0.16, 0.10}, {0.03, 0.30, 0.07, 0.10}},
          {{1.00, 0.80, 0.12, 0.22}, {0.86, 1.00, 0.14, 0.08}}},
         {{{0.50, 0.55, 0.13, 0.40}, {0.60, 0.35, 0.09, 0.30}}},
         {{{0.45, 0.22, 0.32, 0.12}, {0.25, 0.30, 0.25, 0.08}, {0.60, 0.14, 0.20, 0.06}},
          {{0.75, 0.78, 0.35, 0.12}, {0.95, 0.90, 0.25, 0.12}}}},
        {// A
         {{{1.00, 0.10, 0.14, 0.20}, {0.86, -0.02, 0.12, 0.08}},
          {{-0.02, 0.78, 0.14, 0.24}, {0.12, 1.00, 0.16, 0.08}}},
         {{{0.18, 0.40, 0.10, 0.45}, {0.25, 0.65, 0.08, 0.35}}, {{0.85, 0.80, 0.12, 0.40}}},
         {{{0.40, 0.55, 0.35, 0.13}, {0.65, 0.45, 0.25, 0.09}, {0.30, 0.66, 0.20, 0.07}},
          {{0.00, 0.05, 0.30, 0.10}}}},
        {// K
         {{{-0.02, 0.45, 0.12, 0.22}},
          {{0.92, -0.02, 0.18, 0.10}, {1.00, 0.12, 0.10, 0.14}},
          {{0.62, 1.00, 0.20, 0.08}}},
         {{{0.40, 0.45, 0.12, 0.40}, {0.52, 0.30, 0.10, 0.30}}, {{0.95, 0.95, 0.10, 0.30}}},
         {{{0.30, 0.15, 0.35, 0.12}, {0.55, 0.08, 0.25, 0.08}},
          {{0.65, 0.70, 0.35, 0.13}, {0.45, 0.80, 0.25, 0.09}}}},
        {// O
         {{{0.12, 1.00, 0.22, 0.10}, {-0.02, 0.90, 0.10, 0.12}},
          {{1.00, 0.45, 0.12, 0.22}},
          {{0.06, -0.02, 0.16, 0.12}}},
         {{{0.72, 0.50, 0.12, 0.45}, {0.62, 0.75, 0.09, 0.30}}, {{0.10, 0.40, 0.07, 0.35}}},
         {{{0.50, 0.40, 0.35, 0.14}, {0.30, 0.48, 0.25, 0.08}}, {{0.10, 0.95, 0.30, 0.10}}}},
    };
    return patches[box];
}

void drawBox(Canvas& canvas, int box, const CharMap& letter)
{
    const int left = kFirstBoxLeft + box * kBoxPitch;
    const QPoint a(left, kBoxTop), b(left + kBoxSide - 1, kBoxTop);
    const QPoint c(b.x(), kBoxTop + kBoxSide - 1), d(left, c.y());
    const QPoint a2 = a + kDepth, b2 = b + kDepth, c2 = c + kDepth;

    // The shadow falls to the right along the ground, from the side face's foot.
    canvas.fillPolygon(toF({c, c + QPoint(kShadowLength, 0), c2 + QPoint(kShadowLength, 0), c2}), Grey);

    const std::vector<QPoint> front{a, b, c, d}, top{a, a2, b2, b}, side{b, b2, c2, c};
    canvas.fillPolygon(toF(front), White);
    canvas.fillPolygon(toF(top), White);
    canvas.fillPolygon(toF(side), White);

    const Face frontFace{a, b - a, d - a};
    const Face topFace{a, b - a, QPointF(kDepth)};
    const Face sideFace{b, QPointF(kDepth), c - b};
    const BoxPatches& patches = patchesOf(box);
    for (const auto& p : patches.front)
        canvas.patch(frontFace, p, Black);
    for (const auto& p : patches.top)
        canvas.patch(topFace, p, Black);
    for (const auto& p : patches.side)
        canvas.patch(sideFace, p, Black);

    canvas.stampRimmed(letter, left + (kBoxSide - letter.width) / 2,
                       kBoxTop + (kBoxSide - letter.height) / 2, Black);

    canvas.outline(front, Black);
    canvas.outline(top, Black);
    canvas.outline(side, Black);
}

// The unfolded box the figure stands on: a cross of five squares lying on the ground,
// receding up and to the right like the boxes, and narrowing a little with distance.
// Returns the point in the middle of the centre square, where the figure stands.
QPoint drawSheet(Canvas& canvas, QPoint nearEdgeMiddle)
{
    constexpr double side = 22.0;              // a square's near edge, in pixels
    constexpr double stepRight = 9.0, stepUp = 5.0;  // one square further back
    const auto project = [&](double u, double w) {  // u: across, w: depth, in squares
        const double s = 1.0 / (1.0 + 0.12 * w);
        return QPoint(static_cast<int>(std::lround(nearEdgeMiddle.x() + u * side * s + w * stepRight)),
                      static_cast<int>(std::lround(nearEdgeMiddle.y() - w * stepUp)));
    };
    const double cross[][2] = {{-0.5, 0}, {0.5, 0}, {0.5, 1},  {1.5, 1},   {1.5, 2},   {0.5, 2},
                               {0.5, 3},  {-0.5, 3}, {-0.5, 2}, {-1.5, 2}, {-1.5, 1}, {-0.5, 1}};
    std::vector<QPoint> outline;
    outline.reserve(std::size(cross));
    for (const auto& p : cross)
        outline.push_back(project(p[0], p[1]));

    std::vector<QPoint> shadow;
    shadow.reserve(outline.size());
    for (const QPoint& p : outline)
        shadow.push_back(p + QPoint(4, 2));
    canvas.fillPolygon(toF(shadow), Grey);
    canvas.fillPolygon(toF(outline), Olive);
    canvas.outline(outline, Black);
    // Fold lines round the middle square.
    canvas.outline({project(-0.5, 1), project(0.5, 1), project(0.5, 2), project(-0.5, 2)}, Black);
    return project(0, 1.5);
}

QImage banner()
{
    Canvas canvas(kBannerWidth, kBannerHeight, Yellow);
    const CharMap letters[4] = {charMap(kLetterH), charMap(kLetterA), charMap(kLetterK), charMap(kLetterO)};
    for (int box = 0; box < 4; ++box)
        drawBox(canvas, box, letters[box]);

    const QPoint standing = drawSheet(canvas, QPoint(250, 61));
    const CharMap figure = charMap(kStandingFigure);
    constexpr int bodyCentre = 18;  // column of the body's middle in the figure's map
    constexpr int feet = 48;        // row of the lowest pixel of the feet in the map
    canvas.stamp(figure, standing.x() - bodyCentre, standing.y() + 2 - feet);
    return canvas.image();
}

void save(const QImage& image, const QString& path)
{
    if (!image.save(path, "PNG"))
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

void drawDialogPictures(const QString& outDir)
{
    QDir dir(outDir);
    if (!dir.mkpath(QStringLiteral("dialogs")) || !dir.mkpath(QStringLiteral("icon")))
        throw std::runtime_error("cannot create the picture folders under " + outDir.toStdString());
    save(fromMap(charMap(kPictureA)).image(), dir.filePath(QStringLiteral("dialogs/PictureA.png")));
    save(fromMap(charMap(kPictureB)).image(), dir.filePath(QStringLiteral("dialogs/PictureB.png")));
    save(banner(), dir.filePath(QStringLiteral("dialogs/Banner.png")));
    save(fromMap(charMap(kIcon)).image(), dir.filePath(QStringLiteral("icon/hakop.png")));
}

} // namespace hakop::art
