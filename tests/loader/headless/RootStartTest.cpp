// The loader's start as root through pkexec, with a stand-in pkexec on the PATH that records
// what it is asked to run, says what pkexec says and ends as told: the root loader's status
// (or the signal that ended it) is the loader's own; only pkexec's own failures (126, 127) and
// no pkexec at all leave the loader to go on as the user, each with its reason and log line.
#include "loader/RootStart.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// PATH set to `dir` for the scope.
class PathFor {
public:
    explicit PathFor(const std::string& dir) : m_old(std::getenv("PATH") ? std::getenv("PATH") : "") {
        setenv("PATH", dir.c_str(), 1);
    }
    ~PathFor() { setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};

// Standard error of this process into a file for the scope.
class StderrTo {
public:
    explicit StderrTo(const std::string& path) : m_saved(dup(STDERR_FILENO)) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrTo() {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }

private:
    int m_saved;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The policy file the installation writes (packaging/brulin.policy.in) for a loader at `loader`.
std::string InstalledPolicy(const std::string& loader) {
    std::string text = ReadAll(std::string(BRULIN_SOURCE_DIR) + "/packaging/brulin.policy.in");
    const std::string mark = "@BRULIN_INSTALLED_LOADER@";
    const std::size_t at = text.find(mark);
    if (at != std::string::npos)
        text.replace(at, mark.size(), loader);
    return text;
}

// A folder of polkit actions holding the program's action as installed for `loader`.
std::string ActionsNaming(const std::string& dir, const std::string& loader) {
    const std::string actions = dir + "/actions";
    std::filesystem::create_directories(actions);
    std::ofstream(actions + "/" + kPolkitActionId + ".policy") << InstalledPolicy(loader);
    return actions;
}

} // namespace

TEST(RootStart, OnlyTheDesktopSwitchAsksForRoot) {
    EXPECT_TRUE(AsksForRoot({"--administrator"}));
    EXPECT_TRUE(AsksForRoot({"-x", "--administrator"}));
    EXPECT_FALSE(AsksForRoot({}));
    EXPECT_FALSE(AsksForRoot({"--administrator=1", "administrator", "-pro"}));
    EXPECT_EQ(OwnProgramPath().front(), '/');
}

TEST(RootStart, OnlyPkexecsOwnFailuresLetTheUserGoOn) {
    const std::string dir = ScratchDir("root-start");
    const std::string record = dir + "/asked.txt";
    {
        // Shell built-ins only: the PATH holds nothing but the stand-in. It says the message
        // in <dir>/say on standard error, then ends with the status in <dir>/how, or by SIGTERM.
        std::ofstream script(dir + "/pkexec");
        script << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << record << "'\n"
               << "while IFS= read -r line; do printf '%s\\n' \"$line\" >&2; done < '" << dir << "/say'\n"
               << "read how < '" << dir << "/how'\n"
               << "[ \"$how\" = signal ] && kill -TERM $$\n"
               << "exit $how\n";
    }
    chmod((dir + "/pkexec").c_str(), 0755);
    const std::string noAgent = "Error executing command as another user: No authentication agent found.";
    const std::string notAuthorized = "Error executing command as another user: Not authorized\n\nThis incident has been reported.";
    const struct {
        const char* how;
        std::string say;
        bool ran;
        int status;
        RootFallback fallback;
        const char* logged;  // in the log line
    } cases[] = {
        // The root loader ran and ended well, or refused itself (another loader runs).
        {"0", "", true, 0, RootFallback::None, "ended with 0."},
        {"1", "", true, 1, RootFallback::None, "ended with 1."},
        // It ran and was ended by a signal: the user's loader starts no second program.
        {"signal", "", true, 128 + SIGTERM, RootFallback::None, "signal 15"},
        // pkexec's own failures.
        {"126", "Error executing command as another user: Request dismissed.", false, 0, RootFallback::Refused,
         "pkexec ended with 126 (refused): Error executing command as another user: Request dismissed.;"},
        {"126", "", false, 0, RootFallback::Refused, "pkexec ended with 126 (refused): no message;"},
        {"127", notAuthorized, false, 0, RootFallback::Refused,
         "ended with 127 (refused): Error executing command as another user: Not authorized / This incident has been reported.;"},
        {"127", "==== AUTHENTICATION FAILED ====\n" + noAgent, false, 0, RootFallback::NoAgent,
         "ended with 127 (no-agent): ==== AUTHENTICATION FAILED ==== / Error executing command as another user: No "
         "authentication agent found.;"},
        {"127", "Error creating textual authentication agent: Error opening current controlling terminal for the process "
                "(`/dev/tty'): No such device or address",
         false, 0, RootFallback::NoAgent, "(no-agent): Error creating textual authentication agent"},
        {"127", "Cannot run program /usr/bin/Brulin: No such file or directory", false, 0, RootFallback::Failed,
         "ended with 127 (failed): Cannot run program /usr/bin/Brulin: No such file or directory;"},
        {"127", "Brulin: started as root without the display; going on as the user.", false, 0, RootFallback::Failed,
         "(failed): Brulin: started as root without the display"},
    };
    PathFor path(dir);
    const std::string actions = ActionsNaming(dir, "/usr/bin/Brulin");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " " + c.say);
        std::ofstream(dir + "/how") << c.how;
        std::ofstream(dir + "/say") << c.say << (c.say.empty() ? "" : "\n");
        std::remove(record.c_str());
        RootStartResult r;
        {
            StderrTo err(dir + "/stderr.txt");
            r = RunAsRoot("/usr/bin/Brulin", actions);
        }
        EXPECT_EQ(r.ran, c.ran);
        if (c.ran) {
            EXPECT_EQ(r.status, c.status);
        }
        EXPECT_EQ(r.fallback, c.fallback);
        EXPECT_NE(r.logLine.find(c.logged), std::string::npos) << r.logLine;
        EXPECT_EQ("/usr/bin/Brulin\n", ReadAll(record));
        // pkexec's messages still reach the loader's standard error.
        EXPECT_EQ(ReadAll(dir + "/stderr.txt"), c.say.empty() ? "" : c.say + "\n");
    }
    // A path that is not absolute is never handed to pkexec.
    std::remove(record.c_str());
    const RootStartResult relative = RunAsRoot("Brulin", actions);
    EXPECT_FALSE(relative.ran);
    EXPECT_EQ(relative.fallback, RootFallback::Failed);
    EXPECT_EQ("", ReadAll(record));
}

