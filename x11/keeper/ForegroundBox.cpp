#include "ForegroundBox.h"

namespace hakop::platform {

namespace {

ForegroundBoxKeeper keeper;
int open = 0;

} // namespace

void setForegroundBoxKeeper(ForegroundBoxKeeper newKeeper)
{
    keeper = std::move(newKeeper);
}

bool foregroundBoxKeeperSet()
{
    return static_cast<bool>(keeper);
}

ForegroundBoxScope::ForegroundBoxScope()
{
    if (open++ == 0 && keeper)
        keeper(true);
}

ForegroundBoxScope::~ForegroundBoxScope()
{
    // A copy: the keeper may be replaced while it runs.
    if (--open == 0 && keeper) {
        const ForegroundBoxKeeper current = keeper;
        current(false);
    }
}

} // namespace hakop::platform
