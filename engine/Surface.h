#pragma once
// The saver's persistent surface: pixels that only change by direct drawing or
// by paint passes, the pending area waiting for the next pass (an exact union
// of marked rectangles, never a bounding box) and the paint list of sprites.
#include "Canvas.h"

#include <QImage>
#include <QRegion>
#include <memory>
#include <vector>

namespace hakop {

class Sprite;

class Surface {
public:
    // Pixels in memory, starting black, with no snapshot to restore.
    explicit Surface(QSize size, QImage::Format format = QImage::Format_RGB32);
    // Draws on 'canvas' (never null), which also keeps the desktop snapshot.
    explicit Surface(std::unique_ptr<Canvas> canvas);
    // Sprites still attached are detached (not freed: their owner frees them).
    ~Surface();

    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    QSize size() const { return m_size; }
    QRect rect() const { return QRect(QPoint(0, 0), m_size); }
    // What the surface holds, as its canvas reads it back.
    QImage pixels() const { return m_canvas->read(); }
    Canvas& canvas() const { return *m_canvas; }

    // Adds r, clipped to the surface, to the pending area. Changes no pixel.
    void MarkPending(const QRect& r);
    const QRegion& pending() const { return m_pending; }
    bool hasPending() const { return !m_pending.isEmpty(); }

    // Writes picture at 'at' at once, over everything; leaves the pending area as it is.
    void drawDirect(const QImage& picture, QPoint at = {});
    // The canvas's desktop snapshot, at once, over everything; leaves the pending area as it is.
    void drawBackdrop();

    // Takes the pending area, empties it, and draws every sprite meeting it, in
    // paint-list order, clipped to its rectangle and to the area, key colour left
    // out. Returns the area that was taken (empty when there was nothing pending).
    QRegion paintPass();

    // Paint list, first attached first.
    const std::vector<Sprite*>& paintList() const { return m_paintList; }
    // The sprite taking a mouse event at p: the latest attached whose rectangle holds p.
    Sprite* spriteAt(QPoint p) const;

    // The area drawn (passes and direct drawing) since the last call, which
    // empties it: what whoever shows the surface has to show.
    QRegion takeDrawn();
    const QRegion& drawn() const { return m_drawn; }

private:
    friend class Sprite;
    void attach(Sprite* s);
    void detach(Sprite* s);

    std::unique_ptr<Canvas> m_canvas;
    QSize m_size;
    QRegion m_pending;
    QRegion m_drawn;
    std::vector<Sprite*> m_paintList;
};

} // namespace hakop
