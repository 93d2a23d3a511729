// hakop-verifier: asks the password verifier module (PASSWORD.CPL) whether the
// saver may close, in a process of its own. Whatever the module does here -
// crash, abort, exit, throw, hang - the saver only sees an answer or none.
// One helper serves the whole saver run: the module is loaded once, at the
// first question, and keeps whatever state it has between questions.
#include "ModuleSearch.h"
#include "SearchPath.h"
#include "VerifierAnswer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

using namespace hakop::verifier;
using VerifyScreenSavePwdFn = int (*)(unsigned long window);

constexpr const char* moduleName = "PASSWORD.CPL";

// The answer descriptor as it was when we started: a module may close it,
// and whatever it opens next may get its number.
struct stat channel {};

bool parseNumber(const char* text, unsigned long long& value)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool sameChannel()
{
    struct stat now {};
    return fstat(answerDescriptor, &now) == 0 && now.st_dev == channel.st_dev && now.st_ino == channel.st_ino;
}

void answer(const std::string& line)
{
    if (!sameChannel())
        _exit(exitNoChannel);
    if (!sendAll(answerDescriptor, line + "\n"))
        _exit(exitNoChannel);
}

// Answers and ends at once: the module's destructors and atexit handlers
// never run, so nothing it does on the way out can spoil the answer.
[[noreturn]] void lastAnswer(const std::string& line)
{
    answer(line);
    _exit(0);
}

// The next question's window id; false when the saver has closed its end.
bool nextQuestion(unsigned long long& window)
{
    std::string line;
    for (;;) {
        if (!sameChannel())
            _exit(exitNoChannel);
        char c = 0;
        const ssize_t n = read(answerDescriptor, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 && line.empty())
            return false;
        if (n <= 0)
            _exit(exitNoChannel);
        if (c == '\n')
            break;
        line += c;
        if (line.size() > 24)
            _exit(exitUsage);
    }
    if (!parseNumber(line.c_str(), window))
        _exit(exitUsage);
    return true;
}

// Standard output and error that lead nowhere any more (a pipe whose reader
// went away) would kill the module with SIGPIPE at its first message: they
// go to /dev/null instead.
void replaceDeadOutputs()
{
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        pollfd out = {fd, POLLOUT, 0};
        if (poll(&out, 1, 0) != 1 || (out.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0)
            continue;
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, fd);
            close(null);
        }
    }
}

// A clean start whatever the saver's process had: default signal handling,
// nothing blocked, and no descriptor but the standard three and the answer's.
void startClean()
{
    for (int sig = 1; sig < NSIG; ++sig)
        signal(sig, SIG_DFL); // fails harmlessly for KILL, STOP and glibc's own
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);

    const int first = answerDescriptor + 1;
    if (close_range(static_cast<unsigned>(first), ~0u, 0) != 0) {
        const long limit = sysconf(_SC_OPEN_MAX);
        for (long fd = first; fd < (limit > 0 ? limit : 1024); ++fd)
            close(static_cast<int>(fd));
    }
    replaceDeadOutputs();

    // The saver passes only absolute entries; anyone else's may hold empty
    // ones, which would mean the current directory to what the module starts.
    // One thread so far: nothing of the module has run.
    if (const char* path = std::getenv("LD_LIBRARY_PATH"))
        setenv("LD_LIBRARY_PATH", cleanLibraryPath(path).c_str(), 1); // NOLINT(concurrency-mt-unsafe)
}

// Answers "none" to this question and every one after it.
[[noreturn]] void noVerifier()
{
    unsigned long long window = 0;
    do
        answer("none");
    while (nextQuestion(window));
    _exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long long saver = 0;
    if (argc != 2 || !parseNumber(argv[1], saver) || saver == 0)
        return exitUsage;

    // Ends with the saver. Set after the fork, so the saver may already have
    // gone: then we were handed to another parent and must not go on.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || static_cast<unsigned long long>(getppid()) != saver)
        _exit(exitOrphaned);

    startClean();
    if (fstat(answerDescriptor, &channel) != 0 || !S_ISSOCK(channel.st_mode))
        _exit(exitNoChannel);
    // Whatever the module starts must not hold the saver waiting.
    fcntl(answerDescriptor, F_SETFD, FD_CLOEXEC);

    unsigned long long window = 0;
    if (!nextQuestion(window))
        _exit(0);

    // The loader's search, done here so that a module that is there but
    // cannot be read is told from none at all; then loaded from the very
    // file that was judged.
    ModuleLookup lookup = findModule(moduleName, loaderPlaces(), geteuid());
    const std::string named = std::string(moduleName) + " at " + lookup.path;
    switch (lookup.outcome) {
    case ModuleLookup::Outcome::NotFound: noVerifier();
    case ModuleLookup::Outcome::Unusable: lastAnswer("refused " + named + " cannot be used: " + lookup.why);
    case ModuleLookup::Outcome::Untrusted: lastAnswer("refused " + named + " is not trusted: " + lookup.why);
    case ModuleLookup::Outcome::Found: break;
    }

    // Its constructors run here.
    std::string error;
    void* module = lookup.load(RTLD_NOW | RTLD_LOCAL, error);
    if (module == nullptr)
        lastAnswer(std::string("refused ") + moduleName + " cannot be loaded: " + error);
    // The module has only the standard descriptors and the answer's.
    lookup.file.reset();
    auto verify = reinterpret_cast<VerifyScreenSavePwdFn>(dlsym(module, "VerifyScreenSavePwd"));
    if (verify == nullptr)
        noVerifier();

    do {
        int result = 0;
        try {
            result = verify(static_cast<unsigned long>(window));
        } catch (const std::exception& failure) {
            lastAnswer(std::string("refused VerifyScreenSavePwd threw: ") + failure.what());
        } catch (...) {
            lastAnswer("refused VerifyScreenSavePwd threw an exception");
        }
        answer("answer " + std::to_string(result));
    } while (nextQuestion(window));
    _exit(0);
}
