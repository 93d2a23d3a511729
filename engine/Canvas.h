#pragma once
// Where a surface's pixels live and get drawn: in our own memory
// (MemoryCanvas: tests, tools, the simulator) or on a display server that
// draws them itself. The surface and its sprites only ever talk to this.
// A canvas is made with the desktop snapshot it restores.
#include "KeyedFrame.h"

#include <QImage>
#include <QPoint>
#include <QRegion>

namespace hakop {

class Canvas {
public:
    virtual ~Canvas() = default;

    // The size of the pixels kept; they start black, or as the snapshot.
    virtual QSize size() const = 0;

    // The desktop snapshot over everything; nothing once it is released.
    virtual void drawBackdrop() = 0;
    // Lets the snapshot go: the saver is closing.
    virtual void releaseBackdrop() = 0;
    // The snapshot as RGB32; null once released. Slow: for checks.
    virtual QImage backdrop() const = 0;

    // 'picture' with its top-left corner at 'at', over everything.
    virtual void drawImage(const QImage& picture, QPoint at) = 0;
    // The part of 'frame', placed with its top-left corner at 'at', that lies
    // both in 'clip' and in 'box'; when 'keyed', its key-colour pixels are left out.
    virtual void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) = 0;

    // What the pixels hold now, as RGB32. May be slow: for checks, not for drawing.
    virtual QImage read() const = 0;

    // Makes what was drawn since the last present visible, in one trip to the
    // display: 'changed' is the union of the areas drawn (device pixels).
    virtual void present(const QRegion& changed) = 0;
};

} // namespace hakop
