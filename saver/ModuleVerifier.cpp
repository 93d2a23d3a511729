#include "ModuleVerifier.h"

namespace hakop {

std::unique_ptr<Verifier> ModuleVerifier::load(const char* moduleName)
{
    auto module = std::make_unique<platform::ServiceModule>(moduleName);
    if (!module->loaded())
        return nullptr;
    auto verify = reinterpret_cast<VerifyScreenSavePwdFn>(module->entry("VerifyScreenSavePwd"));
    if (verify == nullptr) {
        module->unload();
        return nullptr;
    }
    return std::unique_ptr<Verifier>(new ModuleVerifier(std::move(module), verify));
}

ModuleVerifier::ModuleVerifier(std::unique_ptr<platform::ServiceModule> module, VerifyScreenSavePwdFn verify)
    : m_module(std::move(module))
    , m_verify(verify)
{
}

ModuleVerifier::~ModuleVerifier()
{
    m_verify = nullptr;
    m_module->unload();
}

bool ModuleVerifier::mayClose(unsigned long window)
{
    return answerAllowsClose(m_verify(window));
}

} // namespace hakop
