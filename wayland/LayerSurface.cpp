#include "LayerSurface.h"

#include "Connection.h"
#include "Protocols.h"

namespace hakop::platform::wayland {

LayerSurface::LayerSurface(Connection& connection, wl_output* output, bool keyboardExclusive)
    : CoverSurface(connection)
{
    m_layer = zwlr_layer_shell_v1_get_layer_surface(connection.layerShell(), surface(), output,
                                                    ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "hakop");
    static const zwlr_layer_surface_v1_listener listener = {
        .configure = &LayerSurface::configure,
        .closed = &LayerSurface::closedByLayerShell,
    };
    zwlr_layer_surface_v1_add_listener(m_layer, &listener, this);
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
    commit();
}

LayerSurface::~LayerSurface()
{
    if (m_layer != nullptr)
        zwlr_layer_surface_v1_destroy(m_layer);
}

void LayerSurface::configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                             std::uint32_t height)
{
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static_cast<LayerSurface*>(data)->configuredAs(QSize(int(width), int(height)));
}

void LayerSurface::closedByLayerShell(void* data, zwlr_layer_surface_v1*)
{
    static_cast<LayerSurface*>(data)->closedByCompositor();
}

} // namespace hakop::platform::wayland
