#include "platform/AppPaths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <cstring>
#include <map>
#include <set>
#include <vector>
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
    EXPECT_EQ(p.configFile, "/h/.config/brulin/brulin.ini");
}

namespace {
std::string HostPart() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return host;
}
std::vector<std::string> Dirs(const platform::AppPaths& p) {
    std::vector<std::string> out;
    for (const auto& c : p.runtimeChoices)
        out.push_back(c.dir + (c.makeParents ? " (parents)" : ""));
    return out;
}
} // namespace

// The runtime folder is never a fixed name in a folder that everyone may write: without
// XDG_RUNTIME_DIR, root takes /run/brulin/, another user /run/user/<uid>/brulin/ only when that
// folder exists, then the state folder, then a mkdtemp folder in $TMPDIR or /tmp.
TEST(AppPaths, RuntimeFolderChoices) {
    const std::string run = "run-" + HostPart() + "/";
    const unsigned noSuchUser = 2147480001u;  // has no /run/user/<uid>
    const std::string parent = std::to_string(getppid());
    ASSERT_NE(access(("/run/user/" + std::to_string(noSuchUser)).c_str(), F_OK), 0);
    struct Case {
        const char* what;
        unsigned uid;
        std::map<std::string, std::string> env;
        std::vector<std::string> dirs;
        std::string tempBase;
    };
    const std::vector<Case> cases = {
        {"root, no session", 0, {{"HOME", "/root"}}, {"/run/brulin/", "/root/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        {"root in a session", 0, {{"HOME", "/root"}, {"XDG_RUNTIME_DIR", "/run/user/0"}},
         {"/run/user/0/brulin/ (parents)", "/run/brulin/", "/root/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        {"a user, no session", noSuchUser, {{"HOME", "/h"}, {"TMPDIR", "/scratch/"}},
         {"/h/.local/state/brulin/" + run + " (parents)"}, "/scratch"},
        {"a user in a session", noSuchUser, {{"HOME", "/h"}, {"XDG_RUNTIME_DIR", "/r"}, {"TMPDIR", "rel"}},
         {"/r/brulin/ (parents)", "/h/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        {"started by a loader", noSuchUser,
         {{"HOME", "/h"}, {"XDG_RUNTIME_DIR", "/r"}, {"BRULIN_RUNTIME_DIR", "/chosen"}, {"BRULIN_LOADER_PID", parent}},
         {"/chosen/", "/r/brulin/ (parents)", "/h/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        // Left in an environment the loader did not make (sudo -E, su, a shell the program
        // started): not taken.
        {"the variable without its loader", 0, {{"HOME", "/root"}, {"BRULIN_RUNTIME_DIR", "/usr/share"}},
         {"/run/brulin/", "/root/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        {"the variable of a loader that is not the parent", 0,
         {{"HOME", "/root"}, {"BRULIN_RUNTIME_DIR", "/usr/share"}, {"BRULIN_LOADER_PID", std::to_string(getpid())}},
         {"/run/brulin/", "/root/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
        {"relative values", 0, {{"HOME", "/root"}, {"XDG_RUNTIME_DIR", "r"}, {"BRULIN_RUNTIME_DIR", "c/"}},
         {"/run/brulin/", "/root/.local/state/brulin/" + run + " (parents)"}, "/tmp"},
    };
    for (const Case& c : cases) {
        const auto p = platform::ResolveAppPaths("/opt/b", Env(c.env), c.uid);
        EXPECT_EQ(Dirs(p), c.dirs) << c.what;
        EXPECT_EQ(p.runtimeDir, p.runtimeChoices.front().dir) << c.what;
        EXPECT_EQ(p.tempBase, c.tempBase) << c.what;
        EXPECT_EQ(p.tempRecord.rfind(p.stateDir, 0), 0u) << c.what;
    }
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
    // A folder that was there already is never given a mode: one others may only read is used
    // as it is, one others may change is refused.
    for (const mode_t mode : {0755u, 0775u, 0757u}) {
        chmod(p.runtimeDir.c_str(), mode);
        EXPECT_EQ(platform::MakePrivateDir(p.runtimeDir), (mode & 022) == 0) << std::oct << mode;
        ASSERT_EQ(stat(p.runtimeDir.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << mode;
    }
    chmod(p.runtimeDir.c_str(), 0700);
    std::ofstream(root / "file") << "x";
    EXPECT_FALSE(platform::MakePrivateDir((root / "file").string()));
    // A state folder whose parent others of the user's own group may write (umask 002, as on
    // systems with a group per user) is still made: only runtime folders ask that of their parent.
    fs::create_directories(root / "shared-state");
    chmod((root / "shared-state").c_str(), 0775);
    EXPECT_TRUE(platform::MakePrivateDir((root / "shared-state" / "brulin").string()));
    auto grouped = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", (root / "shared-state").string()},
                                                             {"XDG_RUNTIME_DIR", (root / "run").string()}}));
    EXPECT_TRUE(platform::CreateAppFolders(grouped));

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

namespace {

const unsigned kOtherUser = 4242;  // a made-up user, the one who puts folders in the way

bool AsRoot() { return geteuid() == 0; }

std::string RuntimeScratch(const std::string& name) {
    const std::string root = std::string(BRULIN_TEST_WORK_DIR) + "/app-paths-" + name + "-" + std::to_string(getpid());
    fs::remove_all(root);
    fs::create_directories(root + "/state");
    return root;
}

// A lock taken in `dir` by another process is seen from here: the folder is a meeting place.
bool LockMeets(const std::string& dir) {
    const std::string file = dir + "meet.lock";
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(file.c_str(), O_RDWR | O_CREAT, 0600);
        flock(fd, LOCK_EX);
        sleep(5);
        _exit(0);
    }
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        held = platform::ProbeLoaderLock(file) == 1;
        if (!held)
            usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    unlink(file.c_str());
    return held;
}

} // namespace

// Whatever lies in the first place (made by someone else or left behind), it is never used and
// never stops the start: it stays as it was, is named, and the next place is used.
TEST(AppPaths, ARuntimeFolderInTheWayIsPassedOver) {
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<void(const std::string& place)> put;  // makes what lies at `place`
        bool firstUsed;       // the place itself is fine after all
        const char* reason;   // part of the refusal
    };
    const std::vector<Case> cases = {
        {"a file", false, [](const std::string& place) { std::ofstream(place) << "x"; }, false, "not a folder of this user"},
        {"a symlink to a folder of ours", false,
         [](const std::string& place) {
             fs::create_directory(place + "-target");
             chmod((place + "-target").c_str(), 0700);
             fs::create_directory_symlink(place + "-target", place);
         },
         false, "not a folder of this user"},
        {"another user's folder, open to all", true,
         [](const std::string& place) {
             fs::create_directory(place);
             ASSERT_EQ(chown(place.c_str(), kOtherUser, kOtherUser), 0) << place;
             chmod(place.c_str(), 0777);
         },
         false, "not a folder of this user"},
        {"a folder inside another user's folder", true,
         [](const std::string& place) {
             const std::string up = fs::path(place).parent_path();
             ASSERT_EQ(chown(up.c_str(), kOtherUser, kOtherUser), 0) << up;
             chmod(up.c_str(), 0755);
         },
         false, "may be changed by another user"},
        {"a folder inside a folder everyone may change", false,
         [](const std::string& place) { chmod(fs::path(place).parent_path().c_str(), 0777); }, false,
         "may be changed by another user"},
        {"a folder inside a sticky folder everyone may write (as /tmp)", false,
         [](const std::string& place) { chmod(fs::path(place).parent_path().c_str(), 01777); }, true, ""},
        {"our own folder, open to others", false,
         [](const std::string& place) {
             fs::create_directory(place);
             chmod(place.c_str(), 0755);
         },
         false, "open to other users (mode 0755); left as it is"},
    };
    for (const Case& c : cases) {
        if (c.needsRoot && !AsRoot())
            continue;
        const std::string root = RuntimeScratch("in-the-way");
        fs::create_directories(root + "/first");
        const std::string place = root + "/first/brulin";
        c.put(place);
        struct stat before {};
        const bool existed = lstat(place.c_str(), &before) == 0;

        auto p = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", root + "/state"}}));
        p.runtimeChoices = {{place + "/", false}, {root + "/next/brulin/", true}};
        p.tempBase.clear();
        std::vector<std::string> refused;
        std::string error;
        ASSERT_TRUE(platform::CreateAppFolders(p, &error, &refused)) << c.what << ": " << error;
        const std::string used = c.firstUsed ? place + "/" : root + "/next/brulin/";
        EXPECT_EQ(p.runtimeDir, used) << c.what;
        struct stat st {};
        ASSERT_EQ(lstat(p.runtimeDir.c_str(), &st), 0) << c.what;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.what;
        EXPECT_TRUE(LockMeets(p.runtimeDir)) << c.what;
        if (c.firstUsed) {
            EXPECT_TRUE(refused.empty()) << c.what;
            EXPECT_TRUE(platform::RuntimeFolderNotes(p, refused).empty()) << c.what;
        } else {
            ASSERT_EQ(refused.size(), 1u) << c.what;
            EXPECT_EQ(refused[0].rfind(place + ": ", 0), 0u) << c.what << ": " << refused[0];
            EXPECT_NE(refused[0].find(c.reason), std::string::npos) << c.what << ": " << refused[0];
            EXPECT_EQ(platform::RuntimeFolderNotes(p, refused),
                      (std::vector<std::string>{"Runtime folder refused: " + refused[0], "Runtime folder used: " + used}))
                << c.what;
            // What lay in the way is as it was, with nothing of ours in it.
            struct stat after {};
            EXPECT_EQ(lstat(place.c_str(), &after) == 0, existed) << c.what;
            if (existed) {
                EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
                EXPECT_EQ(after.st_uid, before.st_uid) << c.what;
                if (S_ISDIR(after.st_mode) || S_ISLNK(after.st_mode)) {
                    EXPECT_TRUE(fs::is_empty(place)) << c.what;
                }
            }
        }
        fs::remove_all(root);
    }
}

// Where no fixed place will do, the folder is made with mkdtemp, private, and remembered in the
// state folder, so that the next start (a second loader, the program) meets in it. A remembered
// name that is not such a folder any more is passed over for a new one.
TEST(AppPaths, WithoutAFixedPlaceTheRuntimeFolderIsMadeWithMkdtempAndKept) {
    const std::string root = RuntimeScratch("mkdtemp");
    fs::create_directories(root + "/tmp");
    chmod((root + "/tmp").c_str(), 01777);
    std::ofstream(root + "/blocked") << "x";
    auto base = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", root + "/state"}, {"TMPDIR", root + "/tmp"}}));
    base.runtimeChoices = {{root + "/blocked/", false}};
    const std::string prefix = root + "/tmp/brulin-" + std::to_string(getuid()) + "-";

    auto first = base;
    std::vector<std::string> refused;
    ASSERT_TRUE(platform::CreateAppFolders(first, nullptr, &refused));
    EXPECT_EQ(first.runtimeDir.rfind(prefix, 0), 0u) << first.runtimeDir;
    EXPECT_EQ(refused.size(), 1u);
    struct stat st {};
    ASSERT_EQ(lstat(first.runtimeDir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(LockMeets(first.runtimeDir));

    auto second = base;
    ASSERT_TRUE(platform::CreateAppFolders(second));
    EXPECT_EQ(second.runtimeDir, first.runtimeDir);

    // The remembered folder swapped for a symlink, then a record naming a folder outside.
    const std::string firstDir = first.runtimeDir.substr(0, first.runtimeDir.size() - 1);
    fs::remove(firstDir);
    fs::create_directory(root + "/elsewhere");
    chmod((root + "/elsewhere").c_str(), 0700);
    fs::create_directory_symlink(root + "/elsewhere", firstDir);
    auto third = base;
    ASSERT_TRUE(platform::CreateAppFolders(third, nullptr, &refused));
    EXPECT_NE(third.runtimeDir, first.runtimeDir);
    EXPECT_EQ(third.runtimeDir.rfind(prefix, 0), 0u);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[1], firstDir + ": not a folder of this user");
    EXPECT_TRUE(fs::is_empty(root + "/elsewhere"));

    std::ofstream(base.tempRecord, std::ios::trunc) << root << "/elsewhere\n";
    auto fourth = base;
    ASSERT_TRUE(platform::CreateAppFolders(fourth, nullptr, &refused));
    EXPECT_EQ(fourth.runtimeDir.rfind(prefix, 0), 0u);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[1], root + "/elsewhere: not a folder this program made");

    // Nowhere at all: the start fails and says why, naming every place.
    auto none = base;
    none.tempBase = root + "/blocked";
    none.tempRecord.clear();
    std::string error;
    EXPECT_FALSE(platform::CreateAppFolders(none, &error, &refused));
    EXPECT_EQ(error.rfind("no runtime folder can be made; " + root + "/blocked: not a folder of this user", 0), 0u)
        << error;
    fs::remove_all(root);
}

// The remembered mkdtemp folder is probed inside itself: names made beside it in the shared
// temporary folder (by anyone) neither turn it down nor are touched.
TEST(AppPaths, TheRememberedFolderIsProbedInsideItself) {
    const std::string root = RuntimeScratch("probe-inside");
    fs::create_directories(root + "/tmp");
    chmod((root + "/tmp").c_str(), 01777);
    std::ofstream(root + "/blocked") << "x";
    auto base = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", root + "/state"}, {"TMPDIR", root + "/tmp"}}));
    base.runtimeChoices = {{root + "/blocked/", false}};
    auto first = base;
    ASSERT_TRUE(platform::CreateAppFolders(first));
    const std::string folder = first.runtimeDir.substr(0, first.runtimeDir.size() - 1);
    // What a probe beside the folder would be named: taken, and not removable.
    const std::string beside = folder + ".probe-" + std::to_string(getpid());
    fs::create_directories(beside + "/kept");
    auto second = base;
    std::vector<std::string> refused;
    ASSERT_TRUE(platform::CreateAppFolders(second, nullptr, &refused));
    EXPECT_EQ(second.runtimeDir, first.runtimeDir);
    EXPECT_EQ(refused.size(), 1u);  // only the blocked fixed place
    EXPECT_TRUE(fs::is_directory(beside + "/kept"));
    EXPECT_TRUE(fs::is_empty(folder));  // the probes went again
    fs::remove_all(root);
}

// Starts at the same moment at the last resort share one mkdtemp folder: the choice is made
// under a lock in the state folder, and the record is never written half.
TEST(AppPaths, StartsAtTheSameMomentShareOneMkdtempFolder) {
    constexpr int kStarts = 6;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const std::string root = RuntimeScratch("together");
        fs::create_directories(root + "/tmp");
        chmod((root + "/tmp").c_str(), 01777);
        std::ofstream(root + "/blocked") << "x";
        auto base = platform::ResolveAppPaths("/opt/b", Env({{"XDG_STATE_HOME", root + "/state"}, {"TMPDIR", root + "/tmp"}}));
        base.runtimeChoices = {{root + "/blocked/", false}};
        fs::create_directories(base.stateDir);
        chmod(base.stateDir.c_str(), 0700);
        int go[2], told[2];
        ASSERT_EQ(pipe(go), 0);
        ASSERT_EQ(pipe(told), 0);
        std::vector<pid_t> starts;
        for (int i = 0; i < kStarts; ++i) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char b;
                [[maybe_unused]] ssize_t n = read(go[0], &b, 1);  // all start when the pipe closes
                auto paths = base;
                char line[512] = {};
                if (platform::CreateAppFolders(paths))
                    std::snprintf(line, sizeof line, "%s\n", paths.runtimeDir.c_str());
                else
                    std::snprintf(line, sizeof line, "failed\n");
                n = write(told[1], line, std::strlen(line));
                _exit(0);
            }
            starts.push_back(pid);
        }
        close(go[0]);
        close(told[1]);
        close(go[1]);
        for (const pid_t pid : starts)
            waitpid(pid, nullptr, 0);
        std::string all;
        char buf[4096];
        for (ssize_t n; (n = read(told[0], buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<std::size_t>(n));
        close(told[0]);
        std::set<std::string> chosen;
        int lines = 0;
        for (std::size_t pos = 0, end; (end = all.find('\n', pos)) != std::string::npos; pos = end + 1, ++lines)
            chosen.insert(all.substr(pos, end - pos));
        EXPECT_EQ(lines, kStarts) << all;
        ASSERT_EQ(chosen.size(), 1u) << all;
        EXPECT_EQ(std::distance(fs::directory_iterator(root + "/tmp"), fs::directory_iterator()), 1);
        std::ifstream record(base.tempRecord);
        std::string remembered;
        std::getline(record, remembered);
        EXPECT_EQ(remembered + "/", *chosen.begin());
        for (const auto& e : fs::directory_iterator(base.stateDir))
            EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
        fs::remove_all(root);
    }
}

// Help pages go to the browser as file URLs: a path with a space, '#', '%', '?' or a non-ASCII
// name must still name that file, and the user is shown the path itself again.
TEST(AppPaths, FileUrlsOfPathsAndBack) {
    const struct {
        std::string path, url;
    } cases[] = {
        {"/usr/share/brulin/help/index.html", "file:///usr/share/brulin/help/index.html"},
        {"/opt/A-Z_0.9~/x", "file:///opt/A-Z_0.9~/x"},
        {"/home/ann/my programs/help/15.html", "file:///home/ann/my%20programs/help/15.html"},
        {"/tmp/#1/100%/what?/a&b=c+d;e", "file:///tmp/%231/100%25/what%3F/a%26b%3Dc%2Bd%3Be"},
        {"/home/jos\xC3\xA9/\xE6\x96\x87/h.html", "file:///home/jos%C3%A9/%E6%96%87/h.html"},
        {"/a\\b'c\"d", "file:///a%5Cb%27c%22d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(platform::FileUrl(c.path), c.url);
        EXPECT_EQ(platform::PathOfFileUrl(c.url), c.path);
    }
    // Lower-case hex reads back too; a '%' not followed by two hex digits stays as it is.
    EXPECT_EQ(platform::PathOfFileUrl("file:///jos%c3%a9"), "/jos\xC3\xA9");
    EXPECT_EQ(platform::PathOfFileUrl("file:///a%2"), "/a%2");
    EXPECT_EQ(platform::PathOfFileUrl("file:///a%zz"), "/a%zz");
    EXPECT_EQ(platform::PathOfFileUrl("https://example.com/a%20b"), "");
}
