#pragma once
// The password verifier asked in a helper process (hakop-verifier), so that
// a module that crashes, aborts, exits or throws cannot take the saver with it.
// One helper serves the whole run: it is started at the first question and
// again only after it has ended, so the module keeps its state between
// questions. Only a whole answer counts; every other outcome is a refusal,
// reported once on stderr. A verifier that takes long is waited for (a
// person may be typing), with one line once the patience has run out.
//
// The helper dies with the thread that started it (PR_SET_PDEATHSIG): ask from
// a thread that outlives the question, as the GUI thread does.
#include "Verifier.h"

#include <sys/types.h>

#include <chrono>
#include <string>

namespace hakop {

class VerifierProcess : public Verifier {
public:
    // The helper installed with this program (see findHelper).
    VerifierProcess();
    // A helper at a known place; an empty path stands for "none found".
    explicit VerifierProcess(std::string helperPath);
    // Ends the helper: it sees its question channel close and exits.
    ~VerifierProcess() override;
    VerifierProcess(const VerifierProcess&) = delete;
    VerifierProcess& operator=(const VerifierProcess&) = delete;

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
    // The question without the report of a failure on stderr (the line
    // about a long wait is written all the same).
    Outcome ask(unsigned long window);

    // How long a question may take before the wait is worth a line.
    void setPatience(std::chrono::milliseconds patience) { m_patience = patience; }
    // The running helper's process id, or -1. For tests.
    pid_t helperPid() const { return m_pid; }

private:
    bool startHelper(std::string& failure);
    // Forgets the helper after it has ended, or kills it first.
    void dropHelper(bool kill);
    // Waits for the helper's end, killing it after a grace period; the
    // reason for a refusal.
    std::string reapHelper();

    std::string m_helper;
    std::string m_lookedIn; // for the report when no helper was found
    std::chrono::milliseconds m_patience = std::chrono::seconds(60);
    pid_t m_pid = -1;
    int m_channel = -1; // our end of the helper's socket
    int m_ended = -1;   // a pidfd: readable once the helper has ended
};

} // namespace hakop
