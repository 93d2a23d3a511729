#pragma once
// Attributes for posix_spawn under which a child starts with every signal at
// its default and none blocked, whatever its parent does with them: a
// program we start must not inherit our handlers' "ignore" or our masks.
#include <spawn.h>

namespace hakop::platform {

class DefaultSignalsSpawn {
public:
    DefaultSignalsSpawn();
    ~DefaultSignalsSpawn();
    DefaultSignalsSpawn(const DefaultSignalsSpawn&) = delete;
    DefaultSignalsSpawn& operator=(const DefaultSignalsSpawn&) = delete;

    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

} // namespace hakop::platform
