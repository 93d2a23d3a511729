// The helper's own search for PASSWORD.CPL and the trust it needs, from the
// search rules up to the answer the saver gets; and the clean start the
// module finds whatever the helper's parent left it.
#include "verifier/ModuleSearch.h"
#include "verifier/SearchPath.h"
#include "saver/VerifierProcess.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using hakop::verifier::findModule;
using hakop::verifier::ModuleLookup;
const std::string standins = HAKOP_STANDINS_DIR;

// A folder of the test's own, in a tree nobody else may write (unlike /tmp).
class Scratch {
public:
    explicit Scratch(const std::string& parent = HAKOP_TEST_SCRATCH)
    {
        std::string pattern = parent + "/module-search-XXXXXX";
        EXPECT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        chmod(m_root.c_str(), 0755);
    }
    ~Scratch()
    {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_root, ignored))
            chmod(entry.path().c_str(), 0755);
        fs::remove_all(m_root, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // A folder holding a copy of the stand-in from 'standin' (none when empty).
    std::string folder(const std::string& name, const std::string& standin = {}) const
    {
        std::string dir = m_root + "/" + name;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0755);
        if (!standin.empty())
            fs::copy_file(standins + "/" + standin + "/PASSWORD.CPL", dir + "/PASSWORD.CPL",
                          fs::copy_options::overwrite_existing);
        return dir;
    }
    const std::string& root() const { return m_root; }

private:
    std::string m_root;
};

