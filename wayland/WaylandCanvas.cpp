#include "WaylandCanvas.h"

#include "Connection.h"
#include "CoverSurface.h"
#include "ShmBuffer.h"

#include <wayland-client.h>

#include <QPainter>

#include <cstring>

namespace hakop {

namespace {

// One buffer suffices when the compositor releases what it was shown before
// our next tick (it copied the pixels); two when it holds the shown one
// until the next commit; a third covers one that holds on a little longer.
constexpr std::size_t maximumBuffers = 3;

QImage fittedBackdrop(const QImage& backdrop, QSize size)
{
    if (backdrop.size() == size && backdrop.format() == QImage::Format_RGB32)
        return backdrop;
    QImage fitted(size, QImage::Format_RGB32);
    fitted.fill(Qt::black);
    QPainter painter(&fitted);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), backdrop);
    return fitted;
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
                                                     const platform::wayland::SurfaceFit& fit, const QImage& backdrop)
{
    const QSize size = fit.buffer;
    if (size.isEmpty())
        return nullptr;
    std::unique_ptr<WaylandCanvas> canvas(new WaylandCanvas(connection, surface, fit, fittedBackdrop(backdrop, size)));
    if (!canvas->addSlot())
        return nullptr;
    canvas->m_draw.usePixels(canvas->m_slots.front().buffer->image());
    return canvas;
}

WaylandCanvas::WaylandCanvas(platform::wayland::Connection& connection, platform::wayland::CoverSurface& surface,
                             const platform::wayland::SurfaceFit& fit, QImage backdrop)
    : m_connection(connection)
    , m_surface(surface)
    , m_fit(fit)
    , m_queue(wl_display_create_queue(connection.display()))
    , m_draw(std::move(backdrop))
{
}

WaylandCanvas::~WaylandCanvas()
{
    // The drawing target goes before the memory it points into.
    m_draw.usePixels(QImage());
    m_slots.clear();
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
    Slot& current = m_slots[m_current];
    m_surface.attach(*current.buffer);
    if (!m_shown) {
        m_surface.setFit(m_fit);
        m_surface.damage(0, 0, whole.width(), whole.height());
    } else {
        for (const QRect& r : changed.intersected(whole))
            m_surface.damage(r.x(), r.y(), r.width(), r.height());
    }
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

void WaylandCanvas::makeDrawable()
{
    if (m_drawable)
        return;
    m_drawable = true;
    const std::size_t next = nextSlot(m_current);
    if (next == m_current)
        return; // released, or no other buffer to be had: drawing goes on in this one (see nextSlot)
    m_current = next;
    m_draw.usePixels(m_slots[m_current].buffer->image());
}

std::size_t WaylandCanvas::nextSlot(std::size_t from)
{
    wl_display* display = m_connection.display();
    wl_display_dispatch_queue_pending(display, m_queue);
    // The buffer just shown already holds the whole picture.
    if (!m_slots[from].buffer->busy())
        return from;
    auto released = [&]() -> std::size_t {
        for (std::size_t i = 0; i < m_slots.size(); ++i)
            if (i != from && !m_slots[i].buffer->busy())
                return i;
        return m_slots.size();
    };
    std::size_t next = released();
    if (next == m_slots.size() && m_slots.size() < maximumBuffers && addSlot())
        next = m_slots.size() - 1;
    // All held: wait for the compositor to let one go. Only releases are
    // dispatched meanwhile; a lost connection ends the wait.
    while (next == m_slots.size()) {
        if (wl_display_roundtrip_queue(display, m_queue) < 0)
            return from;
        next = released();
    }
    const QImage source = m_slots[from].buffer->image();
    QImage target = m_slots[next].buffer->image();
    copyRegion(source, target, m_slots[next].stale);
    m_slots[next].stale = QRegion();
    return next;
}

} // namespace hakop
