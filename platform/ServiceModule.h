#pragma once
// A platform service living in a shared object, loaded (dlopen) by the name
// given: a file name goes through the dynamic loader's normal search, a path
// is taken as it is (for a module found and judged beforehand, the path of
// its open descriptor). Unloaded when the object goes away.
#include <string>

namespace hakop::platform {

class ServiceModule {
public:
    explicit ServiceModule(const char* fileName);
    ~ServiceModule();
    ServiceModule(const ServiceModule&) = delete;
    ServiceModule& operator=(const ServiceModule&) = delete;

    bool loaded() const { return m_handle != nullptr; }
    // The named entry point, or nullptr when it is missing (or nothing is loaded).
    void* entry(const char* name) const;
    // Unloads now (idempotent).
    void unload();

private:
    void* m_handle = nullptr;
};

} // namespace hakop::platform
