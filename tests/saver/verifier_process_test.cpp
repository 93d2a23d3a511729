// The verifier asked in a helper process, against the stand-in modules: the
// answers pass through, and every way a module can fail is a refusal with one
// line on stderr saying why.
#include "saver/HelperChannel.h"
#include "saver/VerifierProcess.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string standins = HAKOP_STANDINS_DIR;

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// One question, with the stand-in in 'dir' as PASSWORD.CPL, stderr caught and
// the stand-in's log read back.
struct Asked {
    bool mayClose = false;
    std::vector<std::string> reports; // our "hakop:" lines on stderr
    std::vector<std::string> log;
};

class VerifierProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string base = std::string("/tmp/hakop-verifier-test-") + std::to_string(getpid());
        m_log = base + ".log";
        m_err = base + ".err";
        setenv("HAKOP_STANDIN_LOG", m_log.c_str(), 1);
    }
    void TearDown() override
    {
        std::remove(m_log.c_str());
        std::remove(m_err.c_str());
        unsetenv("HAKOP_STANDIN_LOG");
    }

    Asked ask(const std::string& dir, const std::string& helper = HAKOP_VERIFIER_HELPER, unsigned long window = 4711,
              std::chrono::milliseconds patience = std::chrono::seconds(60))
    {
        std::remove(m_log.c_str());
        setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        const int caught = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(caught, STDERR_FILENO);
        close(caught);

        Asked asked;
        hakop::VerifierProcess verifier(helper);
        verifier.setPatience(patience);
        asked.mayClose = verifier.mayClose(window);

        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        unsetenv("LD_LIBRARY_PATH");
        for (const std::string& line : lines(readFile(m_err)))
            if (line.rfind("hakop:", 0) == 0)
                asked.reports.push_back(line);
        asked.log = lines(readFile(m_log));
        return asked;
    }

    std::string m_log;
    std::string m_err;
};

TEST_F(VerifierProcessTest, AnswersPassThroughAndOnlyTheirLowestByteCounts)
{
    const struct {
        const char* dir;
        bool mayClose;
    } cases[] = {{"accept", true}, {"refuse", false}, {"refuse256", false}};
    for (const auto& c : cases) {
        const Asked asked = ask(standins + "/" + c.dir);
        EXPECT_EQ(asked.mayClose, c.mayClose) << c.dir;
        EXPECT_TRUE(asked.reports.empty()) << c.dir << ": an answer is no failure";
        EXPECT_EQ(asked.log, std::vector<std::string>{"verify 4711"}) << c.dir;
    }
}

TEST_F(VerifierProcessTest, NoModuleOrNoEntryPointMeansNoVerifier)
{
    for (const std::string& dir : {std::string("/nonexistent"), standins + "/missing-entry"}) {
        const Asked asked = ask(dir);
        EXPECT_TRUE(asked.mayClose) << dir;
        EXPECT_TRUE(asked.reports.empty()) << dir;
    }
}

TEST_F(VerifierProcessTest, AModuleInTheCurrentDirectoryIsNotFound)
{
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir((standins + "/refuse").c_str()), 0);
    const Asked asked = ask("/nonexistent");
    ASSERT_EQ(chdir(here), 0);
    EXPECT_TRUE(asked.mayClose) << "the refusing PASSWORD.CPL in the current directory was loaded";
    EXPECT_TRUE(asked.log.empty());
}

TEST_F(VerifierProcessTest, EveryFaultyModuleIsARefusalReportedOnce)
{
    const struct {
        const char* dir;
        const char* why; // part of the report
        bool called;     // it got as far as VerifyScreenSavePwd
    } cases[] = {
        {"segfault", "signal 11", true},
        {"abort", "signal 6", true},
        {"exit", "without an answer (exit code 3)", true},
        {"throw", "stand-in verifier failure", true},
        {"constructor", "signal 11", false},
        {"text", "PASSWORD.CPL cannot be loaded", false},
        {"empty", "PASSWORD.CPL cannot be loaded", false},
    };
    for (const auto& c : cases) {
        const Asked asked = ask(standins + "/" + c.dir);
        EXPECT_FALSE(asked.mayClose) << c.dir;
        ASSERT_EQ(asked.reports.size(), 1u) << c.dir;
        EXPECT_NE(asked.reports.front().find(c.why), std::string::npos) << c.dir << ": " << asked.reports.front();
        EXPECT_EQ(asked.reports.front().find("/proc/self/fd"), std::string::npos) << asked.reports.front();
        EXPECT_EQ(asked.log.size(), c.called ? 1u : 0u) << c.dir;
    }
}

