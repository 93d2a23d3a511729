#pragma once
// The cursor's display counter, as a screen saver expects it: each hide takes
// one, each show adds one, and the cursor is visible while the count is 0 or
// more. Whoever draws the cursor listens for the moments it flips.
#include <functional>

namespace hakop {

class CursorCounter {
public:
    // Adds one (show) or takes one (hide) and returns the new count.
    static int ShowCursor(bool show);
    static int count();

    // Called with the new visibility each time the count crosses between -1 and 0.
    static void setOnVisibilityChanged(std::function<void(bool visible)> listener);

    // Back to 0 with no listener, so tests start from a known state.
    static void reset();
};

} // namespace hakop
