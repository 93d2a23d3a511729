#include "PresentBoxes.h"

#include <algorithm>

namespace hakop {

namespace {

// Edges kept exclusive, the arithmetic inline: this runs every tick for
// every rectangle a region has, and QRect's operators are calls into Qt.
struct Box {
    int left, top, right, bottom;
    long long pixels; // of the region inside the box
};

long long areaOf(int left, int top, int right, int bottom)
{
    return (long long)(right - left) * (bottom - top);
}

// Whether a and b go in one box, which is then 'joined'.
bool join(const Box& a, const Box& b, Box& joined)
{
    joined = {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom), a.pixels + b.pixels};
    return areaOf(joined.left, joined.top, joined.right, joined.bottom) * 4 <= joined.pixels * 5;
}

} // namespace

void presentBoxes(const QRegion& changed, std::vector<QRect>& out)
{
    // A region's rectangles never overlap, so the pixels of those joined
    // add up. Each new rectangle takes in every box it goes with, and the
    // grown box is offered to the others again.
    std::vector<Box> boxes;
    boxes.reserve(std::size_t(changed.rectCount()));
    for (const QRect& r : changed) {
        Box box{r.left(), r.top(), r.left() + r.width(), r.top() + r.height(), 0};
        box.pixels = areaOf(box.left, box.top, box.right, box.bottom);
        for (std::size_t i = 0; i < boxes.size();) {
            Box joined{};
            if (join(boxes[i], box, joined)) {
                box = joined;
                boxes[i] = boxes.back();
                boxes.pop_back();
                i = 0;
            } else {
                ++i;
            }
        }
        boxes.push_back(box);
    }
    out.clear();
    for (const Box& b : boxes)
        out.emplace_back(b.left, b.top, b.right - b.left, b.bottom - b.top);
}

} // namespace hakop
