#pragma once
// How a surface covering a whole output is filled so that its buffer's
// pixels are the output's device pixels, upright. The surface is sized in
// logical pixels; an integer output scale makes the buffer that many times
// larger. A fractional scale (the output says the next integer up) has no
// integer buffer scale that fits: the buffer is then the output's own size,
// scaled by the compositor to the surface through a viewport, which maps it
// pixel for pixel onto the output again.
#include <QSize>

namespace hakop::platform::wayland {

struct SurfaceFit {
    QSize logical; // the surface's size, as configured
    QSize buffer; // the pixels drawn and shown
    int scale = 1; // the buffer scale the surface is given
    bool viewport = false; // the buffer is scaled to 'logical' by the compositor

    // Buffer pixels per surface pixel.
    double pointScale() const;
    bool operator==(const SurfaceFit&) const = default;
};

// The fit of a surface of 'logical' size on an output 'device' pixels large
// (upright; empty when unknown) whose integer scale is 'scale'; 'viewporter':
// whether the compositor can scale a buffer to a surface.
SurfaceFit fitSurface(QSize logical, QSize device, int scale, bool viewporter);

} // namespace hakop::platform::wayland
