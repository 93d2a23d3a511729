// One saver per Wayland display: the lock's place and its exclusion.
#include "wayland/DisplayLock.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <functional>

#include <cstdlib>
#include <filesystem>
#include <string>

using hakop::platform::wayland::DisplayLock;

namespace {

constexpr uid_t nobody = 65534;

// Two savers on one display: the first runs, the second finds it running,
// and once the first ends the next one runs. 'troubled': the first says
// what is wrong with the lock.
::testing::AssertionResult exactlyOneSaver(const std::string& path, bool troubled)
{
    {
        auto first = DisplayLock::take(path);
        if (!first.lock)
            return ::testing::AssertionFailure() << "the first saver may not run: " << first.problem;
        if (first.problem.empty() == troubled)
            return ::testing::AssertionFailure() << "said about the lock: '" << first.problem << "'";
        if (!DisplayLock::heldElsewhere(path))
            return ::testing::AssertionFailure() << "the running saver is not seen";
        auto second = DisplayLock::take(path);
        if (second.lock || !second.heldElsewhere)
            return ::testing::AssertionFailure() << "a second saver may run: " << second.problem;
    }
    if (DisplayLock::heldElsewhere(path))
        return ::testing::AssertionFailure() << "held after the saver ended";
    if (!DisplayLock::take(path).lock)
        return ::testing::AssertionFailure() << "no saver may run after the first ended";
    return ::testing::AssertionSuccess();
}

// Runs 'body' in a child process as user 'uid'; its result is the child's.
bool asUser(uid_t uid, const std::function<bool()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        std::_Exit(::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0 && body() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class DisplayLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hakop-lock-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

} // namespace

TEST(DisplayLockPath, EveryNameOfOneDisplayFindsTheSameFile)
{
    EXPECT_EQ(DisplayLock::pathFor("wayland-1", "/run/user/1000"), "/run/user/1000/hakop-wayland-1.lock");
    EXPECT_EQ(DisplayLock::pathFor("/run/user/1000/wayland-1", ""), "/run/user/1000/hakop-wayland-1.lock");
    EXPECT_EQ(DisplayLock::pathFor("", "/run/user/1000"), "/run/user/1000/hakop-wayland-0.lock");
    // A relative name with no runtime folder names no place.
    EXPECT_EQ(DisplayLock::pathFor("wayland-1", ""), "");
}

TEST_F(DisplayLockTest, OneHolderAtATimeAndTheKernelLetsGoWithTheProcess)
{
    const std::string path = m_dir + "/hakop-wayland-9.lock";
    EXPECT_TRUE(exactlyOneSaver(path, /*troubled=*/false));

    // A holder killed outright leaves nothing behind.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = DisplayLock::take(path);
        ::pause();
        std::_Exit(held.lock ? 0 : 1);
    }
    while (!DisplayLock::heldElsewhere(path))
        ::usleep(10000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(DisplayLock::take(path).lock, nullptr);
}

// Whatever is planted where the lock file goes, one saver runs, and only one.
TEST_F(DisplayLockTest, APlantedOrUnwritablePlaceStillAllowsExactlyOneSaver)
{
    // A link: not followed, nothing made where it points.
    const std::string linked = m_dir + "/hakop-wayland-1.lock";
    std::filesystem::create_symlink(m_dir + "/elsewhere", linked);
    EXPECT_TRUE(exactlyOneSaver(linked, /*troubled=*/true)) << "a link";
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/elsewhere"));

    const std::string folder = m_dir + "/hakop-wayland-2.lock";
    std::filesystem::create_directory(folder);
    EXPECT_TRUE(exactlyOneSaver(folder, /*troubled=*/true)) << "a folder";

    EXPECT_TRUE(exactlyOneSaver(m_dir + "/missing/hakop-wayland-3.lock", /*troubled=*/true)) << "no folder";
    EXPECT_TRUE(exactlyOneSaver("", /*troubled=*/true)) << "no place at all";

    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's file and a folder root may not write need root";
    // Another user's file: whoever owns it could hold it for ever.
    const std::string foreign = m_dir + "/hakop-wayland-4.lock";
    ASSERT_NE(DisplayLock::take(foreign).lock, nullptr);
    ASSERT_EQ(::chown(foreign.c_str(), nobody, nobody), 0);
    EXPECT_TRUE(exactlyOneSaver(foreign, /*troubled=*/true)) << "another user's file";

    // A read-only folder, for a user who is not root (root may write anywhere).
    ASSERT_EQ(::chmod(m_dir.c_str(), 0555), 0);
    EXPECT_TRUE(asUser(nobody, [&] { return bool(exactlyOneSaver(m_dir + "/hakop-wayland-5.lock", true)); }))
        << "a read-only folder";
    ::chmod(m_dir.c_str(), 0700);
}

// The abstract name taken first by another user (who may bind any name):
// the lock file alone keeps one saver, and with that file planted too the
// saver does not run at all rather than run unguarded.
TEST_F(DisplayLockTest, ANameAnotherUserBoundFirstIsSaidAndNeverLetsTwoRun)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "binding a name as another user needs root";
    const std::string path = m_dir + "/hakop-wayland-6.lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    ASSERT_GE(squatter, 0);
    if (squatter == 0) {
        // Our name, bound and listened on by somebody else.
        const std::string name = "hakop-saver/0/" + path;
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool bound = ::setresuid(nobody, nobody, nobody) == 0
            && ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0
            && ::listen(fd, 8) == 0;
        [[maybe_unused]] auto written = ::write(ready[1], bound ? "y" : "n", 1);
        ::pause();
        std::_Exit(0);
    }
    char answer = 'n';
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(answer, 'y') << "could not bind the name as another user";

    EXPECT_TRUE(exactlyOneSaver(path, /*troubled=*/true));
    const auto guarded = DisplayLock::take(path);
    EXPECT_NE(guarded.problem.find("bound by user 65534"), std::string::npos) << guarded.problem;

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    const auto unguarded = DisplayLock::take(path);
    EXPECT_EQ(unguarded.lock, nullptr);
    EXPECT_FALSE(unguarded.heldElsewhere);
    EXPECT_NE(unguarded.problem.find("cannot keep to one saver per display"), std::string::npos) << unguarded.problem;

    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
}
