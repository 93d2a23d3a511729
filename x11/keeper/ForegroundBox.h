#pragma once
// A window shown for a moment above everything else (a failure box), and the
// one window that otherwise keeps itself on top and holds the input (the
// saver). While an overlay is up, the keeper lets it lie above and have the
// keyboard; when the last one goes, the keeper takes both back.
#include <functional>

namespace hakop::platform {

// Called with true when the first overlay opens and false when the last one
// closes. One keeper at a time; null removes it.
using OverlayKeeper = std::function<void(bool overlayShown)>;
void setOverlayKeeper(OverlayKeeper keeper);
// True while a keeper is set: an overlay must then bypass the window manager
// and stay on top, or it opens underneath.
bool overlayKeeperSet();

// Marks an overlay's lifetime. GUI thread only.
class OverlayScope {
public:
    OverlayScope();
    ~OverlayScope();
    OverlayScope(const OverlayScope&) = delete;
    OverlayScope& operator=(const OverlayScope&) = delete;
};

} // namespace hakop::platform
