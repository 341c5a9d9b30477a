#include "platform/AppPaths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
platform::EnvLookup Env(std::map<std::string, std::string> vars) {
    return [vars](const char* name) {
        auto it = vars.find(name);
        return it == vars.end() ? std::string() : it->second;
    };
}
} // namespace

TEST(AppPaths, FoldersFromTheEnvironment) {
    auto p = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", "/s"}, {"XDG_RUNTIME_DIR", "/r/"},
                                                       {"XDG_CONFIG_HOME", "/c"}, {"HOME", "/h"}}));
    EXPECT_EQ(p.programDir, "/opt/b/");
    EXPECT_EQ(p.LogFile(), "/s/brulin/BrulinLog.log");
    EXPECT_EQ(p.runtimeDir, "/r/brulin/");
    EXPECT_EQ(p.configFile, "/c/brulin/brulin.ini");
    EXPECT_EQ(p.HelpFile(15), "/opt/b/help/15.html");

    // Unset or relative values fall back.
    p = platform::ResolveAppPaths("/opt/b/", Env({{"HOME", "/h"}, {"XDG_STATE_HOME", "rel"}}));
    EXPECT_EQ(p.stateDir, "/h/.local/state/brulin/");
    EXPECT_EQ(p.runtimeDir, "/tmp/brulin-" + std::to_string(getuid()) + "/");
    EXPECT_EQ(p.configFile, "/h/.config/brulin/brulin.ini");
}

TEST(AppPaths, PrivateFoldersAndLoaderLock) {
    const fs::path root = fs::current_path() / "apppaths";
    fs::remove_all(root);
    auto p = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", (root / "state").string()},
                                                       {"XDG_RUNTIME_DIR", (root / "run").string()}}));
    ASSERT_TRUE(platform::CreateAppFolders(p));
    struct stat st {};
    ASSERT_EQ(stat(p.stateDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    chmod(p.runtimeDir.c_str(), 0755);
    EXPECT_TRUE(platform::MakePrivateDir(p.runtimeDir));  // tightened again
    ASSERT_EQ(stat(p.runtimeDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::ofstream(root / "file") << "x";
    EXPECT_FALSE(platform::MakePrivateDir((root / "file").string()));

    // No file, a stale file, and a file the loader holds.
    const std::string lock = p.LoaderLockFile();
    EXPECT_EQ(platform::ProbeLoaderLock(lock), 0);
    std::ofstream(lock) << "";
    EXPECT_EQ(platform::ProbeLoaderLock(lock), 0);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(lock.c_str(), O_RDONLY);
        flock(fd, LOCK_EX);
        sleep(5);
        _exit(0);
    }
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        held = platform::ProbeLoaderLock(lock) == 1;
        if (!held)
            usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(held);
    EXPECT_EQ(platform::ProbeLoaderLock(lock), 0);
}

TEST(AppPaths, ViewerCommandFromConfig) {
    const std::string ini = "brulin-test.ini";
    std::ofstream(ini) << "[viewer]\r\n# comment\r\nOther=1\r\nViewerCommand = libreoffice --view\r\n";
    EXPECT_EQ(platform::ReadViewerCommand(ini), "libreoffice --view");
    EXPECT_EQ(platform::ReadViewerCommand("missing.ini"), "");
}

TEST(AppPaths, ResourcesBesideTheProgramOrInTheInstalledShareFolder) {
    const std::string root = std::string(BRULIN_TEST_WORK_DIR) + "/app-paths-resources-" + std::to_string(getpid());
    fs::remove_all(root);
    // The build folder: info/ beside the program.
    fs::create_directories(root + "/build/info");
    EXPECT_EQ(platform::FindResourceDir(root + "/build"), root + "/build/");
    // An installed program: <prefix>/bin with <prefix>/share/brulin/info.
    fs::create_directories(root + "/usr/bin");
    fs::create_directories(root + "/usr/share/brulin/info");
    EXPECT_EQ(platform::FindResourceDir(root + "/usr/bin/"), root + "/usr/share/brulin/");
    const auto p = platform::ResolveAppPaths(root + "/usr/bin", Env({{"HOME", "/h"}}));
    EXPECT_EQ(p.programDir, root + "/usr/bin/");
    EXPECT_EQ(p.HelpFile(15), root + "/usr/share/brulin/help/15.html");
    // Neither: the program folder (what is missing then simply is not shown).
    fs::create_directories(root + "/bare");
    EXPECT_EQ(platform::FindResourceDir(root + "/bare"), root + "/bare/");
    fs::remove_all(root);
}

TEST(AppPaths, TheRunningProgramsOwnFileAndFolder) {
    const std::string file = platform::ProgramFile();
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(fs::equivalent(file, std::string(BRULIN_BINARY_DIR) + "/tests/test_platform"));
    EXPECT_EQ(platform::ProgramDir(), fs::path(file).parent_path().string() + "/");
    EXPECT_EQ(platform::ResolveAppPaths(Env({{"HOME", "/h"}})).programDir, platform::ProgramDir());
}
