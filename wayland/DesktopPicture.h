#pragma once
// The frozen picture of every output, taken before anything of ours is
// shown, from the first source this desktop offers. Each source fills the
// same per-output captures; an output no source could copy gets an empty
// capture, and the saver shows a plain backdrop there.
#include "ScreenCopy.h"

#include <vector>

namespace hakop::platform::wayland {

class Connection;
struct Output;

// One capture for each of 'outputs', in their order. When no source answers,
// says once, in one line, why the plain backdrop stands in. Empty only when
// the connection was lost.
std::vector<Capture> captureDesktop(Connection& connection, const std::vector<Output*>& outputs);

// A capture as an upright picture of 'device' pixels, or the plain backdrop
// where the capture has none. Its memory is let go: the picture is a copy.
QImage frozenPicture(Capture& capture, QSize device);

} // namespace hakop::platform::wayland