// Runs 'body' in a child as an ordinary user (nobody, when the test runs as
// root, which reads every file whatever its mode): its exit code, and what it
// wrote to the pipe it is given.
template <typename Body>
std::pair<int, std::string> asOrdinaryUser(Body body)
{
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        std::string said;
        const int code = body(said);
        [[maybe_unused]] auto written = write(ends[1], said.data(), said.size());
        _exit(code);
    }
    close(ends[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    close(ends[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

hakop::VerifierProcess::Outcome askWith(const std::string& libraryPath)
{
    setenv("LD_LIBRARY_PATH", libraryPath.c_str(), 1);
    auto outcome = hakop::VerifierProcess(HAKOP_VERIFIER_HELPER).ask(4711);
    unsetenv("LD_LIBRARY_PATH");
    return outcome;
}

TEST(ModuleSearch, OnlyAbsoluteEntriesOfTheLibraryPathCount)
{
    using hakop::verifier::absoluteEntries;
    EXPECT_EQ(absoluteEntries(":/a;b:/c/::./d:"), (std::vector<std::string>{"/a", "/c/"}));
    EXPECT_TRUE(absoluteEntries("").empty());
    EXPECT_EQ(hakop::verifier::cleanLibraryPath(";/x:"), "/x");
}

TEST(ModuleSearch, FirstPlaceThatHasItWinsAndACacheEntryCountsByItsName)
{
    Scratch scratch;
    hakop::verifier::SearchPlaces places;
    // An entry that is a file holds no module: the search goes on past it.
    const std::string plainFile = scratch.root() + "/plain";
    std::ofstream(plainFile) << "not a folder\n";
    places.folders = {plainFile, scratch.folder("empty"), scratch.folder("first", "accept"),
                      scratch.folder("second", "refuse")};
    places.defaults = {scratch.folder("default", "refuse")};
    ModuleLookup lookup = findModule("PASSWORD.CPL", places, geteuid());
    EXPECT_EQ(lookup.outcome, ModuleLookup::Outcome::Found) << lookup.why;
    EXPECT_EQ(lookup.path, scratch.root() + "/first/PASSWORD.CPL");

    // Not on the path: the loader's cache, then the default folders. ldconfig
    // lists a lib*.so under its SONAME, and points at the link it makes.
    places.folders = {scratch.folder("empty")};
    const std::string indexed = scratch.folder("indexed");
    const std::string library = indexed + "/libverifier.so";
    fs::copy_file(standins + "/accept/PASSWORD.CPL", library); // its SONAME is PASSWORD.CPL
    std::ofstream(scratch.root() + "/ld.so.conf") << indexed << "\n";
    ASSERT_EQ(std::system(("PATH=$PATH:/sbin:/usr/sbin ldconfig -f " + scratch.root() + "/ld.so.conf -C "
                           + scratch.root() + "/ld.so.cache").c_str()), 0);
    places.cache = scratch.root() + "/ld.so.cache";
    EXPECT_EQ(hakop::verifier::cacheEntry(places.cache, "PASSWORD.CPL"), indexed + "/PASSWORD.CPL");
    lookup = findModule("PASSWORD.CPL", places, geteuid());
    EXPECT_EQ(lookup.outcome, ModuleLookup::Outcome::Found) << lookup.why;
    EXPECT_EQ(lookup.path, indexed + "/PASSWORD.CPL");
    // A stale entry (its file gone) leads on to the default folders.
    fs::remove(indexed + "/PASSWORD.CPL");
    EXPECT_EQ(findModule("PASSWORD.CPL", places, geteuid()).path, places.defaults.front() + "/PASSWORD.CPL");
    fs::remove(places.defaults.front() + "/PASSWORD.CPL");
    EXPECT_EQ(findModule("PASSWORD.CPL", places, geteuid()).outcome, ModuleLookup::Outcome::NotFound);
    EXPECT_EQ(hakop::verifier::cacheEntry("/nonexistent", "PASSWORD.CPL"), "");
}

TEST(ModuleSearch, AModuleThatCannotBeReadIsARefusalNotNoModule)
{
    // The loader searches on past such a file and reports it as missing.
    Scratch scratch;
    const std::string unreadable = scratch.folder("unreadable", "accept");
    chmod((unreadable + "/PASSWORD.CPL").c_str(), 0);
    const std::string closed = scratch.folder("closed");
    chmod(closed.c_str(), 0);
    const std::string elsewhere = scratch.folder("elsewhere", "accept");
    const std::string closedFirst = closed + (":" + elsewhere);
    for (const std::string& path : {unreadable, closedFirst}) {
        const auto [code, said] = asOrdinaryUser([&](std::string& failure) {
            const auto outcome = askWith(path);
            failure = outcome.failure;
            return outcome.mayClose ? 0 : 1;
        });
        EXPECT_EQ(code, 1) << path << ": " << said;
        EXPECT_NE(said.find("cannot be used"), std::string::npos) << said;
    }
}

// The trust rule, at the search: for every name on the way to the module,
// the folder holding it is the user's or root's and closed to others, or it
// is sticky and the name is the user's or root's.
ModuleLookup::Outcome lookIn(const std::string& folder)
{
    hakop::verifier::SearchPlaces places;
    places.folders = {folder};
    return findModule("PASSWORD.CPL", places, geteuid()).outcome;
}

TEST(ModuleSearch, AModuleOthersMayChangeIsRefused)
{
    using Outcome = ModuleLookup::Outcome;
    Scratch scratch;
    const std::string shared = scratch.folder("shared", "accept");
    chmod((shared + "/PASSWORD.CPL").c_str(), 0666);
    const std::string open = scratch.folder("open", "accept");
    chmod(open.c_str(), 0777);
    const std::string othersOnly = scratch.folder("others-only", "accept"); // not the group
    chmod(othersOnly.c_str(), 0757);
    // A link from a safe folder into an open one.
    const std::string linked = scratch.folder("linked");
    fs::create_symlink(open + "/PASSWORD.CPL", linked + "/PASSWORD.CPL");
    for (const std::string& folder : {shared, open, othersOnly, linked})
        EXPECT_EQ(lookIn(folder), Outcome::Untrusted) << folder;

    // Sticky folders: what belongs to the user is safe there, and so is a
    // folder of the user's (or root's) inside one, as under /tmp.
    const std::string sticky = scratch.folder("sticky", "accept");
    chmod(sticky.c_str(), 01777);
    const std::string stickyLink = scratch.folder("sticky-link");
    chmod(stickyLink.c_str(), 01777);
    fs::create_symlink(scratch.folder("safe", "accept") + "/PASSWORD.CPL", stickyLink + "/PASSWORD.CPL");
    Scratch inTmp("/tmp");
    for (const std::string& folder : {sticky, stickyLink, inTmp.folder("tmp", "accept")})
        EXPECT_EQ(lookIn(folder), Outcome::Found) << folder;

    // And the helper says so, and refuses.
    const auto refused = askWith(linked);
    EXPECT_FALSE(refused.mayClose);
    EXPECT_NE(refused.failure.find("is not trusted: " + open + " may be written by others"), std::string::npos)
        << refused.failure;
    const auto trusted = askWith(inTmp.folder("tmp"));
    EXPECT_TRUE(trusted.mayClose) << trusted.failure;
}

TEST(ModuleSearch, WhatAnotherUserPlantedIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to give files to another user (nobody)";
    using Outcome = ModuleLookup::Outcome;
    constexpr uid_t nobody = 65534;
    Scratch scratch;
    const std::string accepting = scratch.folder("accepting", "accept") + "/PASSWORD.CPL";
    const std::string foreign = scratch.folder("foreign", "accept");
    ASSERT_EQ(chown((foreign + "/PASSWORD.CPL").c_str(), nobody, nobody), 0);
    // A sticky folder everyone may write, with a link someone else put there
    // (to a module root would trust), and one with another user's module.
    const std::string shared = scratch.folder("shared");
    chmod(shared.c_str(), 01777);
    fs::create_symlink(accepting, shared + "/PASSWORD.CPL");
    ASSERT_EQ(lchown((shared + "/PASSWORD.CPL").c_str(), nobody, nobody), 0);
    const std::string sharedFile = scratch.folder("shared-file", "accept");
    chmod(sharedFile.c_str(), 01777);
    ASSERT_EQ(chown((sharedFile + "/PASSWORD.CPL").c_str(), nobody, nobody), 0);
    // A sticky folder of another user's: its owner may replace anything in it.
    const std::string theirs = scratch.folder("theirs");
    fs::create_symlink(accepting, theirs + "/PASSWORD.CPL");
    ASSERT_EQ(chown(theirs.c_str(), nobody, nobody), 0);
    chmod(theirs.c_str(), 01777);
    for (const std::string& folder : {foreign, shared, sharedFile, theirs})
        EXPECT_EQ(lookIn(folder), Outcome::Untrusted) << folder;

    // The planted link ahead of the user's own refusing module: no close.
    const auto outcome = askWith(shared + ":" + scratch.folder("own", "refuse"));
    EXPECT_FALSE(outcome.mayClose);
    EXPECT_NE(outcome.failure.find(shared + "/PASSWORD.CPL belongs to another user (uid 65534) in " + shared),
              std::string::npos)
        << outcome.failure;
}

TEST(ModuleSearch, WhatIsLoadedIsTheFileThatWasJudged)
{
    using VerifyFn = int (*)(unsigned long);
    Scratch scratch;
    const std::string folder = scratch.folder("module", "accept");
    const std::string path = folder + "/PASSWORD.CPL";
    ModuleLookup lookup = findModule("PASSWORD.CPL", {{folder}, {}, {}}, geteuid());
    ASSERT_EQ(lookup.outcome, ModuleLookup::Outcome::Found) << lookup.why;
    // Swapped after the check, before the load.
    fs::copy_file(standins + "/refuse/PASSWORD.CPL", folder + "/swapped");
    fs::rename(folder + "/swapped", path);
    std::string error;
    void* module = lookup.load(RTLD_NOW | RTLD_LOCAL, error);
    ASSERT_NE(module, nullptr) << error;
    auto verify = reinterpret_cast<VerifyFn>(dlsym(module, "VerifyScreenSavePwd"));
    ASSERT_NE(verify, nullptr);
    EXPECT_EQ(verify(1), 1) << "the swapped-in module ran";
    dlclose(module);

    // The loader's complaint names the module by its place, not by its descriptor.
    std::ofstream(path, std::ios::trunc) << "no module\n";
    lookup = findModule("PASSWORD.CPL", {{folder}, {}, {}}, geteuid());
    EXPECT_EQ(lookup.load(RTLD_NOW, error), nullptr);
    EXPECT_EQ(error.rfind(path + ":", 0), 0u) << error;
}

TEST(VerifierHelper, NothingIsLoadedFromTheCurrentDirectory)
{
    // An empty entry would make the loader take the helper's own C library
    // from here (a module standing in for it stops the helper at once), and
    // the refusing module here ahead of the accepting one on the path.
    Scratch scratch;
    const std::string here = scratch.folder("here", "refuse");
    fs::copy_file(here + "/PASSWORD.CPL", here + "/libc.so.6");
    const std::string accepting = scratch.folder("accepting", "accept");
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    for (const std::string& path : {":" + accepting, "." + (";" + accepting), "lib:" + accepting}) {
        const auto outcome = askWith(path);
        EXPECT_TRUE(outcome.mayClose) << path << ": " << outcome.failure;
    }
    ASSERT_EQ(chdir(before), 0);
}

TEST(VerifierHelper, TheModuleStartsCleanWhateverTheHelperInherits)
{
    // Run directly, not through the saver's start, with a signal blocked and
    // one ignored: the helper itself must give the module a clean state.
    const std::string log = "/tmp/hakop-helper-state-" + std::to_string(getpid()) + ".log";
    std::remove(log.c_str());
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const std::string parent = std::to_string(getpid());
    const std::string path = standins + "/state";
    const pid_t pid = fork();
    if (pid == 0) {
        sigset_t usr1;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        sigprocmask(SIG_BLOCK, &usr1, nullptr);
        signal(SIGINT, SIG_IGN);
        dup2(ends[1], 3);
        dup2(ends[1], 7); // one more descriptor, open across the exec
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        setenv("HAKOP_STANDIN_LOG", log.c_str(), 1);
        execl(HAKOP_VERIFIER_HELPER, HAKOP_VERIFIER_HELPER, parent.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    ASSERT_EQ(write(ends[0], "4711\n", 5), 5);
    char answer[64] = {};
    ASSERT_GT(read(ends[0], answer, sizeof answer - 1), 0);
    close(ends[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_STREQ(answer, "answer 1\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::stringstream said;
    said << std::ifstream(log).rdbuf();
    EXPECT_NE(said.str().find("fds 0 1 2 3\n"), std::string::npos) << said.str();
    EXPECT_NE(said.str().find("blocked none"), std::string::npos) << said.str();
    EXPECT_NE(said.str().find("sigint default"), std::string::npos) << said.str();
    std::remove(log.c_str());
}

} // namespace
