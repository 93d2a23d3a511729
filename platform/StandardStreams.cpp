#include "StandardStreams.h"

#include "Log.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hakop::platform {

int repairStandardStreams()
{
    int reopened = 0;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() returns the lowest free descriptor, which is this one as
        // long as the ones below it are open (they are, lowest first).
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0)
            continue; // nothing better to do; the program still runs
        if (opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
        ++reopened;
    }
    return reopened;
}

namespace {

void brokenPipe(int)
{
}

} // namespace

void ignoreBrokenPipes()
{
    struct sigaction action {};
    action.sa_handler = brokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &action, nullptr);
}

namespace {

ToolkitMessageObserver messageObserver = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (messageObserver != nullptr)
        messageObserver(type, message);
    if (type != QtFatalMsg)
        return;
    const QByteArray line = message.toLocal8Bit().replace('\n', ' ');
    logLine(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
}

} // namespace

void quietToolkitMessages(ToolkitMessageObserver observer)
{
    messageObserver = observer;
    qInstallMessageHandler(quietHandler);
}

ToolkitArguments::ToolkitArguments(const char* programName, bool wayland)
{
    if (wayland)
        std::memcpy(m_platform, "wayland", sizeof m_platform);
    // The toolkit only reads argv; the cast is its signature's, not a write.
    m_argv[0] = programName != nullptr && *programName != '\0' ? const_cast<char*>(programName) : m_fallbackName;
    m_argv[1] = m_platformOption;
    m_argv[2] = m_platform;
    m_argv[3] = nullptr;
}

} // namespace hakop::platform
