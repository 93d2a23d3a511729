#include "SpawnAttributes.h"

#include <csignal>

namespace hakop::platform {

DefaultSignalsSpawn::DefaultSignalsSpawn()
{
    posix_spawnattr_init(&m_attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&m_attributes, &all);
    posix_spawnattr_setsigmask(&m_attributes, &none);
    posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

DefaultSignalsSpawn::~DefaultSignalsSpawn()
{
    posix_spawnattr_destroy(&m_attributes);
}

} // namespace hakop::platform
