#include "WaylandCanvas.h"

#include "Connection.h"
#include "CoverSurface.h"
#include "ShmBuffer.h"
#include "engine/PresentBoxes.h"

#include <wayland-client.h>

#include <QPainter>

#include <cstring>

namespace hakop {

namespace {

// One buffer suffices when the compositor releases what it was shown before
// our next tick (it copied the pixels); two when it holds the shown one until
// the next commit. With the snapshot's, at most three screens of memory.
constexpr std::size_t maximumBuffers = 2;

// 'picture' at the top-left corner of 'target', black elsewhere.
void paintFitted(const QImage& picture, QImage& target)
{
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (picture.size() != target.size())
        painter.fillRect(target.rect(), Qt::black);
    painter.drawImage(QPoint(0, 0), picture);
}

// The snapshot buffer's pixels as the engine reads them.
QImage cleanPicture(const platform::wayland::ShmBuffer& clean)
{
    return QImage(clean.data(), clean.size().width(), clean.size().height(), clean.stride(), QImage::Format_RGB32);
}

// Both pictures RGB32; they may differ in size.
void copyRegion(const QImage& from, QImage& to, const QRegion& region)
{
    const qsizetype fromStride = from.bytesPerLine();
    const qsizetype toStride = to.bytesPerLine();
    const uchar* source = from.constBits();
    uchar* target = to.bits();
    for (const QRect& r : region.intersected(from.rect() & to.rect())) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const qsizetype column = qsizetype(r.left()) * 4;
            std::memcpy(target + y * toStride + column, source + y * fromStride + column, std::size_t(r.width()) * 4);
        }
    }
}

} // namespace

std::unique_ptr<WaylandCanvas> WaylandCanvas::create(platform::wayland::Connection& connection,
                                                     platform::wayland::CoverSurface& surface,
                                                     const platform::wayland::SurfaceFit& fit,
                                                     std::unique_ptr<platform::wayland::ShmBuffer> clean)
{
    if (!clean || clean->size() != fit.buffer || fit.buffer.isEmpty())
        return nullptr;
    std::unique_ptr<WaylandCanvas> canvas(new WaylandCanvas(connection, surface, fit, std::move(clean)));
    // The output is covered with the snapshot as it is; the memory the
    // figures are drawn in comes after.
    surface.show(*canvas->m_clean, fit);
    canvas->m_shown = true;
    canvas->m_cleanShown = true;
    canvas->m_drawable = false;
    connection.flush();
    if (!canvas->addSlot())
        return nullptr;
    return canvas;
}

std::unique_ptr<WaylandCanvas> WaylandCanvas::create(platform::wayland::Connection& connection,
                                                     platform::wayland::CoverSurface& surface,
                                                     const platform::wayland::SurfaceFit& fit, const QImage& backdrop)
{
    auto clean = platform::wayland::ShmBuffer::create(connection.shm(), fit.buffer);
    if (!clean)
        return nullptr;
    QImage pixels = cleanPicture(*clean);
    paintFitted(backdrop, pixels);
    return create(connection, surface, fit, std::move(clean));
}

WaylandCanvas::WaylandCanvas(platform::wayland::Connection& connection, platform::wayland::CoverSurface& surface,
                             const platform::wayland::SurfaceFit& fit,
                             std::unique_ptr<platform::wayland::ShmBuffer> clean)
    : m_connection(connection)
    , m_surface(surface)
    , m_fit(fit)
    , m_queue(wl_display_create_queue(connection.display()))
    , m_clean(std::move(clean))
    // Two pictures over the one memory, neither sharing the other's data:
    // the drawing reads the snapshot until it gets a buffer of its own.
    , m_draw(cleanPicture(*m_clean), cleanPicture(*m_clean))
{
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(m_clean->buffer()), m_queue);
}

WaylandCanvas::~WaylandCanvas()
{
    // The drawing and the snapshot go before the memory they point into.
    m_draw.usePixels(QImage());
    m_draw.releaseBackdrop();
    m_slots.clear();
    m_clean.reset();
    wl_event_queue_destroy(m_queue);
}

std::unique_ptr<platform::wayland::ShmBuffer> WaylandCanvas::makeBuffer(QSize size)
{
    auto buffer = platform::wayland::ShmBuffer::create(m_connection.shm(), size);
    if (buffer)
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(buffer->buffer()), m_queue);
    return buffer;
}

