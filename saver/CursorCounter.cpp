#include "CursorCounter.h"

#include <utility>

namespace hakop {

namespace {
int displayCount = 0;
std::function<void(bool)> onVisibilityChanged;
} // namespace

int CursorCounter::ShowCursor(bool show)
{
    const bool wasVisible = displayCount >= 0;
    displayCount += show ? 1 : -1;
    const bool isVisible = displayCount >= 0;
    if (wasVisible != isVisible && onVisibilityChanged)
        onVisibilityChanged(isVisible);
    return displayCount;
}

int CursorCounter::count()
{
    return displayCount;
}

void CursorCounter::setOnVisibilityChanged(std::function<void(bool visible)> listener)
{
    onVisibilityChanged = std::move(listener);
}

void CursorCounter::reset()
{
    displayCount = 0;
    onVisibilityChanged = nullptr;
}

} // namespace hakop
