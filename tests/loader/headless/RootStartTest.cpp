// The loader's start as root through pkexec, with a stand-in pkexec on the PATH that records
// what it is asked to run and ends as told: the root loader's status is the loader's own; a
// refusal, a failure, a signal or no pkexec at all leave the loader to go on as the user.
#include "loader/RootStart.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

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

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(RootStart, OnlyTheDesktopSwitchAsksForRoot) {
    EXPECT_TRUE(AsksForRoot({"--administrator"}));
    EXPECT_TRUE(AsksForRoot({"-x", "--administrator"}));
    EXPECT_FALSE(AsksForRoot({}));
    EXPECT_FALSE(AsksForRoot({"--administrator=1", "administrator", "-pro"}));
    EXPECT_EQ(OwnProgramPath().front(), '/');
}

TEST(RootStart, PkexecStatusDecidesWhetherTheUserGoesOn) {
    const std::string dir = ScratchDir("root-start");
    const std::string record = dir + "/asked.txt";
    {
        std::ofstream script(dir + "/pkexec");
        // Shell built-ins only: the PATH holds nothing but the stand-in.
        script << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << record << "'\n"
               << "read how < '" << dir << "/how'\n"
               << "[ \"$how\" = signal ] && kill -KILL $$\n"
               << "exit $how\n";
    }
    chmod((dir + "/pkexec").c_str(), 0755);
    const struct {
        const char* how;
        std::optional<int> result;
    } cases[] = {
        {"0", 0},                   // the root loader ran and ended well
        {"1", 1},                   // it ran and refused (another loader runs)
        {"126", std::nullopt},      // the user dismissed the password question
        {"127", std::nullopt},      // no authentication agent, or no such program
        {"signal", std::nullopt},   // pkexec itself was killed
    };
    PathFor path(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        std::ofstream(dir + "/how") << c.how;
        std::remove(record.c_str());
        EXPECT_EQ(c.result, RunAsRoot("/usr/bin/Brulin"));
        EXPECT_EQ("/usr/bin/Brulin\n", ReadAll(record));
    }
    // A path that is not absolute is never handed to pkexec.
    std::remove(record.c_str());
    EXPECT_EQ(std::nullopt, RunAsRoot("Brulin"));
    EXPECT_EQ("", ReadAll(record));
}

TEST(RootStart, WithoutPkexecTheUserGoesOn) {
    const std::string dir = ScratchDir("root-start-none");
    PathFor path(dir);
    EXPECT_EQ(std::nullopt, RunAsRoot("/usr/bin/Brulin"));
}
