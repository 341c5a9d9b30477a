// The companion document viewer: its command from the settings file or beside the program, the
// words of a command line, and a start with the "<temp>|<name>" argument while the caller pumps.
#include "ui/views/CompanionViewer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "tests/support/FixtureKit.h"

namespace {

std::string WriteScript(const std::string& dir, const std::string& name, const std::string& body) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(CompanionViewer, CommandFromTheSettingsFileOrBesideTheProgram) {
    const std::string dir = testsupport::ScratchDir("companion-viewer");
    const std::string ini = dir + "/brulin.ini";
    std::ofstream(ini) << "[Preview]\nViewerCommand = libreoffice --view\n";
    EXPECT_EQ(CompanionViewerCommand(ini, "/opt/brulin/"), "libreoffice --view");
    EXPECT_EQ(CompanionViewerCommand(dir + "/missing.ini", "/opt/brulin/"), "/opt/brulin/Leafscope");
    std::ofstream(ini) << "[Preview]\nOther=1\n";
    EXPECT_EQ(CompanionViewerCommand(ini, "/opt/brulin/"), "/opt/brulin/Leafscope");
    // The process's own: beside the running program unless the user's settings say otherwise.
    EXPECT_FALSE(CompanionViewerCommand().empty());
}

TEST(CompanionViewer, SplittingACommand) {
    struct Case {
        const char* command;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"/opt/x/Leafscope", {"/opt/x/Leafscope"}},
        {"libreoffice  --view\t--norestore", {"libreoffice", "--view", "--norestore"}},
        {"\"/opt/My Viewer/view\" -a", {"/opt/My Viewer/view", "-a"}},
        {"view 'two words' x\"y z\"", {"view", "two words", "xy z"}},
        {"view \"unclosed quote", {"view", "unclosed quote"}},
        {"view \"\"", {"view", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitViewerCommand(c.command), c.words) << c.command;
}

// Quotes as in a desktop entry's Exec key; the forms without them split as they always did.
TEST(CompanionViewer, QuotedWordsAndTheDefaultCommand) {
    struct Case {
        std::string command;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"\"/opt/My Viewer/view\"", {"/opt/My Viewer/view"}},
        {"view \"a \\\"b\\\" \\$HOME \\`x\\` c\\\\d\"", {"view", "a \"b\" $HOME `x` c\\d"}},
        {"\"C:\\x\\\" y\"", {"C:\\x\" y"}},  // a backslash escapes only ", `, $ and itself
        {"\"end\\", {"end\\"}},                 // a backslash at the end is kept
        {"'a\\\"b' c\\d", {"a\\\"b", "c\\d"}},    // kept as it is in '...' and outside quotes
        {"libreoffice --view", {"libreoffice", "--view"}},
        {"/opt/brulin/Leafscope", {"/opt/brulin/Leafscope"}},
        // The default beside a program whose folder holds blanks and quote characters.
        {CompanionViewerCommand("/nonexistent/brulin.ini", "/opt/My Brulin/"), {"/opt/My Brulin/Leafscope"}},
        {CompanionViewerCommand("/nonexistent/brulin.ini", "/opt/a \"b\" $c `d` \\e'f/"),
         {"/opt/a \"b\" $c `d` \\e'f/Leafscope"}},
        {CompanionViewerCommand("/nonexistent/brulin.ini", "/opt/x(1)&y/"), {"/opt/x(1)&y/Leafscope"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitViewerCommand(c.command), c.words) << c.command;

    // Any word comes back whole; one without reserved characters stays as it is.
    for (const std::string word : {"", "plain", "/opt/My Viewer/view", "it's", "\"", "a\\", "$x `y` \\\"z\\\""})
        EXPECT_EQ(SplitViewerCommand(QuoteViewerWord(word) + " --view"), (std::vector<std::string>{word, "--view"}))
            << word;
    EXPECT_EQ(QuoteViewerWord("/opt/brulin/Leafscope"), "/opt/brulin/Leafscope");
    EXPECT_EQ(QuoteViewerWord("/opt/My Brulin/Leafscope"), "\"/opt/My Brulin/Leafscope\"");
}

TEST(CompanionViewer, StartsWithTheTempAndNameAndWaits) {
    const std::string dir = testsupport::ScratchDir("companion-viewer");
    const std::string out = dir + "/args.txt";
    std::filesystem::remove(out);
    const std::string viewer = WriteScript(dir, "viewer.sh", "printf '%s\\n' \"$@\" > \"" + out + "\"\nsleep 0.2\n");
    int pumps = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunCompanionViewer(QuoteViewerWord(viewer) + " --view", "/tmp/~@!ab.doc", "Report 2010.doc", [&] { ++pumps; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150)); // it waited
    EXPECT_GT(pumps, 3);                                                                   // while pumping
    EXPECT_EQ(ReadAll(out), "--view\n/tmp/~@!ab.doc|Report 2010.doc\n");

    // Cannot be started: nothing, a missing program, one that is not executable, an unknown name.
    const std::string plain = dir + "/plain.txt";
    std::ofstream(plain) << "not a program";
    for (const std::string& cmd : {std::string(), QuoteViewerWord(dir + "/missing"), QuoteViewerWord(plain),
                                   std::string("brulin-no-such-viewer-x")})
        EXPECT_FALSE(RunCompanionViewer(cmd, "/tmp/t.doc", "t.doc", {})) << cmd;
}

// The default viewer beside a program whose folder holds blanks and quote characters is started.
TEST(CompanionViewer, StartsTheDefaultViewerInAFolderWithBlanks) {
    const std::string dir = testsupport::ScratchDir("companion-viewer") + "/My Brulin \"x\" $y";
    std::filesystem::create_directories(dir);
    const std::string out = dir + "/args.txt";
    WriteScript(dir, "Leafscope", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n");
    const std::string command = CompanionViewerCommand(dir + "/missing.ini", dir + "/");
    EXPECT_TRUE(RunCompanionViewer(command, "/tmp/a b.doc", "a b.doc", {})) << command;
    EXPECT_EQ(ReadAll(out), "/tmp/a b.doc|a b.doc\n");
}

TEST(CompanionViewer, ARunningViewerCanBeEnded) {
    const std::string dir = testsupport::ScratchDir("companion-viewer");
    const std::string viewer = WriteScript(dir, "slow.sh", "exec sleep 30\n");
    const auto start = std::chrono::steady_clock::now();
    bool ended = false;
    int pumps = 0;
    // The program ending while the viewer runs: the viewer goes with it.
    EXPECT_TRUE(RunCompanionViewer(QuoteViewerWord(viewer), "/tmp/t.doc", "t.doc", [&] {
        if (++pumps == 5) {
            EndCompanionViewer();
            ended = true;
        }
    }));
    EXPECT_TRUE(ended);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
