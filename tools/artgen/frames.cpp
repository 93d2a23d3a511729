// The sprite frames, drawn shape by shape. Coordinates are pixels of the 85 x 75
// frame; the figure stands around the vertical centre line x = 42, so mirrored
// frames (x -> 84 - x) keep it in place.
#include "Frames.h"

#include <QDir>
#include <QImageWriter>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace hakop::art {

namespace {

using P = QPointF;

// Rotation by `deg` about `pivot`, used for the tumbling figure.
struct Xf {
    P pivot{42, 38};
    double deg = 0;
    P shift{0, 0};

    P map(P p) const
    {
        const double a = deg * M_PI / 180, c = std::cos(a), s = std::sin(a);
        const double dx = p.x() - pivot.x(), dy = p.y() - pivot.y();
        return {pivot.x() + shift.x() + dx * c - dy * s, pivot.y() + shift.y() + dx * s + dy * c};
    }
};

// Draws shapes in the house style: white parts outlined in silver and shaded
// on the side away from the light (upper left); black parts flat.
class Brush {
public:
    explicit Brush(PixelCanvas& cv, Xf xf = {}) : m_cv(cv), m_xf(xf) {}

    Mask ellipse(double x0, double y0, double x1, double y1, double deg = 0) const
    {
        const P c = m_xf.map({(x0 + x1) / 2, (y0 + y1) / 2});
        const double hw = (x1 - x0) / 2, hh = (y1 - y0) / 2;
        return m_cv.mask().ellipse(c.x() - hw, c.y() - hh, c.x() + hw, c.y() + hh, deg + m_xf.deg);
    }
    Mask capsule(P p, P q, double r) const { return m_cv.mask().capsule(m_xf.map(p), m_xf.map(q), r); }

    void white(const Mask& m, bool shade = true) const
    {
        m_cv.paint(m, White, Silver);
        if (!shade)
            return;
        // A one-pixel shadow rim inside the outline, facing down and right.
        for (int y = 0; y < PixelCanvas::Height; ++y)
            for (int x = 0; x < PixelCanvas::Width; ++x)
                if (m.at(x, y) && !m.isEdge(x, y) && (!m.at(x + 2, y + 1) || !m.at(x + 1, y + 2)))
                    m_cv.set(x, y, Silver);
    }
    void black(const Mask& m) const { m_cv.paint(m, Black); }
    // A black limb in front: where its edge meets black already drawn (a limb
    // behind it) a silver rim keeps the two apart.
    void limb(const Mask& m) const
    {
        Mask rim = m_cv.mask();
        for (int y = 0; y < PixelCanvas::Height; ++y)
            for (int x = 0; x < PixelCanvas::Width; ++x)
                if (m.isEdge(x, y))
                    for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
                        if (!m.at(x + dx, y + dy) && x + dx >= 0 && x + dx < PixelCanvas::Width
                            && y + dy >= 0 && y + dy < PixelCanvas::Height
                            && m_cv.at(x + dx, y + dy) == Black)
                            rim.set(x, y);
        m_cv.paint(m, Black);
        for (int y = 0; y < PixelCanvas::Height; ++y)
            for (int x = 0; x < PixelCanvas::Width; ++x)
                if (rim.at(x, y))
                    m_cv.set(x, y, Silver);
    }
    void dot(double x, double y, int colour) const
    {
        const P p = m_xf.map({x, y});
        m_cv.set(int(std::lround(p.x())), int(std::lround(p.y())), colour);
    }

    PixelCanvas& cv() const { return m_cv; }

private:
    PixelCanvas& m_cv;
    Xf m_xf;
};

// ---------------------------------------------------------------- the box

// The curled-up figure: a white ball. `x0..x1, y0..y1` is its box.
void ball(const Brush& b, double x0, double y0, double x1, double y1)
{
    b.white(b.ellipse(x0, y0, x1, y1));
}

// Pixels of `m` that are not on its edge.
Mask interior(const Mask& m)
{
    Mask in(m.width(), m.height());
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x)
            if (m.at(x, y) && !m.isEdge(x, y))
                in.set(x, y);
    return in;
}

