#include "ServiceModule.h"

#include <dlfcn.h>

namespace hakop::platform {

ServiceModule::ServiceModule(const char* fileName)
{
    // A plain file name goes through the loader's normal search
    // (LD_LIBRARY_PATH, the ld.so cache, the default directories); a path
    // does not.
    if (fileName != nullptr && *fileName != '\0')
        m_handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

ServiceModule::~ServiceModule()
{
    unload();
}

void* ServiceModule::entry(const char* name) const
{
    if (m_handle == nullptr || name == nullptr)
        return nullptr;
    return dlsym(m_handle, name);
}

void ServiceModule::unload()
{
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

} // namespace hakop::platform
