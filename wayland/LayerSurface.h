#pragma once
// One surface of ours on an output's overlay layer: above every window and
// panel, anchored to all four edges, reserving nothing (exclusive zone -1),
// optionally holding the keyboard exclusively. The compositor sizes it to
// the output; a buffer goes on only after its first configure.
#include "SurfaceFit.h"

#include <QSize>

#include <cstdint>

struct wl_output;
struct wl_surface;
struct zwlr_layer_surface_v1;
struct wp_viewport;

namespace hakop::platform::wayland {

class Connection;
class ShmBuffer;

class LayerSurface {
public:
    LayerSurface(Connection& connection, wl_output* output, bool keyboardExclusive);
    ~LayerSurface();
    LayerSurface(const LayerSurface&) = delete;
    LayerSurface& operator=(const LayerSurface&) = delete;

    wl_surface* surface() const { return m_surface; }
    // The size the compositor gave, in surface (logical) coordinates; empty until configured.
    QSize size() const { return m_size; }
    bool configured() const { return m_configured; }
    // The compositor took the surface away (its output went, for one).
    bool closed() const { return m_closed; }

    // How a buffer fills this surface on an output 'device' pixels large
    // (upright; empty when unknown) of integer scale 'scale'.
    SurfaceFit fitTo(QSize device, int scale) const;

    // Shows 'buffer' (of fit.buffer's size) whole, as 'fit' says.
    void show(ShmBuffer& buffer, const SurfaceFit& fit);
    // Marks 'rect' (buffer pixels) of the attached buffer changed; the
    // commit makes it visible.
    void damage(int x, int y, int width, int height);
    void attach(ShmBuffer& buffer);
    // The buffer scale and viewport of 'fit', for the next commit.
    void setFit(const SurfaceFit& fit);
    void commit();

private:
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                          std::uint32_t height);
    static void closedByCompositor(void* data, zwlr_layer_surface_v1* layer);

    wl_surface* m_surface = nullptr;
    zwlr_layer_surface_v1* m_layer = nullptr;
    wp_viewport* m_viewport = nullptr; // null when the compositor has no viewporter
    QSize m_size;
    bool m_configured = false;
    bool m_closed = false;
};

} // namespace hakop::platform::wayland
