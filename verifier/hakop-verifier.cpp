// hakop-verifier: asks the password verifier module (PASSWORD.CPL) whether the
// saver may close, in a process of its own. Whatever the module does here -
// crash, abort, exit, throw, hang - the saver only sees an answer or none.
#include "VerifierAnswer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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

// Writes the answer and ends at once: the module's destructors and atexit
// handlers never run, so nothing it does on the way out can spoil the answer.
[[noreturn]] void answer(const std::string& line)
{
    struct stat now {};
    if (fstat(answerDescriptor, &now) != 0 || now.st_dev != channel.st_dev || now.st_ino != channel.st_ino)
        _exit(exitNoChannel);
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(answerDescriptor, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(exitNoChannel);
        done += static_cast<std::size_t>(n);
    }
    _exit(0);
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
}

// dlopen's message when the loader's search found no file of that name at
// all; any other failure means a file was found and is not a usable module.
bool notFound(const char* error)
{
    const std::string expected = std::string(moduleName) + ": cannot open shared object file: No such file or directory";
    return error != nullptr && expected == error;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long long window = 0;
    unsigned long long saver = 0;
    if (argc != 3 || !parseNumber(argv[1], window) || !parseNumber(argv[2], saver) || saver == 0)
        return exitUsage;

    // Ends with the saver. Set after the fork, so the saver may already have
    // gone: then we were handed to another parent and must not go on.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || static_cast<unsigned long long>(getppid()) != saver)
        _exit(exitOrphaned);

    startClean();
    if (fstat(answerDescriptor, &channel) != 0 || !S_ISFIFO(channel.st_mode))
        _exit(exitNoChannel);
    // Whatever the module starts must not hold the saver waiting.
    fcntl(answerDescriptor, F_SETFD, FD_CLOEXEC);

    // The loader's normal search for exactly this file name (LD_LIBRARY_PATH,
    // the ld.so cache, the default folders). Its constructors run here.
    void* module = dlopen(moduleName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = dlerror();
        if (notFound(error))
            answer("none");
        answer(std::string("refused ") + moduleName + " cannot be loaded: " + (error != nullptr ? error : "unknown error"));
    }
    auto verify = reinterpret_cast<VerifyScreenSavePwdFn>(dlsym(module, "VerifyScreenSavePwd"));
    if (verify == nullptr)
        answer("none");

    int result = 0;
    try {
        result = verify(static_cast<unsigned long>(window));
    } catch (const std::exception& failure) {
        answer(std::string("refused VerifyScreenSavePwd threw: ") + failure.what());
    } catch (...) {
        answer("refused VerifyScreenSavePwd threw an exception");
    }
    answer("answer " + std::to_string(result));
}
