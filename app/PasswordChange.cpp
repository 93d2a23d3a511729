#include "PasswordChange.h"

#include "platform/ServiceModule.h"

namespace hakop {

void runPasswordChange(unsigned long parent, const char* moduleName)
{
    platform::ServiceModule service(moduleName);
    if (!service.loaded())
        return;
    if (auto change = reinterpret_cast<PwdChangePasswordFn>(service.entry("PwdChangePasswordA")))
        change("SCRSAVE", parent, 0, 0); // its result means nothing to us
    service.unload();
}

} // namespace hakop