Mask mirroredMask(const Mask& m)
{
    Mask out(m.width(), m.height());
    for (int y = 0; y < m.height(); ++y)
        for (int x = 0; x < m.width(); ++x)
            out.set(m.width() - 1 - x, y, m.at(x, y));
    return out;
}

// Irregular black cow patches on a white face whose top-left corner is at
// (ox, oy), scaled vertically by `sy` (a face tipped toward the viewer).
void cowPatches(const Brush& b, const Mask& face, double ox, double oy, double sy = 1)
{
    auto e = [&](double x0, double y0, double x1, double y1, double deg = 0) {
        return b.ellipse(ox + x0, oy + y0 * sy, ox + x1, oy + y1 * sy, deg);
    };
    Mask spots = b.cv().mask();
    spots.unite(e(2, 3, 12, 12)).unite(e(10, 5, 14, 9)).unite(e(4, 10, 8, 14));
    spots.unite(e(17, 14, 27, 22)).unite(e(15, 18, 19, 23)).unite(e(23, 12, 27, 16));
    spots.unite(e(24, 0, 30, 6));
    spots.unite(e(3, 21, 9, 27)).unite(e(8, 24, 12, 29));
    spots.unite(e(-2, 15, 1, 19));
    b.black(spots.intersect(interior(face)));
}

// Darkens the white pixels of columns x0..x1 between rows y0..y1: the side
// of the box turned away from the light.
void shadeColumns(PixelCanvas& cv, int x0, int x1, int y0, int y1)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (y >= 0 && y < PixelCanvas::Height && cv.at(x, y) == White)
                cv.set(x, y, Silver);
}

// The closed box, 35 x 36, its lid's top-left pixel at (25, top). Rows below
// the frame's bottom fall off the canvas: the box is still in the ground.
void closedBox(PixelCanvas& cv, int top)
{
    const Brush b(cv);
    // Body, one pixel narrower than the lid on either side.
    const Mask body = cv.mask().rect(26, top + 6, 58, top + 35);
    cv.paint(body, White, Black);
    cowPatches(b, body, 27, top + 7);
    shadeColumns(cv, 55, 57, top + 7, top + 34);
    shadeColumns(cv, 27, 57, top + 7, top + 7); // under the lid
    // The lid, its corners rounded, with a patch of its own.
    Mask lid = cv.mask().rect(25, top, 59, top + 6);
    lid.set(25, top, false);
    lid.set(59, top, false);
    cv.paint(lid, White, Black);
    Mask spots = cv.mask();
    spots.unite(b.ellipse(29, top + 1, 37, top + 4)).unite(b.ellipse(34, top + 2, 40, top + 6));
    spots.unite(b.ellipse(47, top + 1, 52, top + 4));
    b.black(spots.intersect(interior(lid)));
    shadeColumns(cv, 56, 58, top + 1, top + 5);
}

// Frames 1 - 5: the box rises out of the ground, 8 rows a tick.
PixelCanvas risingBox(int step)
{
    PixelCanvas cv;
    const int top = 39 + (5 - step) * 8;
    closedBox(cv, top);
    if (step < 5) {
        // The edge of the hole the box comes out of.
        for (int x = 25; x <= 59; ++x)
            cv.set(x, 74, Black);
    }
    return cv;
}

// The box unfolding: its walls hinge at the bottom and fall outward. The
// side walls are strips from the bottom corners out to (tipX, tipY) on the
// left (mirrored on the right); the front wall leans toward the viewer, its
// top edge at frontTop and widened by `lean` on either side.
struct Unfold {
    double tipX, tipY;
    double frontTop, lean;
    int backTop, backBottom;
};

