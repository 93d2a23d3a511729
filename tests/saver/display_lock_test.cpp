// One saver per Wayland display: the lock's place and its exclusion.
#include "wayland/DisplayLock.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using hakop::platform::wayland::DisplayLock;

namespace {

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
    {
        auto first = DisplayLock::take(path);
        ASSERT_NE(first, nullptr);
        EXPECT_TRUE(DisplayLock::heldElsewhere(path));
        bool unusable = true;
        EXPECT_EQ(DisplayLock::take(path, &unusable), nullptr);
        EXPECT_FALSE(unusable) << "a held lock is no broken lock";
    }
    EXPECT_FALSE(DisplayLock::heldElsewhere(path));

    // A holder killed outright leaves nothing behind.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = DisplayLock::take(path);
        ::pause();
        std::_Exit(held ? 0 : 1);
    }
    while (!DisplayLock::heldElsewhere(path))
        ::usleep(10000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(DisplayLock::take(path), nullptr);
}

TEST_F(DisplayLockTest, APlaceThatCannotHoldALockIsSaidToBeUnusable)
{
    bool unusable = false;
    EXPECT_EQ(DisplayLock::take(m_dir + "/missing/hakop-wayland-0.lock", &unusable), nullptr);
    EXPECT_TRUE(unusable);
    // A link planted under the lock's name is not followed.
    const std::string planted = m_dir + "/hakop-wayland-0.lock";
    std::filesystem::create_symlink(m_dir + "/elsewhere", planted);
    EXPECT_EQ(DisplayLock::take(planted, &unusable), nullptr);
    EXPECT_TRUE(unusable);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/elsewhere"));
}
