#pragma once
// The password verifier asked in a helper process (hakop-verifier), so that
// a module that crashes, aborts, exits or throws cannot take the saver with it.
// Only a whole answer from a helper that ended normally counts; every other
// outcome is a refusal, reported once on stderr.
//
// The helper dies with the thread that started it (PR_SET_PDEATHSIG): ask from
// a thread that outlives the question, as the GUI thread does.
#include "Verifier.h"

#include <string>

namespace hakop {

class VerifierProcess : public Verifier {
public:
    // The helper installed with this program (see findHelper).
    VerifierProcess();
    // A helper at a known place; an empty path stands for "none found".
    explicit VerifierProcess(std::string helperPath);

    bool mayClose(unsigned long window) override;

    // The helper for a program in 'executableDir': beside the executable,
    // else where the package installs it. Never the search path or the
    // current directory. Empty when there is none.
    static std::string findHelper(const std::string& executableDir);
    // The folder of the running executable, empty if it cannot be read.
    static std::string executableDir();

    struct Outcome {
        bool mayClose = false;
        std::string failure; // why the verifier could not be asked; empty when it was
    };
    // The question without the report on stderr.
    Outcome ask(unsigned long window) const;

private:
    std::string m_helper;
    std::string m_lookedIn; // for the report when no helper was found
};

} // namespace hakop