void unfoldingBack(PixelCanvas& cv, const Unfold& u)
{
    // The back wall's inside, in shadow, darkest toward the floor.
    cv.paint(cv.mask().rect(27, u.backTop, 57, u.backBottom), Silver, Black);
    for (int y = u.backBottom - 3; y < u.backBottom; ++y)
        for (int x = 28 + (y % 2); x <= 56; x += 2)
            cv.set(x, y, Black);
}

void unfoldingFront(PixelCanvas& cv, const Unfold& u)
{
    const Brush b(cv);
    const std::vector<P> side = {{25.5, 74.5}, {31.5, 74.5}, {u.tipX + 7.5, u.tipY + 2.5},
                                 {u.tipX - 0.5, u.tipY - 0.5}};
    const Mask left = cv.mask().polygon(side);
    const Mask right = mirroredMask(left);
    for (const Mask* wall : {&left, &right}) {
        cv.paint(*wall, White, Black);
        Mask spot = b.ellipse(u.tipX + 1, u.tipY + 3, u.tipX + 5, u.tipY + 8, 30);
        if (wall == &right)
            spot = mirroredMask(spot);
        b.black(spot.intersect(interior(*wall)));
    }
    const Mask front = cv.mask().polygon({{25.5, 74.5}, {59.5, 74.5}, {59.5 + u.lean, u.frontTop - 0.5},
                                          {25.5 - u.lean, u.frontTop - 0.5}});
    cv.paint(front, White, Black);
    const double sy = (74.5 - u.frontTop) / 29.0;
    cowPatches(b, front, 27 - u.lean / 2, u.frontTop, sy);
    shadeColumns(cv, 55, 58, int(u.frontTop) + 1, 73);
}

PixelCanvas boxOpening()
{
    PixelCanvas cv;
    const Unfold u{21, 42, 62, 2, 46, 63};
    unfoldingBack(cv, u);
    unfoldingFront(cv, u);
    return cv;
}

PixelCanvas ballRising()
{
    PixelCanvas cv;
    const Brush b(cv);
    const Unfold u{18, 57, 67, 3, 54, 62};
    unfoldingBack(cv, u);
    ball(b, 27, 42, 57, 72);
    unfoldingFront(cv, u);
    return cv;
}

PixelCanvas ballOnPlate()
{
    PixelCanvas cv;
    const Brush b(cv);
    ball(b, 27, 42, 57, 73);
    Mask plate = cv.mask().ellipse(19, 68, 65, 78).intersect(cv.mask().rect(0, 0, 84, 74));
    cv.paint(plate, White, Black);
    for (int x = 19; x <= 65; ++x)
        cv.set(x, 74, Black);
    b.black(cv.mask().ellipse(25, 71, 31, 73).intersect(plate));
    b.black(cv.mask().ellipse(44, 69, 52, 72).intersect(plate));
    b.black(cv.mask().ellipse(58, 71, 61, 72).intersect(plate));
    return cv;
}

PixelCanvas ballAlone()
{
    PixelCanvas cv;
    ball(Brush(cv), 27, 42, 57, 73);
    return cv;
}

PixelCanvas ballWithFeet()
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.ellipse(31, 62, 38, 70));
    b.black(b.ellipse(46, 62, 53, 70));
    ball(b, 27, 36, 57, 66);
    return cv;
}

// ---------------------------------------------------------------- the figure

// Face seen from the front, centred at cx with the eye line at eyeY. `turn`
// moves the features toward the viewer's right for a three-quarter view.
void faceFront(const Brush& b, double cx, double eyeY)
{
    // Eye patches, slanting down and outward, each with a glint.
    b.black(b.ellipse(cx - 9, eyeY - 3, cx - 4, eyeY + 4, 35));
    b.black(b.ellipse(cx + 4, eyeY - 3, cx + 9, eyeY + 4, -35));
    b.dot(cx - 6, eyeY - 1, White);
    b.dot(cx + 6, eyeY - 1, White);
    // Nose and mouth.
    b.black(b.ellipse(cx - 2, eyeY + 5, cx + 2, eyeY + 7));
    b.dot(cx, eyeY + 8, Black);
    b.dot(cx - 1, eyeY + 9, Black);
    b.dot(cx + 1, eyeY + 9, Black);
}

