#pragma once
// The outputs' pixels as they are now, cursor left out, through the
// compositor's screen copy: each into a shared-memory buffer of the format
// the compositor picks.
#include <QImage>

#include <memory>
#include <vector>

namespace hakop::platform::wayland {

class Connection;
class ShmBuffer;
struct Output;

struct Capture {
    std::unique_ptr<ShmBuffer> buffer; // null when this output could not be copied
    bool yInverted = false;
};

// Copies every output in 'outputs' at once and waits for all of them.
// Nothing when the compositor has no screen copy or the connection is lost.
std::vector<Capture> captureOutputs(Connection& connection, const std::vector<Output*>& outputs);

// A capture as an upright RGB32 picture (a copy); null when it failed.
QImage captureImage(const Capture& capture);

} // namespace hakop::platform::wayland
