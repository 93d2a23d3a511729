#pragma once
// Password-change mode: hands the job to the platform's password-change
// service. A missing service or entry point is not an error: nothing happens.
// A module that is there but cannot be used or trusted (the rule the
// verifier's module follows) is not loaded, and one line says why.
namespace hakop {

// The service's entry point: provider name, parent window, two reserved zeros.
using PwdChangePasswordFn = int (*)(const char* provider, unsigned long parent, int, int);

// Looks for the service module as the loader would ('moduleName' with a '/'
// is a path), loads it, calls PwdChangePasswordA("SCRSAVE", parent, 0, 0),
// waits for it and unloads the module again (also when the entry is missing).
void runPasswordChange(unsigned long parent, const char* moduleName = "MPR.DLL");

} // namespace hakop