PixelCanvas sittingUp()
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.ellipse(27, 26, 35, 34));
    b.black(b.ellipse(49, 26, 57, 34));
    b.white(b.ellipse(27, 44, 57, 66));
    b.white(b.ellipse(28, 29, 56, 51));
    faceFront(b, 42, 39);
    b.limb(b.capsule({31, 50}, {36, 56}, 3.0));
    b.limb(b.capsule({53, 50}, {48, 56}, 3.0));
    b.black(b.ellipse(25, 60, 34, 68, -20));
    b.black(b.ellipse(50, 60, 59, 68, 20));
    return cv;
}

PixelCanvas rising()
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.ellipse(27, 19, 35, 27));
    b.black(b.ellipse(49, 19, 57, 27));
    b.black(b.ellipse(30, 56, 39, 64));
    b.black(b.ellipse(45, 56, 54, 64));
    b.white(b.ellipse(27, 39, 57, 61));
    b.white(b.ellipse(28, 22, 56, 45));
    faceFront(b, 42, 32);
    b.black(b.capsule({31, 47}, {25, 41}, 3.5));
    b.black(b.capsule({53, 47}, {59, 41}, 3.5));
    return cv;
}

PixelCanvas standing()
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.ellipse(27, 13, 35, 21));
    b.black(b.ellipse(49, 13, 57, 21));
    b.black(b.ellipse(30, 58, 39, 66));
    b.black(b.ellipse(45, 58, 54, 66));
    b.white(b.ellipse(27, 36, 57, 62));
    b.white(b.ellipse(28, 16, 56, 40));
    faceFront(b, 42, 27);
    b.black(b.capsule({31, 42}, {27, 51}, 3.5));
    b.black(b.capsule({53, 42}, {57, 51}, 3.5));
    return cv;
}

// Three-quarter view: the face has moved toward the viewer's right, the
// snout shows against the outline and the far eye is foreshortened.
PixelCanvas turningRight()
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.ellipse(46, 13, 53, 20));          // far ear, behind the head
    b.black(b.capsule({32, 43}, {29, 50}, 3.5)); // far arm, behind the body
    b.black(b.ellipse(33, 56, 42, 63));
    b.black(b.ellipse(44, 56, 53, 63));
    b.white(b.ellipse(28, 35, 55, 59));
    b.white(b.ellipse(28, 15, 55, 39));
    b.white(b.ellipse(48, 25, 57, 34)); // snout
    b.white(b.ellipse(47, 26, 54, 33), false);
    b.black(b.ellipse(31, 12, 38, 19)); // near ear
    b.black(b.ellipse(36, 22, 42, 30, 30));
    b.black(b.ellipse(47, 22, 50, 29, -15));
    b.dot(39, 25, White);
    b.dot(48, 24, White);
    b.black(b.ellipse(53, 26, 57, 28)); // nose
    b.dot(53, 31, Black);
    b.dot(52, 32, Black);
    b.limb(b.capsule({48, 42}, {50, 49}, 3.5));
    return cv;
}

// Side view facing right. The limbs on the far side are drawn behind the
// body, the near ones in front of it.
struct SidePose {
    P farHip, farAnkle;
    double farFoot0, farFoot1; // columns of the far foot
    P nearHip, nearAnkle;
    double nearFoot0, nearFoot1;
    int footY;        // lowest row of the feet
    P nearArm, farArm; // hand positions
    int bodyBottom;
};

