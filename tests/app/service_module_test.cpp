// Service modules loaded by bare file name, with the stand-ins on
// LD_LIBRARY_PATH (record/ for MPR.DLL, accept/ for PASSWORD.CPL); the other
// stand-ins are reached by path.
#include "app/PasswordChange.h"
#include "platform/ServiceModule.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using hakop::platform::ServiceModule;

namespace {

using Verify = int (*)(unsigned long);

std::string standin(const std::string& relative)
{
    return std::string(HAKOP_STANDINS_DIR) + "/" + relative;
}

bool isLoaded(const std::string& name)
{
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

class StandinLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/hakop-standin-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_path = m_dir + "/log";
        setenv("HAKOP_STANDIN_LOG", m_path.c_str(), 1);
        unsetenv("DISPLAY"); // the recorder then notes "no-display" instead of asking X
    }
    void TearDown() override
    {
        unsetenv("HAKOP_STANDIN_LOG");
        std::remove(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::ifstream in(m_path);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }
    std::string m_dir;
    std::string m_path;
};

} // namespace

TEST_F(StandinLog, VerifierAnswersAreTheStandinsOwn)
{
    struct Case {
        const char* module;
        int result;
    };
    for (const Case& c : {Case{"PASSWORD.CPL", 1}, Case{"refuse/PASSWORD.CPL", 0},
                          Case{"refuse256/PASSWORD.CPL", 0x100}}) {
        const std::string name = std::string(c.module).find('/') == std::string::npos ? c.module : standin(c.module);
        ServiceModule module(name.c_str());
        ASSERT_TRUE(module.loaded()) << name << ": " << dlerror();
        auto verify = reinterpret_cast<Verify>(module.entry("VerifyScreenSavePwd"));
        ASSERT_NE(verify, nullptr) << name;
        EXPECT_EQ(verify(77), c.result) << name;
    }
    EXPECT_EQ(lines(), (std::vector<std::string>{"verify 77", "verify 77", "verify 77"}));
}

TEST(ServiceModule, MissingModulesAndEntriesAreNotErrors)
{
    ServiceModule absent("HAKOP-NO-SUCH.DLL");
    EXPECT_FALSE(absent.loaded());
    EXPECT_EQ(absent.entry("PwdChangePasswordA"), nullptr);
    absent.unload();

    ServiceModule empty("");
    EXPECT_FALSE(empty.loaded());

    ServiceModule noEntry(standin("missing-entry/MPR.DLL").c_str());
    ASSERT_TRUE(noEntry.loaded());
    EXPECT_EQ(noEntry.entry("PwdChangePasswordA"), nullptr);
    EXPECT_EQ(noEntry.entry(nullptr), nullptr);
}

TEST(ServiceModule, UnloadIsIdempotentAndReleasesTheObject)
{
    ASSERT_FALSE(isLoaded("PASSWORD.CPL"));
    {
        ServiceModule module("PASSWORD.CPL");
        ASSERT_TRUE(module.loaded());
        EXPECT_TRUE(isLoaded("PASSWORD.CPL"));
        module.unload();
        EXPECT_FALSE(module.loaded());
        EXPECT_EQ(module.entry("VerifyScreenSavePwd"), nullptr);
        EXPECT_FALSE(isLoaded("PASSWORD.CPL"));
        module.unload();
    }
    {
        ServiceModule module("PASSWORD.CPL");
        EXPECT_TRUE(isLoaded("PASSWORD.CPL"));
    }
    EXPECT_FALSE(isLoaded("PASSWORD.CPL")); // the destructor unloads too
}

TEST_F(StandinLog, PasswordChangeCallsTheServiceWithFixedArgumentsAndUnloads)
{
    hakop::runPasswordChange(0x2a00001);
    EXPECT_EQ(lines(), (std::vector<std::string>{"SCRSAVE 44040193 0 0", "parent-title no-display"}));
    EXPECT_FALSE(isLoaded("MPR.DLL"));

    // No module, or a module without the entry: nothing happens, nothing stays loaded.
    hakop::runPasswordChange(1, "HAKOP-NO-SUCH.DLL");
    const std::string noEntry = standin("missing-entry/MPR.DLL");
    hakop::runPasswordChange(1, noEntry.c_str());
    EXPECT_FALSE(isLoaded(noEntry));
    EXPECT_EQ(lines().size(), 2u);

    // One that others may change is not called: it is judged as PASSWORD.CPL is.
    const std::string open = m_dir + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    std::filesystem::copy_file(standin("record/MPR.DLL"), open + "/MPR.DLL");
    hakop::runPasswordChange(1, (open + "/MPR.DLL").c_str());
    EXPECT_EQ(lines().size(), 2u) << "an MPR.DLL in a folder anyone may write was called";
    std::filesystem::remove_all(open);
}
