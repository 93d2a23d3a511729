#pragma once
// Somewhere else that keeps a surface's pixels and draws them itself, such as
// a display server: the surface sends it drawing orders instead of touching
// pixels, and only reads them back when asked what it holds.
#include <QImage>
#include <QPoint>
#include <QRegion>

namespace hakop {

class PixelServer {
public:
    virtual ~PixelServer() = default;

    // The size of the pixels kept; they start black.
    virtual QSize size() const = 0;
    // 'picture' with its top-left corner at 'at', over everything.
    virtual void drawImage(const QImage& picture, QPoint at) = 0;
    // The part of 'picture', placed with its top-left corner at 'at', that
    // lies both in 'clip' and in 'box'; when 'keyed', the pixels of the key
    // colour (the picture's bottom-left one) are left out.
    virtual void drawPicture(const QImage& picture, QPoint at, bool keyed, const QRegion& clip, const QRect& box) = 0;
    // What the pixels hold now, as RGB32. Slow: for checks, not for drawing.
    virtual QImage read() const = 0;
};

} // namespace hakop
