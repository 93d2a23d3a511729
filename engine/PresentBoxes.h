#pragma once
// The boxes one copy each brings a changed region to the window with. Outside
// the region the window already shows the pixels, so a copy may take more
// than the region holds: rectangles close together go in one box, as long as
// it holds at most a quarter more pixels than the region has inside it. A
// figure's old and new places then take one copy rather than the bands a
// region cuts them into.
#include <QRect>
#include <QRegion>

#include <vector>

namespace hakop::x11 {

// Boxes that together cover 'changed', fills 'boxes' (emptied first, its
// storage reused from tick to tick).
void copyBoxes(const QRegion& changed, std::vector<QRect>& boxes);

} // namespace hakop::x11