PixelCanvas sideView(const SidePose& p)
{
    PixelCanvas cv;
    const Brush b(cv);
    b.black(b.capsule({p.farHip.x() + 4, 42}, p.farArm, 3.5));
    b.black(b.capsule(p.farHip, p.farAnkle, 3.5));
    b.black(b.ellipse(p.farFoot0, p.footY - 6, p.farFoot1, p.footY));
    b.black(b.ellipse(35, 12, 42, 19)); // far ear
    b.white(b.ellipse(27, p.bodyBottom - 24, 55, p.bodyBottom));
    b.white(b.ellipse(29, 15, 55, 39));
    b.white(b.ellipse(48, 26, 57, 34)); // snout
    b.white(b.ellipse(47, 27, 54, 33), false);
    b.black(b.ellipse(55, 27, 57, 29)); // nose
    b.dot(53, 32, Black);               // mouth
    b.dot(52, 32, Black);
    b.black(b.ellipse(40, 12, 47, 19)); // near ear
    b.black(b.ellipse(44, 21, 50, 27, -30));
    b.dot(48, 23, White);
    b.limb(b.capsule(p.nearHip, p.nearAnkle, 3.5).unite(
        b.ellipse(p.nearFoot0, p.footY - 6, p.nearFoot1, p.footY)));
    b.limb(b.capsule({42, 41}, p.nearArm, 3.5));
    return cv;
}

PixelCanvas sideStanding()
{
    return sideView({{37, 55}, {37, 58}, 33, 43, {45, 55}, {46, 58}, 42, 53, 63, {46, 47}, {47, 48}, 59});
}

// The two steps of the walk: feet far apart, the arm swinging against the
// near leg.
PixelCanvas walkStep(bool nearLegForward)
{
    if (nearLegForward)
        return sideView({{36, 53}, {28, 57}, 21, 31, {46, 53}, {55, 57}, 52, 62, 60, {35, 47}, {51, 46}, 57});
    return sideView({{38, 53}, {55, 57}, 52, 62, {44, 53}, {28, 57}, 21, 31, 60, {49, 46}, {38, 47}, 57})
        .shifted(1, 0);
}

// Seen from behind: no face, the back of the head and the limbs spread.
// Arm and leg ends are given for the viewer's left side and mirrored about
// x = 42 unless given separately.
struct BackPose {
    P armL, armR, legL, legR;
};

PixelCanvas fromBehind(const BackPose& pose, Xf xf)
{
    PixelCanvas cv;
    const Brush b(cv, xf);
    b.black(b.capsule({33, 44}, pose.armL, 3.5));
    b.black(b.capsule({51, 44}, pose.armR, 3.5));
    b.black(b.capsule({36, 54}, pose.legL, 3.5));
    b.black(b.capsule({48, 54}, pose.legR, 3.5));
    b.white(b.ellipse(28, 36, 56, 58));
    b.black(b.capsule({33, 43}, {51, 43}, 3.5)); // the dark shoulders of the back
    b.white(b.ellipse(28, 17, 56, 41));
    b.black(b.ellipse(27, 14, 35, 22));
    b.black(b.ellipse(49, 14, 57, 22));
    b.white(b.ellipse(40, 53, 44, 56), false); // the tail
    return cv;
}

PixelCanvas tumbling()
{
    return fromBehind({{24, 40}, {59, 31}, {27, 53}, {55, 57}}, Xf{{42, 38}, -14, {-2, 2}});
}

PixelCanvas floating()
{
    return fromBehind({{23, 34}, {61, 34}, {27, 55}, {57, 55}}, Xf{});
}

struct Required {
    int image;
    int x0, x1, y0, y1;
};

