#pragma once
// A box shown for a moment above everything else (a failure box), and the
// one window that otherwise keeps itself on top and holds the input (the
// saver). While a box is up, the keeper lets it lie above and have the
// keyboard; when the last one goes, the keeper takes both back.
#include <functional>

namespace hakop::platform {

// Called with true when the first box opens and false when the last one
// closes. One keeper at a time; null removes it.
using ForegroundBoxKeeper = std::function<void(bool boxShown)>;
void setForegroundBoxKeeper(ForegroundBoxKeeper keeper);
// True while a keeper is set: a box must then bypass the window manager and
// stay on top, or it opens underneath.
bool foregroundBoxKeeperSet();

// Marks a box's lifetime. GUI thread only.
class ForegroundBoxScope {
public:
    ForegroundBoxScope();
    ~ForegroundBoxScope();
    ForegroundBoxScope(const ForegroundBoxScope&) = delete;
    ForegroundBoxScope& operator=(const ForegroundBoxScope&) = delete;
};

} // namespace hakop::platform
