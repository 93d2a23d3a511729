#pragma once
// One surface of ours over a whole output, whatever role puts it there
// (LayerSurface on the layer shell, FullscreenWindow elsewhere): the surface,
// its viewport and the buffers shown on it. The compositor sizes it to the
// output; a buffer goes on only after its first configure.
#include "SurfaceFit.h"

#include <QSize>

#include <functional>

struct wl_surface;
struct wp_viewport;

namespace hakop::platform::wayland {

class Connection;
class ShmBuffer;

class CoverSurface {
public:
    virtual ~CoverSurface();
    CoverSurface(const CoverSurface&) = delete;
    CoverSurface& operator=(const CoverSurface&) = delete;

    wl_surface* surface() const { return m_surface; }
    // The size the compositor gave, in surface (logical) coordinates; empty
    // until configured, and when the compositor leaves the size to us.
    QSize size() const { return m_size; }
    bool configured() const { return m_configured; }
    // The compositor took the surface away (its output went, for one).
    bool closed() const { return m_closed; }
    // The compositor (or the user through it) asks us to go; our answer is
    // the close query's. Set by the owner; may stay empty.
    std::function<void()> onCloseAsked;

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

protected:
    explicit CoverSurface(Connection& connection);
    // For the role: what its configure said, and its end.
    void configuredAs(QSize size);
    void closedByCompositor() { m_closed = true; }

private:
    wl_surface* m_surface = nullptr;
    wp_viewport* m_viewport = nullptr; // null when the compositor has no viewporter
    QSize m_size;
    bool m_configured = false;
    bool m_closed = false;
};

} // namespace hakop::platform::wayland
