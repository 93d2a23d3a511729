#pragma once
// One surface of ours on an output's overlay layer: above every window and
// panel, anchored to all four edges, reserving nothing (exclusive zone -1),
// optionally holding the keyboard exclusively. The compositor sizes it to
// the output; a buffer goes on only after its first configure.
#include <QSize>

#include <cstdint>

struct wl_output;
struct wl_surface;
struct zwlr_layer_surface_v1;

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

    // Shows 'buffer' whole at 'scale' device pixels per surface pixel.
    void show(ShmBuffer& buffer, int scale);
    // Marks 'rect' (buffer pixels) of the attached buffer changed; the
    // commit makes it visible.
    void damage(int x, int y, int width, int height);
    void attach(ShmBuffer& buffer);
    void setScale(int scale);
    void commit();

private:
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                          std::uint32_t height);
    static void closedByCompositor(void* data, zwlr_layer_surface_v1* layer);

    wl_surface* m_surface = nullptr;
    zwlr_layer_surface_v1* m_layer = nullptr;
    QSize m_size;
    bool m_configured = false;
    bool m_closed = false;
};

} // namespace hakop::platform::wayland
