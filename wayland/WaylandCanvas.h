#pragma once
// The engine's surface on a Wayland overlay surface: the pixels live in
// memory shared with the compositor (wl_shm), drawn upright in the output's
// device pixels (see SurfaceFit), which the compositor turns as the output is. present() damages only what changed and
// commits; the next drawing goes to a buffer the compositor has released,
// brought up to date first, so a buffer is never written while it is shown.
// That buffer is chosen when drawing starts, not at the commit: by then the
// compositor has usually let the one just shown go (it has its own copy),
// and drawing goes on in it with nothing to bring up to date.
#include "SurfaceFit.h"
#include "engine/Canvas.h"
#include "engine/MemoryCanvas.h"

#include <QRegion>

#include <memory>
#include <vector>

struct wl_event_queue;

namespace hakop::platform::wayland {
class Connection;
class CoverSurface;
class ShmBuffer;
} // namespace hakop::platform::wayland

namespace hakop {

class WaylandCanvas : public Canvas {
public:
    // A canvas of fit.buffer's size shown on 'surface' as 'fit' says, with
    // 'backdrop' as the snapshot (drawn at the top-left corner; the rest is
    // black). Null when the shared memory cannot be had.
    static std::unique_ptr<WaylandCanvas> create(platform::wayland::Connection& connection,
                                                 platform::wayland::CoverSurface& surface,
                                                 const platform::wayland::SurfaceFit& fit, const QImage& backdrop);
    ~WaylandCanvas() override;
    WaylandCanvas(const WaylandCanvas&) = delete;
    WaylandCanvas& operator=(const WaylandCanvas&) = delete;

    QSize size() const override { return m_draw.size(); }
    void drawBackdrop() override
    {
        makeDrawable();
        m_draw.drawBackdrop();
    }
    void releaseBackdrop() override { m_draw.releaseBackdrop(); }
    QImage backdrop() const override { return m_draw.backdrop(); }
    void drawImage(const QImage& picture, QPoint at) override
    {
        makeDrawable();
        m_draw.drawImage(picture, at);
    }
    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override
    {
        makeDrawable();
        m_draw.drawFrame(frame, at, keyed, clip, box);
    }
    // A copy: the pixels themselves belong to the compositor once presented.
    QImage read() const override;
    void present(const QRegion& changed) override;

    // Follows the surface to a new fit (its output was resized): the buffers
    // are made anew at that size, holding the picture so far at the top-left
    // corner and black elsewhere, and shown at once. The scene keeps its own
    // size. False when no memory could be had for them: the old buffers stay.
    bool refit(const platform::wayland::SurfaceFit& fit);

    // How many shared buffers the canvas holds now (one or two in a steady run).
    std::size_t bufferCount() const { return m_slots.size(); }

private:
    struct Slot {
        std::unique_ptr<platform::wayland::ShmBuffer> buffer;
        QRegion stale; // changed since this buffer last held the picture
    };
    WaylandCanvas(platform::wayland::Connection& connection, platform::wayland::CoverSurface& surface,
                  const platform::wayland::SurfaceFit& fit, QImage backdrop);
    std::unique_ptr<platform::wayland::ShmBuffer> makeBuffer(QSize size);
    bool addSlot();
    // Points the drawing at a buffer the compositor does not hold, once per
    // present: the first drawing after it waits here if it must.
    void makeDrawable();
    // The slot drawing goes to next: 'from' itself once released, else
    // another released one, brought up to date from 'from'.
    std::size_t nextSlot(std::size_t from);

    platform::wayland::Connection& m_connection;
    platform::wayland::CoverSurface& m_surface;
    platform::wayland::SurfaceFit m_fit;
    // Buffer releases come on a queue of their own, so waiting for one
    // dispatches nothing else (no input handler runs inside a tick).
    wl_event_queue* m_queue = nullptr;
    MemoryCanvas m_draw;
    std::vector<Slot> m_slots;
    std::size_t m_current = 0;
    bool m_shown = false;
    bool m_drawable = true; // m_current may be drawn into
};

} // namespace hakop
