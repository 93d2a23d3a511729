#pragma once
// A cover on an output's overlay layer (the layer shell): above every window
// and panel, anchored to all four edges, reserving nothing (exclusive zone
// -1), optionally holding the keyboard exclusively.
#include "CoverSurface.h"

#include <cstdint>

struct wl_output;
struct zwlr_layer_surface_v1;

namespace hakop::platform::wayland {

class LayerSurface : public CoverSurface {
public:
    LayerSurface(Connection& connection, wl_output* output, bool keyboardExclusive);
    ~LayerSurface() override;

private:
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                          std::uint32_t height);
    static void closedByLayerShell(void* data, zwlr_layer_surface_v1* layer);

    zwlr_layer_surface_v1* m_layer = nullptr;
};

} // namespace hakop::platform::wayland
