#pragma once
// A platform service living in a shared object loaded by file name through the
// dynamic loader's normal search (dlopen). Unloaded when the object goes away.
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
