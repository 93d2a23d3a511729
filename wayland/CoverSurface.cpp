#include "CoverSurface.h"

#include "Connection.h"
#include "Protocols.h"
#include "ShmBuffer.h"

namespace hakop::platform::wayland {

CoverSurface::CoverSurface(Connection& connection)
{
    m_surface = wl_compositor_create_surface(connection.compositor());
    if (connection.viewporter() != nullptr)
        m_viewport = wp_viewporter_get_viewport(connection.viewporter(), m_surface);
}

CoverSurface::~CoverSurface()
{
    if (m_viewport != nullptr)
        wp_viewport_destroy(m_viewport);
    if (m_surface != nullptr)
        wl_surface_destroy(m_surface);
}

void CoverSurface::configuredAs(QSize size)
{
    m_size = size;
    m_configured = true;
}

SurfaceFit CoverSurface::fitTo(QSize device, int scale) const
{
    // A size left to us: the output's, in its logical pixels.
    QSize logical = m_size;
    if (logical.isEmpty() && !device.isEmpty())
        logical = QSize((device.width() + scale - 1) / scale, (device.height() + scale - 1) / scale);
    return fitSurface(logical, device, scale, m_viewport != nullptr);
}

void CoverSurface::show(ShmBuffer& buffer, const SurfaceFit& fit)
{
    setFit(fit);
    attach(buffer);
    damage(0, 0, buffer.size().width(), buffer.size().height());
    commit();
    buffer.setBusy();
}

void CoverSurface::setFit(const SurfaceFit& fit)
{
    wl_surface_set_buffer_scale(m_surface, fit.scale);
    if (m_viewport == nullptr)
        return;
    // -1 x -1: no destination, the buffer's own size over its scale.
    if (fit.viewport)
        wp_viewport_set_destination(m_viewport, fit.logical.width(), fit.logical.height());
    else
        wp_viewport_set_destination(m_viewport, -1, -1);
}

void CoverSurface::attach(ShmBuffer& buffer)
{
    wl_surface_attach(m_surface, buffer.buffer(), 0, 0);
}

void CoverSurface::damage(int x, int y, int width, int height)
{
    wl_surface_damage_buffer(m_surface, x, y, width, height);
}

void CoverSurface::commit()
{
    wl_surface_commit(m_surface);
}

} // namespace hakop::platform::wayland