TEST_F(VerifierProcessTest, OneHelperServesTheRunAndACrashedOneIsStartedAgain)
{
    // A module that refuses twice, then accepts: only one process keeps count.
    setenv("LD_LIBRARY_PATH", (standins + "/third-time").c_str(), 1);
    {
        hakop::VerifierProcess verifier(HAKOP_VERIFIER_HELPER);
        EXPECT_FALSE(verifier.ask(1).mayClose);
        const pid_t helper = verifier.helperPid();
        EXPECT_FALSE(verifier.ask(1).mayClose);
        const auto third = verifier.ask(1);
        EXPECT_TRUE(third.mayClose) << third.failure;
        EXPECT_EQ(verifier.helperPid(), helper);
    }
    // A crash is a refusal each time, and the next question finds a new helper.
    setenv("LD_LIBRARY_PATH", (standins + "/segfault").c_str(), 1);
    hakop::VerifierProcess verifier(HAKOP_VERIFIER_HELPER);
    for (int i = 0; i < 2; ++i) {
        const auto outcome = verifier.ask(1);
        EXPECT_FALSE(outcome.mayClose);
        EXPECT_NE(outcome.failure.find("signal 11"), std::string::npos) << outcome.failure;
    }
    unsetenv("LD_LIBRARY_PATH");
}

TEST_F(VerifierProcessTest, ALongWaitIsSaidOnceAndTheAnswerStillCounts)
{
    const Asked asked = ask(standins + "/slow-accept", HAKOP_VERIFIER_HELPER, 1, std::chrono::milliseconds(300));
    EXPECT_TRUE(asked.mayClose);
    EXPECT_EQ(asked.reports,
              std::vector<std::string>{"hakop: the password verifier has not answered for 300 ms; still waiting"});
}

TEST_F(VerifierProcessTest, AHelperThatDiesIsNoticedWhileItsChildStillHoldsThePipe)
{
    const auto start = std::chrono::steady_clock::now();
    const Asked asked = ask(standins + "/orphan");
    EXPECT_FALSE(asked.mayClose);
    EXPECT_EQ(asked.reports.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(VerifierProcessTest, AMissingHelperIsARefusalEvenWithoutAModule)
{
    for (const std::string& helper : {std::string("/nonexistent/hakop-verifier"), std::string()}) {
        const Asked asked = ask("/nonexistent", helper);
        EXPECT_FALSE(asked.mayClose) << helper;
        EXPECT_EQ(asked.reports.size(), 1u) << helper;
    }
}

TEST_F(VerifierProcessTest, TheHelperStartsCleanAndDiesWithTheSaver)
{
    // What the saver's process has must not reach the module: an open
    // descriptor without close-on-exec, an ignored and a blocked signal.
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 0);
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &before);
    sigset_t usr1;
    sigset_t mask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, &mask);

    const Asked asked = ask(standins + "/state");

    sigprocmask(SIG_SETMASK, &mask, nullptr);
    sigaction(SIGINT, &before, nullptr);
    close(leaky);

    EXPECT_TRUE(asked.mayClose);
    // The standard three and the answer's pipe; nothing of ours.
    const std::vector<std::string> expected = {"verify 4711", "fds 0 1 2 3", "sigint default", "blocked none",
                                               "pdeathsig " + std::to_string(SIGKILL)};
    EXPECT_EQ(asked.log, expected);
}

TEST(HelperChannel, AnythingAfterTheAnswerLineMakesItNoAnswer)
{
    for (const std::string& sent : {std::string("answer 1\n"), std::string("answer 1\nanswer 1\n"),
                                     std::string("answer 1\n\n")}) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        ASSERT_EQ(write(ends[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        std::string line;
        const hakop::HelperRead got = hakop::readHelperLine(ends[0], -1, line, std::chrono::seconds(60));
        EXPECT_EQ(got, sent == "answer 1\n" ? hakop::HelperRead::Line : hakop::HelperRead::Broken) << sent;
        close(ends[0]);
        close(ends[1]);
    }
}

TEST(VerifierHelperLookup, BesideTheExecutableFirstThenWhereThePackageInstallsIt)
{
    char pattern[] = "/tmp/hakop-lookup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    const std::string bin = root + "/bin";
    const std::string installed = bin + "/" HAKOP_VERIFIER_INSTALLED_DIR "/hakop-verifier";
    const std::string beside = bin + "/hakop-verifier";
    ASSERT_EQ(std::system(("mkdir -p " + bin + " " + bin + "/" HAKOP_VERIFIER_INSTALLED_DIR).c_str()), 0);
    auto make = [](const std::string& path, mode_t mode) {
        std::ofstream(path) << "#!/bin/sh\n";
        chmod(path.c_str(), mode);
    };

    EXPECT_EQ(hakop::VerifierProcess::findHelper(bin), "");
    make(installed, 0644); // not executable: not a helper
    EXPECT_EQ(hakop::VerifierProcess::findHelper(bin), "");
    chmod(installed.c_str(), 0755);
    EXPECT_EQ(hakop::VerifierProcess::findHelper(bin), installed);
    make(beside, 0755);
    EXPECT_EQ(hakop::VerifierProcess::findHelper(bin), beside);
    // Never relative to the current directory.
    ASSERT_EQ(chdir(root.c_str()), 0);
    EXPECT_EQ(hakop::VerifierProcess::findHelper("bin"), "");
    ASSERT_EQ(chdir("/"), 0);

    std::filesystem::remove_all(root);
}

} // namespace
