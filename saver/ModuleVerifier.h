#pragma once
// The platform's screen-saver password verifier, in process: a module named
// PASSWORD.CPL found through the loader's search, exporting
// int VerifyScreenSavePwd(unsigned long window). Only the lowest byte of its
// answer counts, zero meaning "stay".
#include "Verifier.h"

#include "platform/ServiceModule.h"

#include <memory>

namespace hakop {

class ModuleVerifier : public Verifier {
public:
    using VerifyScreenSavePwdFn = int (*)(unsigned long window);

    // Null when no such module is installed or it lacks the entry point: then
    // nothing guards the screen. The module stays loaded while the verifier lives.
    static std::unique_ptr<Verifier> load(const char* moduleName = "PASSWORD.CPL");
    ~ModuleVerifier() override;

    bool mayClose(unsigned long window) override;

    // The rule for the module's answer, apart so it can be checked alone.
    static bool answerAllowsClose(int answer) { return (answer & 0xff) != 0; }

private:
    ModuleVerifier(std::unique_ptr<platform::ServiceModule> module, VerifyScreenSavePwdFn verify);

    std::unique_ptr<platform::ServiceModule> m_module;
    VerifyScreenSavePwdFn m_verify;
};

} // namespace hakop
