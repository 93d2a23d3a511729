#pragma once
// Where each output lies on the desktop, and the outputs' pictures cut out of
// one picture of the whole desktop (as the desktop portal's screenshot comes).
#include <QImage>
#include <QRect>
#include <QSize>

#include <chrono>
#include <vector>

namespace hakop::platform::wayland {

class Connection;
struct Output;

struct OutputPlace {
    QRect logical; // on the desktop, in the compositor's layout coordinates
    QSize device; // the output's device pixels as the user sees them
};

// The place of each of 'outputs', in their order, from the compositor's
// xdg-output; a lone output without it lies at the origin. Empty when the
// places cannot be learnt by 'deadline' or the connection is lost.
std::vector<OutputPlace> outputPlaces(Connection& connection, const std::vector<Output*>& outputs,
                                      std::chrono::steady_clock::time_point deadline);

// Each place's part of 'desktop', a picture of the places' bounding box at
// any one scale, brought to that place's device size. All null when the
// picture's shape is not the layout's (another desktop, another layout).
std::vector<QImage> cutOutputs(const QImage& desktop, const std::vector<OutputPlace>& places);

} // namespace hakop::platform::wayland
