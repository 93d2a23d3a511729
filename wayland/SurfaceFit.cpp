#include "SurfaceFit.h"

namespace hakop::platform::wayland {

double SurfaceFit::pointScale() const
{
    if (logical.width() <= 0)
        return scale;
    return double(buffer.width()) / logical.width();
}

SurfaceFit fitSurface(QSize logical, QSize device, int scale, bool viewporter)
{
    const QSize scaled = logical * scale;
    if (logical.isEmpty() || device.isEmpty() || device == scaled || !viewporter) {
        // Without a viewport a fractional scale gets the next integer up and
        // the compositor scales the buffer down: that keeps more of the
        // picture than a buffer of the surface's size that it scales up.
        return {logical, scaled, scale, false};
    }
    return {logical, device, 1, true};
}

} // namespace hakop::platform::wayland
