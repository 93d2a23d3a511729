#pragma once
// The engine's surface on a Wayland overlay surface: the pixels live in
// memory shared with the compositor (wl_shm), drawn upright in the output's
// device pixels (see SurfaceFit), which the compositor turns as the output is.
//
// The desktop snapshot is a shared buffer of its own, kept clean for a
// refused close, and it is what the first commit shows: the output is
// covered before any pixel is touched. The figures are drawn in at most two
// more buffers. present() damages only what changed and commits; the next
// drawing goes to a buffer the compositor has released, brought up to date
// first with only what changed since that buffer was last shown, so a buffer
// is never written while it is shown. That buffer is chosen when drawing
// starts, not at the commit: by then the compositor has usually let the one
// shown before go, and nothing else has to be brought up to date.
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
    // A canvas of fit.buffer's size shown on 'surface' as 'fit' says, whose
    // snapshot is 'clean' itself: an upright picture of that size, 32-bit
    // XRGB (a screen copy, say). It is shown at once, as it is. Null when
    // the shared memory for the figures cannot be had.
    static std::unique_ptr<WaylandCanvas> create(platform::wayland::Connection& connection,
                                                 platform::wayland::CoverSurface& surface,
                                                 const platform::wayland::SurfaceFit& fit,
                                                 std::unique_ptr<platform::wayland::ShmBuffer> clean);
    // The same with 'backdrop' copied into shared memory as the snapshot
    // (at the top-left corner; the rest is black).
    static std::unique_ptr<WaylandCanvas> create(platform::wayland::Connection& connection,
                                                 platform::wayland::CoverSurface& surface,
                                                 const platform::wayland::SurfaceFit& fit, const QImage& backdrop);
    ~WaylandCanvas() override;
    WaylandCanvas(const WaylandCanvas&) = delete;
    WaylandCanvas& operator=(const WaylandCanvas&) = delete;

    QSize size() const override { return m_draw.size(); }
    void drawBackdrop() override
    {
        makeDrawable(QRect(QPoint(0, 0), m_draw.size()));
        m_draw.drawBackdrop();
        if (m_cleanShown)
            m_asShown = QRect(QPoint(0, 0), m_draw.size());
    }
    void releaseBackdrop() override { m_draw.releaseBackdrop(); }
    QImage backdrop() const override { return m_draw.backdrop(); }
    void drawImage(const QImage& picture, QPoint at) override
    {
        makeDrawable(QRect(at, picture.size()));
        m_draw.drawImage(picture, at);
        m_asShown -= QRect(at, picture.size());
    }
    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override
    {
        makeDrawable();
        m_draw.drawFrame(frame, at, keyed, clip, box);
        m_asShown -= box & QRect(at, frame.size());
    }
    // A copy: the pixels themselves belong to the compositor once presented.
    QImage read() const override;
    void present(const QRegion& changed) override;

    // Follows the surface to a new fit (its output was resized): the buffers
    // are made anew at that size, holding the picture so far at the top-left
    // corner and black elsewhere, and shown at once. The scene keeps its own
    // size. False when no memory could be had for them: the old buffers stay.
    bool refit(const platform::wayland::SurfaceFit& fit);

    // How many shared buffers the figures are drawn in now (one or two; the
    // snapshot's own is not counted).
    std::size_t bufferCount() const { return m_slots.size(); }

private:
    struct Slot {
        std::unique_ptr<platform::wayland::ShmBuffer> buffer;
        QRegion stale; // changed since this buffer last held the picture
    };
    WaylandCanvas(platform::wayland::Connection& connection, platform::wayland::CoverSurface& surface,
                  const platform::wayland::SurfaceFit& fit, std::unique_ptr<platform::wayland::ShmBuffer> clean);
    std::unique_ptr<platform::wayland::ShmBuffer> makeBuffer(QSize size);
    bool addSlot();
    // Points the drawing at a buffer the compositor does not hold, once per
    // present: the first drawing after it waits here if it must. What the
    // drawing is about to cover whole, 'overwritten', is not brought up to date.
    void makeDrawable(const QRegion& overwritten = QRegion());
    // The slot drawing goes to next: the current one once released, else
    // another released one, brought up to date from the newest picture.
    std::size_t nextSlot(const QRegion& overwritten);

    platform::wayland::Connection& m_connection;
    platform::wayland::CoverSurface& m_surface;
    platform::wayland::SurfaceFit m_fit;
    // Buffer releases come on a queue of their own, so waiting for one
    // dispatches nothing else (no input handler runs inside a tick).
    wl_event_queue* m_queue = nullptr;
    // The snapshot, never drawn in (declared before the drawing that reads it).
    std::unique_ptr<platform::wayland::ShmBuffer> m_clean;
    MemoryCanvas m_draw;
    std::vector<Slot> m_slots;
    static constexpr std::size_t noSlot = std::size_t(-1);
    // The slot drawn in last; none while the snapshot alone has been shown.
    std::size_t m_current = noSlot;
    bool m_shown = false;
    // While the snapshot's own buffer is what the compositor shows: where the
    // drawing holds the snapshot untouched, which needs no showing again.
    bool m_cleanShown = false;
    QRegion m_asShown;
    bool m_drawable = true; // m_current may be drawn into
    std::vector<QRect> m_damage; // what a present damages, kept from tick to tick
};

} // namespace hakop
