// The companion viewer after an administrator start: it runs as the desktop user, on a copy of
// the carved file that is theirs, and the copy is gone once the viewer ends. As root for nobody;
// skipped for other users.
#include "ui/views/CompanionViewer.h"

#include "tests/support/DesktopUserKit.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

TEST(CompanionViewerUser, RunsAsTheDesktopUserOnACopyOfTheirs) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    OpenTempFolder bin, records(kNobodyUid, 0700), rootOnly(0, 0700);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty() || rootOnly.Path().empty());
    const std::string viewer = WriteRecorder(bin.Path(), "viewer", records.Path());
    // The viewer named in the user's settings, as the program reads it.
    const std::string ini = rootOnly.Path() + "/brulin.ini";
    std::ofstream(ini) << "[Preview]\nViewerCommand=" << viewer << " --view\n";
    const std::string command = CompanionViewerCommand(ini, "/opt/brulin/");
    ASSERT_EQ(command, viewer + " --view");
    // The preview's temp file: root's, in a folder of root's.
    const std::string temp = rootOnly.Path() + "/~@!ab.doc";
    std::ofstream(temp) << "carved document";
    ::chmod(temp.c_str(), 0600);
    ::setenv("BRULIN_ROOT_ONLY", "secret", 1);

    bool started = false;
    {
        AdministratorStart start;
        started = RunCompanionViewer(command, temp, "Report 2010.doc", [] {});
    }
    ::unsetenv("BRULIN_ROOT_ONLY");
    ASSERT_TRUE(started);
    const RecordedRun run = ReadRun(records.Path(), "viewer", 0);
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.uid, kNobodyUid);
    EXPECT_EQ(run.groups, "65534");
    EXPECT_EQ(run.env.count("HOME") ? run.env.at("HOME") : "", "/nonexistent");
    EXPECT_EQ(run.env.count("BRULIN_ROOT_ONLY"), 0u);
    ASSERT_EQ(run.args.size(), 2u);
    EXPECT_EQ(run.args[0], "--view");
    // A copy of the user's own, readable by them only, named as the temp file.
    const std::string handed = run.args[1].substr(0, run.args[1].find('|'));
    EXPECT_NE(handed, temp);
    EXPECT_EQ(handed.substr(handed.find_last_of('/')), "/~@!ab.doc");
    EXPECT_EQ(run.args[1].substr(run.args[1].find('|')), "|Report 2010.doc");
    EXPECT_EQ(run.fileOwner, "65534 600");
    EXPECT_EQ(run.fileContent, "carved document");
    // Gone with its folder once the viewer ended; the temp file is the caller's to remove.
    EXPECT_NE(::access(handed.c_str(), F_OK), 0);
    EXPECT_NE(::access(handed.substr(0, handed.find_last_of('/')).c_str(), F_OK), 0);
    EXPECT_EQ(::access(temp.c_str(), F_OK), 0);

    // The user's entry cannot be read: no viewer starts, not even as root, and the message names
    // the file and says why.
    ::unlink((records.Path() + "/viewer").c_str());
    {
        AdministratorStart start;
        UnreadablePasswd unreadable;
        EXPECT_FALSE(RunCompanionViewer(command, temp, "Report 2010.doc", [] {}));
        EXPECT_EQ(CompanionViewerRefusal("Report 2010.doc"),
                  "The viewer was not started for Report 2010.doc: " + std::string(kNobodyUnreadable) +
                      ", and no program is started as root for them.");
    }
    EXPECT_FALSE(ReadRun(records.Path(), "viewer", 500).ran);
    EXPECT_EQ(CompanionViewerRefusal("Report 2010.doc"), "");
}
