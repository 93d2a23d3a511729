#pragma once
// The boxes a changed region is shown with: one copy each on X11, one damage
// rectangle each on Wayland. Outside the region the screen already shows the
// pixels, so a box may take more than the region holds: rectangles close
// together go in one box, as long as it holds at most a quarter more pixels
// than the region has inside it. A figure's old and new places then take one
// box rather than the bands a region cuts them into.
#include <QRect>
#include <QRegion>

#include <vector>

namespace hakop {

// Boxes that together cover 'changed', fills 'boxes' (emptied first, its
// storage reused from tick to tick).
void presentBoxes(const QRegion& changed, std::vector<QRect>& boxes);

} // namespace hakop