bool WaylandCanvas::addSlot()
{
    auto buffer = makeBuffer(m_draw.size());
    if (!buffer)
        return false;
    // A new buffer holds nothing yet: all of it is to be brought up to date.
    m_slots.push_back({std::move(buffer), QRegion(QRect(QPoint(0, 0), m_draw.size()))});
    return true;
}

bool WaylandCanvas::refit(const platform::wayland::SurfaceFit& fit)
{
    const QSize size = fit.buffer;
    if (size.isEmpty() || fit == m_fit)
        return true;
    if (size == m_draw.size()) {
        // Only the scale or the viewport changed: the same pixels, shown anew.
        m_fit = fit;
        m_shown = false;
        present(QRegion());
        return true;
    }
    auto buffer = makeBuffer(size);
    if (!buffer)
        return false;
    // The buffer drawn in last holds the newest picture, shown or not.
    QImage pixels = buffer->image();
    pixels.fill(Qt::black);
    copyRegion(m_draw.read(), pixels, QRect(QPoint(0, 0), m_draw.size()));
    m_draw.usePixels(pixels);
    m_slots.clear();
    m_slots.push_back({std::move(buffer), QRegion()});
    m_fit = fit;
    m_current = 0;
    m_drawable = true;
    m_shown = false; // the next present shows all of it
    present(QRegion());
    return true;
}

QImage WaylandCanvas::read() const
{
    return m_draw.read().copy();
}

void WaylandCanvas::present(const QRegion& changed)
{
    const QRect whole(QPoint(0, 0), m_draw.size());
    if (m_shown && changed.isEmpty())
        return;
    makeDrawable();
    if (m_current == noSlot)
        return; // the connection was lost before anything was drawn
    Slot& current = m_slots[m_current];
    m_surface.attach(*current.buffer);
    if (!m_shown) {
        m_surface.setFit(m_fit);
        m_surface.damage(0, 0, whole.width(), whole.height());
    } else {
        presentBoxes(changed.intersected(whole).subtracted(m_asShown), m_damage);
        for (const QRect& r : m_damage)
            m_surface.damage(r.x(), r.y(), r.width(), r.height());
    }
    m_cleanShown = false;
    m_asShown = QRegion();
    m_surface.commit();
    current.buffer->setBusy();
    current.stale = QRegion();
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        if (i != m_current)
            m_slots[i].stale += m_shown ? changed : QRegion(whole);
    m_shown = true;
    m_drawable = false;
    m_connection.flush();
}

void WaylandCanvas::makeDrawable(const QRegion& overwritten)
{
    if (m_drawable)
        return;
    m_drawable = true;
    const std::size_t next = nextSlot(overwritten);
    if (next == m_current)
        return; // released, or no other buffer to be had: drawing goes on in this one (see nextSlot)
    m_current = next;
    m_draw.usePixels(m_slots[m_current].buffer->image());
}

std::size_t WaylandCanvas::nextSlot(const QRegion& overwritten)
{
    wl_display* display = m_connection.display();
    wl_display_dispatch_queue_pending(display, m_queue);
    // The buffer just shown already holds the whole picture.
    if (m_current != noSlot && !m_slots[m_current].buffer->busy())
        return m_current;
    auto released = [&]() -> std::size_t {
        for (std::size_t i = 0; i < m_slots.size(); ++i)
            if (i != m_current && !m_slots[i].buffer->busy())
                return i;
        return m_slots.size();
    };
    std::size_t next = released();
    if (next == m_slots.size() && m_slots.size() < maximumBuffers && addSlot())
        next = m_slots.size() - 1;
    // All held: wait for the compositor to let one go. Only releases are
    // dispatched meanwhile; a lost connection ends the wait. (With only the
    // snapshot shown, the first slot is never held.)
    while (next == m_slots.size()) {
        if (wl_display_roundtrip_queue(display, m_queue) < 0)
            return m_current;
        next = released();
    }
    // The pixels drawn in last hold the newest picture, shown or not.
    QImage target = m_slots[next].buffer->image();
    copyRegion(m_draw.read(), target, m_slots[next].stale.subtracted(overwritten));
    m_slots[next].stale = QRegion();
    return next;
}

} // namespace hakop
