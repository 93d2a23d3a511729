#pragma once
// The outputs' pixels as they are now, cursor left out, through the
// compositor's screen copy: each into a shared-memory buffer of the format
// the compositor picks, as the output's panel lies (turned or flipped when
// the output is).
#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

namespace hakop::platform::wayland {

class Connection;
class ShmBuffer;
struct Output;

struct Capture {
    std::unique_ptr<ShmBuffer> buffer; // null when this output could not be copied
    bool yInverted = false;
    std::int32_t transform = 0; // the output's wl_output_transform when it was copied
};

// Copies every output in 'outputs' at once and waits for all of them.
// Nothing when the compositor has no screen copy or the connection is lost.
std::vector<Capture> captureOutputs(Connection& connection, const std::vector<Output*>& outputs);

// A capture as the user saw it: an upright RGB32 picture of the output's
// device pixels (a copy), scaled smoothly to 'size' when that is given and
// differs. Null when it failed.
QImage captureImage(const Capture& capture, QSize size = QSize());

// Whether the capture's buffer is that picture at 'size' as it is, so that
// it can be shown without a copy.
bool captureIsUpright(const Capture& capture, QSize size);
// ... and moreover 32-bit XRGB, so that it can be drawn from as it is.
bool captureIsUprightRgb32(const Capture& capture, QSize size);

} // namespace hakop::platform::wayland
