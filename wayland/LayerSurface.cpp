#include "LayerSurface.h"

#include "Connection.h"
#include "Protocols.h"
#include "ShmBuffer.h"

namespace hakop::platform::wayland {

LayerSurface::LayerSurface(Connection& connection, wl_output* output, bool keyboardExclusive)
{
    m_surface = wl_compositor_create_surface(connection.compositor());
    m_layer = zwlr_layer_shell_v1_get_layer_surface(connection.layerShell(), m_surface, output,
                                                    ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "hakop");
    static const zwlr_layer_surface_v1_listener listener = {
        .configure = &LayerSurface::configure,
        .closed = &LayerSurface::closedByCompositor,
    };
    zwlr_layer_surface_v1_add_listener(m_layer, &listener, this);
    if (connection.viewporter() != nullptr)
        m_viewport = wp_viewporter_get_viewport(connection.viewporter(), m_surface);
    zwlr_layer_surface_v1_set_anchor(m_layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM
                                                  | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT
                                                  | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // Over panels too, which reserve space: we take the whole output.
    zwlr_layer_surface_v1_set_exclusive_zone(m_layer, -1);
    // 1 is "exclusive" in every version (a plain true in version 1).
    zwlr_layer_surface_v1_set_keyboard_interactivity(m_layer, keyboardExclusive ? 1 : 0);
    // Size 0 x 0 with all edges anchored: the output's size.
    zwlr_layer_surface_v1_set_size(m_layer, 0, 0);
    // The first commit has no buffer: it asks for the configure.
    wl_surface_commit(m_surface);
}

LayerSurface::~LayerSurface()
{
    if (m_viewport != nullptr)
        wp_viewport_destroy(m_viewport);
    if (m_layer != nullptr)
        zwlr_layer_surface_v1_destroy(m_layer);
    if (m_surface != nullptr)
        wl_surface_destroy(m_surface);
}

void LayerSurface::configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                             std::uint32_t height)
{
    auto* self = static_cast<LayerSurface*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    self->m_size = QSize(int(width), int(height));
    self->m_configured = true;
}

void LayerSurface::closedByCompositor(void* data, zwlr_layer_surface_v1*)
{
    static_cast<LayerSurface*>(data)->m_closed = true;
}

SurfaceFit LayerSurface::fitTo(QSize device, int scale) const
{
    return fitSurface(m_size, device, scale, m_viewport != nullptr);
}

void LayerSurface::show(ShmBuffer& buffer, const SurfaceFit& fit)
{
    setFit(fit);
    attach(buffer);
    damage(0, 0, buffer.size().width(), buffer.size().height());
    commit();
    buffer.setBusy();
}

void LayerSurface::setFit(const SurfaceFit& fit)
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

void LayerSurface::attach(ShmBuffer& buffer)
{
    wl_surface_attach(m_surface, buffer.buffer(), 0, 0);
}

void LayerSurface::damage(int x, int y, int width, int height)
{
    wl_surface_damage_buffer(m_surface, x, y, width, height);
}

void LayerSurface::commit()
{
    wl_surface_commit(m_surface);
}

} // namespace hakop::platform::wayland
