#include "ForegroundBox.h"

namespace hakop::platform {

namespace {

OverlayKeeper keeper;
int open = 0;

} // namespace

void setOverlayKeeper(OverlayKeeper newKeeper)
{
    keeper = std::move(newKeeper);
}

bool overlayKeeperSet()
{
    return static_cast<bool>(keeper);
}

OverlayScope::OverlayScope()
{
    if (open++ == 0 && keeper)
        keeper(true);
}

OverlayScope::~OverlayScope()
{
    // A copy: the keeper may be replaced while it runs.
    if (--open == 0 && keeper) {
        const OverlayKeeper current = keeper;
        current(false);
    }
}

} // namespace hakop::platform