TEST(RootStart, PkexecsEndIsNotWaitedForPastAProgramHoldingItsMessages) {
    // A program left behind (as the crash reporter is) keeps pkexec's standard error open;
    // the loader goes on when pkexec ends, not when the last holder does.
    const std::string dir = ScratchDir("root-start-holder");
    std::ofstream(dir + "/pkexec") << "#!/bin/sh\necho 'Request dismissed.' >&2\n"
                                   << "/bin/sleep 20 < /dev/null > /dev/null &\necho $! > '" << dir << "/holder'\nexit 126\n";
    chmod((dir + "/pkexec").c_str(), 0755);
    PathFor path(dir);
    const std::string actions = ActionsNaming(dir, "/usr/bin/Brulin");
    const auto started = std::chrono::steady_clock::now();
    RootStartResult r;
    {
        StderrTo err(dir + "/stderr.txt");
        r = RunAsRoot("/usr/bin/Brulin", actions);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    pid_t holder = 0;
    std::ifstream(dir + "/holder") >> holder;
    EXPECT_GT(holder, 0);
    if (holder > 0)
        kill(holder, SIGKILL);
    EXPECT_FALSE(r.ran);
    EXPECT_EQ(r.fallback, RootFallback::Refused);
    EXPECT_NE(r.logLine.find("Request dismissed."), std::string::npos) << r.logLine;
}

TEST(RootStart, WithoutPkexecTheUserGoesOn) {
    const std::string dir = ScratchDir("root-start-none");
    PathFor path(dir);
    const RootStartResult r = RunAsRoot("/usr/bin/Brulin", ActionsNaming(dir, "/usr/bin/Brulin"));
    EXPECT_FALSE(r.ran);
    EXPECT_EQ(r.fallback, RootFallback::NoPkexec);
    EXPECT_NE(r.logLine.find("pkexec cannot be run (No such file or directory)"), std::string::npos) << r.logLine;
}

TEST(RootStart, MessagesBecomeOneBoundedLogLine) {
    EXPECT_EQ(OneLogLine("a\r\n\nb\tc\x1b[31m\n"), "a / bc[31m");
    EXPECT_EQ(OneLogLine("\n\n"), "");
    EXPECT_EQ(OneLogLine(std::string(700, 'x') + "end", 600), std::string(597, 'x') + "end");
}

// pkexec takes the program's action only when it names exactly the path it is asked to run, and
// reads actions only from polkit's folder: a loader no action there names never runs pkexec
// (which would ask for the password for nothing) and goes on as the user at once, saying why.
TEST(RootStart, PkexecRunsOnlyWhenThePolkitActionNamesThisLoader) {
    const std::string dir = ScratchDir("root-start-action");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string record = dir + "/asked.txt";
    std::ofstream(dir + "/pkexec") << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << record << "'\nexit 0\n";
    chmod((dir + "/pkexec").c_str(), 0755);
    // A loader in its build folder (its resources beside it), and one installed under a prefix.
    const std::string built = dir + "/build/Brulin", installed = dir + "/local/bin/Brulin";
    std::filesystem::create_directories(dir + "/build/info");
    std::filesystem::create_directories(dir + "/local/bin");
    std::filesystem::create_directories(dir + "/local/share/brulin/info");
    const std::string actions = dir + "/actions", file = actions + "/" + kPolkitActionId + ".policy";
    const std::string policy = InstalledPolicy(built);
    const std::string elsewhere = InstalledPolicy("/usr/bin/Brulin");
    const struct {
        const char* what;
        const std::string* loader;
        std::string content;  // the action file's text; "-" for none, "/" for a folder there
        bool runs;
        std::string says;     // in the log line after "no polkit action names <loader>: "
    } cases[] = {
        {"the action names the loader", &built, policy, true, ""},
        {"missing, from the build folder", &built, "-", false,
         file + " does not exist; the loader runs from its build folder"},
        {"missing, installed under a prefix", &installed, "-", false,
         file + " does not exist; the loader is installed under " + dir + "/local, and polkit reads actions only from " +
             actions + "/"},
        {"naming the loader of another prefix", &installed, elsewhere, false,
         "the action in " + file + " names /usr/bin/Brulin; the loader is installed under " + dir + "/local"},
        {"a folder at its name", &built, "/", false, file + " is not a file"},
        {"an action without a program", &built, "<policyconfig><action id=\"org.brulin.pkexec.brulin\"/></policyconfig>",
         false, file + " holds no action org.brulin.pkexec.brulin that names a program"},
        {"the loader named only in another action", &built,
         "<policyconfig><action id=\"org.other\"><annotate key=\"org.freedesktop.policykit.exec.path\">" + built +
             "</annotate></action></policyconfig>",
         false, "holds no action org.brulin.pkexec.brulin"},
    };
    PathFor path(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(actions);
        std::filesystem::create_directories(actions);
        if (c.content == "/")
            std::filesystem::create_directories(file);
        else if (c.content != "-")
            std::ofstream(file) << c.content;
        std::remove(record.c_str());
        const RootStartResult r = RunAsRoot(*c.loader, actions);
        EXPECT_EQ(ReadAll(record), c.runs ? *c.loader + "\n" : "");
        EXPECT_EQ(r.ran, c.runs);
        if (c.runs)
            continue;
        EXPECT_EQ(r.fallback, RootFallback::NoAction);
        const std::string begins = "Start as administrator: no polkit action names " + *c.loader + ": ";
        EXPECT_EQ(r.logLine.rfind(begins, 0), 0u) << r.logLine;
        EXPECT_NE(r.logLine.find(c.says), std::string::npos) << r.logLine;
        EXPECT_NE(r.logLine.find("pkexec was not run (no password asked), going on as the user."), std::string::npos)
            << r.logLine;
    }
    // An action file the user may not read says so (root reads any).
    if (geteuid() != 0) {
        std::filesystem::remove_all(actions);
        std::filesystem::create_directories(actions);
        std::ofstream(file) << policy;
        chmod(file.c_str(), 0);
        const RootStartResult r = RunAsRoot(built, actions);
        EXPECT_FALSE(r.ran);
        EXPECT_NE(r.logLine.find(file + " cannot be read (Permission denied)"), std::string::npos) << r.logLine;
        chmod(file.c_str(), 0600);
    }
}

TEST(RootStart, ThePolkitActionsProgramIsReadAsPolkitReadsIt) {
    const std::string loader = "/opt/x & y/bin/Brulin";
    const struct {
        const char* what;
        std::string policy;
        std::string program;
    } cases[] = {
        {"the installed action", InstalledPolicy("/usr/bin/Brulin"), "/usr/bin/Brulin"},
        {"entities, blanks and single quotes",
         "<policyconfig><action id='org.brulin.pkexec.brulin'><annotate key='org.freedesktop.policykit.exec.path'>\n  "
         "/opt/x &amp; y/bin/Brulin\n</annotate></action></policyconfig>",
         loader},
        {"a commented-out action first",
         "<!-- <action id=\"org.brulin.pkexec.brulin\"><annotate key=\"org.freedesktop.policykit.exec.path\">/bad"
         "</annotate></action> --><policyconfig><action id=\"org.brulin.pkexec.brulin\"><annotate "
         "key=\"org.freedesktop.policykit.exec.path\">/good</annotate></action></policyconfig>",
         "/good"},
        {"another key", "<action id=\"org.brulin.pkexec.brulin\"><annotate key=\"org.freedesktop.policykit.exec.allow_gui\">"
                        "true</annotate></action>",
         ""},
        {"an action never closed", "<action id=\"org.brulin.pkexec.brulin\"><annotate key=\"org.freedesktop.policykit.exec.path\">"
                                   "/usr/bin/Brulin</annotate>",
         ""},
        {"markup inside the annotation", "<action id=\"org.brulin.pkexec.brulin\"><annotate key=\"org.freedesktop.policykit."
                                         "exec.path\">/usr/<b/>bin/Brulin</annotate></action>",
         ""},
        {"cut short", "<action id=\"org.brulin.pkexec.brulin\"><annotate key=\"org.freedesktop.policykit.exec.path\">/usr", ""},
        {"no bytes", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PolkitActionProgram(c.policy, kPolkitActionId), c.program);
    }
}
