#include "PasswordChange.h"

#include "verifier/ModuleSearch.h"
#include "platform/Log.h"
#include "platform/ServiceModule.h"

#include <unistd.h>

#include <string>

namespace hakop {

void runPasswordChange(unsigned long parent, const char* moduleName)
{
    // Found, judged and opened as the verifier's module is: a module anyone
    // else could have put in its place would run here as the user.
    using verifier::ModuleLookup;
    const ModuleLookup lookup = verifier::findModule(moduleName, verifier::loaderPlaces(), geteuid());
    const std::string named = std::string(moduleName) + " at " + lookup.path;
    switch (lookup.outcome) {
    case ModuleLookup::Outcome::NotFound: return;
    case ModuleLookup::Outcome::Unusable:
        logLine(named + " cannot be used, so the password is not changed: " + lookup.why);
        return;
    case ModuleLookup::Outcome::Untrusted:
        logLine(named + " is not trusted, so the password is not changed: " + lookup.why);
        return;
    case ModuleLookup::Outcome::Found: break;
    }

    // Loaded from the file that was judged, which stays open until it is unloaded.
    platform::ServiceModule service(verifier::loaderPath(lookup.file).c_str());
    if (!service.loaded())
        return;
    if (auto change = reinterpret_cast<PwdChangePasswordFn>(service.entry("PwdChangePasswordA")))
        change("SCRSAVE", parent, 0, 0); // its result means nothing to us
    service.unload();
}

} // namespace hakop