constexpr Required kExtents[] = {
    {1, 25, 59, 71, 74},  {2, 25, 59, 63, 74},  {3, 25, 59, 55, 74},  {4, 25, 59, 47, 74},
    {5, 25, 59, 39, 74},  {6, 21, 63, 42, 74},  {7, 18, 66, 42, 74},  {8, 19, 65, 42, 74},
    {9, 27, 57, 42, 73},  {10, 27, 57, 36, 70}, {11, 25, 59, 26, 68}, {12, 22, 62, 19, 64},
    {13, 24, 60, 13, 66}, {14, 26, 57, 12, 63}, {15, 27, 57, 12, 63}, {16, 21, 62, 12, 60},
    {17, 22, 63, 12, 60}, {18, 20, 60, 14, 61}, {19, 24, 64, 14, 61}, {39, 27, 58, 12, 63},
    {40, 27, 57, 12, 63}, {41, 22, 63, 12, 60}, {42, 21, 62, 12, 60}, {43, 20, 64, 14, 58},
};

QString describe(const QRect& r)
{
    if (r.isNull())
        return QStringLiteral("nothing drawn");
    return QStringLiteral("x %1-%2, y %3-%4").arg(r.left()).arg(r.right()).arg(r.top()).arg(r.bottom());
}

} // namespace

QRect requiredExtent(int image)
{
    for (const Required& r : kExtents)
        if (r.image == image)
            return QRect(QPoint(r.x0, r.y0), QPoint(r.x1, r.y1));
    return {};
}

std::array<PixelCanvas, FrameCount> drawFrames(bool strict)
{
    std::array<PixelCanvas, FrameCount> f;
    auto img = [&f](int n) -> PixelCanvas& { return f[std::size_t(n - 1)]; };

    for (int step = 1; step <= 5; ++step)
        img(step) = risingBox(step);
    img(6) = boxOpening();
    img(7) = ballRising();
    img(8) = ballOnPlate();
    img(9) = ballAlone();
    img(10) = ballWithFeet();
    img(11) = sittingUp();
    img(12) = rising();
    img(13) = standing();
    img(14) = turningRight();
    img(15) = sideStanding();
    img(16) = walkStep(true);
    img(17) = walkStep(false);
    img(18) = tumbling();
    img(19) = img(18).mirrored();
    for (int n = 0; n < 4; ++n)
        img(39 + n) = img(14 + n).mirrored();
    img(43) = floating();
    for (int n = 0; n < 19; ++n)
        img(20 + n) = img(1 + n).silhouette();
    for (int n = 0; n < 5; ++n)
        img(44 + n) = img(39 + n).silhouette();

    QStringList drift;
    for (const Required& r : kExtents) {
        const QRect want = requiredExtent(r.image);
        const QRect got = img(r.image).extent();
        if (got != want)
            drift << QStringLiteral("Image%1: drawn %2, must be %3").arg(r.image).arg(describe(got), describe(want));
    }
    for (int n = 1; n <= FrameCount; ++n)
        if (img(n).at(0, PixelCanvas::Height - 1) != PixelCanvas::Key)
            drift << QStringLiteral("Image%1: bottom-left pixel is not the key colour").arg(n);
    if (!drift.isEmpty() && !strict)
        std::fprintf(stderr, "draft only: %s\n", qPrintable(drift.join("\n  ")));
    else if (!drift.isEmpty())
        throw std::runtime_error(("frames drifted from their required extents:\n  " + drift.join("\n  ")).toStdString());
    return f;
}

QString writeFrames(const QString& outDir, bool strict)
{
    const std::array<PixelCanvas, FrameCount> frames = drawFrames(strict);
    const QString dir = outDir + QStringLiteral("/frames");
    if (!QDir().mkpath(dir))
        return QStringLiteral("cannot create %1").arg(dir);
    for (int n = 1; n <= FrameCount; ++n) {
        const QString path = QStringLiteral("%1/Image%2.png").arg(dir).arg(n);
        QImageWriter writer(path, "png");
        if (!writer.write(frames[std::size_t(n - 1)].toImage()))
            return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    }
    return {};
}

} // namespace hakop::art
