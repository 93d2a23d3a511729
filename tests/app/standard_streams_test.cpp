// The start-up repairs every program runs first: closed standard descriptors
// come back on /dev/null (so the next file or connection cannot take their
// number), and toolkit messages stay off stderr. Each case runs in a child
// process, because it closes the test's own descriptors.
#include "platform/StandardStreams.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace {

// Runs 'body' in a child; its return value is the child's exit code.
int inChild(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

bool isDevNull(int fd)
{
    struct stat fdStat {}, nullStat {};
    return fstat(fd, &fdStat) == 0 && stat("/dev/null", &nullStat) == 0 && fdStat.st_rdev == nullStat.st_rdev
        && S_ISCHR(fdStat.st_mode);
}

} // namespace

TEST(StandardStreams, ClosedDescriptorsComeBackOnDevNullAndOpenOnesAreKept)
{
    // All closed, each one alone, none: open() hands out the lowest free
    // number, so a hole below an open descriptor must still be filled right.
    for (const int closedMask : {0b111, 0b010, 0b100, 0b001, 0b000}) {
        EXPECT_EQ(inChild([closedMask] {
                      int pipeEnds[2];
                      if (pipe(pipeEnds) != 0)
                          return 10;
                      // Keep a marker on each open descriptor to see it survive.
                      for (int fd = 0; fd <= 2; ++fd) {
                          if (closedMask & (1 << fd))
                              close(fd);
                          else
                              dup2(pipeEnds[fd == 0 ? 0 : 1], fd);
                      }
                      const int expected = __builtin_popcount(unsigned(closedMask));
                      if (hakop::platform::repairStandardStreams() != expected)
                          return 11;
                      for (int fd = 0; fd <= 2; ++fd) {
                          const bool wasClosed = closedMask & (1 << fd);
                          if (wasClosed != isDevNull(fd))
                              return 20 + fd;
                      }
                      // The next thing opened gets a number above 2.
                      const int next = open("/dev/null", O_RDONLY);
                      if (next <= 2)
                          return 30;
                      // A second call has nothing left to do.
                      return hakop::platform::repairStandardStreams() == 0 ? 0 : 31;
                  }),
                  0)
            << "closed mask " << closedMask;
    }
}

namespace {
int observedWarnings = 0;
void countWarnings(QtMsgType type, const QString& message)
{
    if (type == QtWarningMsg && message == QLatin1String("runtime directory chatter"))
        ++observedWarnings;
}
} // namespace

TEST(StandardStreams, ToolkitMessagesReachTheObserverButNotStderr)
{
    EXPECT_EQ(inChild([] {
                  char path[] = "/tmp/hakop-stderr-XXXXXX";
                  const int file = mkstemp(path);
                  if (file < 0)
                      return 10;
                  unlink(path);
                  dup2(file, STDERR_FILENO);
                  hakop::platform::quietToolkitMessages(countWarnings);
                  qDebug("debug chatter");
                  qInfo("info chatter");
                  qWarning("runtime directory chatter");
                  qCritical("critical chatter");
                  if (observedWarnings != 1)
                      return 11;
                  return lseek(file, 0, SEEK_END) == 0 ? 0 : 12;
              }),
              0);
}

TEST(StandardStreams, AFatalToolkitMessageIsOneHakopLine)
{
    char path[] = "/tmp/hakop-stderr-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    const int code = inChild([file] {
        dup2(file, STDERR_FILENO);
        hakop::platform::quietToolkitMessages();
        qFatal("cannot go on\nat all");
        return 0;
    });
    EXPECT_NE(code, 0); // the toolkit aborts after a fatal message
    char text[256] = {};
    const ssize_t size = pread(file, text, sizeof text - 1, 0);
    close(file);
    unlink(path);
    ASSERT_GT(size, 0);
    EXPECT_STREQ(text, "hakop: cannot go on at all\n");
}
