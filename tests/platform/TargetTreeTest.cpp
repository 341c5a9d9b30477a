// Writing into folders someone else may control: never through a link, never into a file with a
// second name or of someone else's, and after an administrator start (as root for nobody) with
// the desktop user's own rights in their folders, so that no swap of a folder while the program
// works there reaches anything the user could not reach themselves.
#include "platform/DesktopUser.h"
#include "platform/FileReplace.h"
#include "platform/TargetTree.h"
#include "tests/support/DesktopUserKit.h"
#include "tests/support/FixtureKit.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void Put(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()))) << path;
}

// A scratch folder of this test's own, emptied first.
std::string Fresh(const std::string& name) {
    const std::string dir = ScratchDir("target-tree/" + name);
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir;
}

int Close(int fd) { return fd >= 0 ? ::close(fd) : -1; }

} // namespace

// What any run (a user's, or root's without a desktop user) refuses or keeps, whoever planted it.
TEST(TargetTree, LinksSecondNamesAndOtherItemsAtANameAreNeverWrittenThrough) {
    const std::string dir = Fresh("refusals");
    const std::string victim = dir + "/victim";
    Put(victim, "victim");
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/link").c_str()), 0);
    ASSERT_EQ(::link(victim.c_str(), (dir + "/second").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir + "/folder").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.c_str(), (dir + "/folderlink").c_str()), 0);

    struct Case {
        const char* name;
        platform::TreeExisting existing;
        int error; // 0: opened
    };
    const Case cases[] = {
        {"link", platform::TreeExisting::Empty, ELOOP},
        {"link", platform::TreeExisting::Refuse, EEXIST},
        {"second", platform::TreeExisting::Empty, EPERM},
        {"second", platform::TreeExisting::Keep, EPERM},
        {"fifo", platform::TreeExisting::Empty, EPERM},
        {"folder", platform::TreeExisting::Empty, EISDIR},
        {"folderlink/victim", platform::TreeExisting::Empty, ENOTDIR},
        {"folderlink/new", platform::TreeExisting::Refuse, ENOTDIR},
        {"missing/new", platform::TreeExisting::Refuse, ENOENT},
        {"new", platform::TreeExisting::Refuse, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errno = 0;
        const int fd = platform::TreeCreateFile(dir + "/" + c.name, c.existing);
        EXPECT_EQ(fd >= 0 ? 0 : errno, c.error);
        Close(fd);
    }
    EXPECT_EQ(Slurp(victim), "victim");

    // A link is renamed over, removed and left alone by times and modes: never what it names.
    EXPECT_NE(platform::TreeClearWriteBits(dir + "/link"), 0);
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    EXPECT_EQ(platform::TreeSetTimes(dir + "/link", times), 0);
    EXPECT_LT(platform::TreeOpenRead(dir + "/folderlink/victim"), 0);
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_NE(st.st_mtime, 1000);
    EXPECT_NE(st.st_mode & 0200, 0u);
    EXPECT_EQ(platform::TreeRemoveFile(dir + "/link"), 0);
    EXPECT_EQ(Slurp(victim), "victim");
    EXPECT_NE(platform::TreeMakeFolders(dir + "/folderlink/a/b"), 0);
    EXPECT_FALSE(fs::exists(dir + "/a"));

    // An earlier file of this user's own with one name is kept or emptied as asked.
    Put(dir + "/mine", "earlier");
    int fd = platform::TreeCreateFile(dir + "/mine", platform::TreeExisting::Keep);
    ASSERT_GE(fd, 0);
    Close(fd);
    EXPECT_EQ(Slurp(dir + "/mine"), "earlier");
    fd = platform::TreeCreateFile(dir + "/mine", platform::TreeExisting::Empty);
    ASSERT_GE(fd, 0);
    Close(fd);
    EXPECT_EQ(Slurp(dir + "/mine"), "");
    EXPECT_EQ(platform::TreeMakeFolders(dir + "/x/y/z"), 0);
    EXPECT_TRUE(fs::is_directory(dir + "/x/y/z"));
}

TEST(TargetTree, AStateCopyIsNeverWrittenThroughALinkAtItsTemporaryName) {
    const std::string dir = Fresh("state-copy");
    const std::string victim = dir + "/victim";
    Put(victim, "victim");
    Put(dir + "/last.rdf", "state");
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/current.rdf.new").c_str()), 0);
    EXPECT_TRUE(platform::CopyFileReplacing(dir + "/last.rdf", dir + "/current.rdf"));
    EXPECT_EQ(Slurp(dir + "/current.rdf"), "state");
    EXPECT_EQ(Slurp(victim), "victim");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/current.rdf.new")));
    // A link as the source is no state file.
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/linked.rdf").c_str()), 0);
    EXPECT_FALSE(platform::CopyFileReplacing(dir + "/linked.rdf", dir + "/other.rdf"));
    EXPECT_FALSE(fs::exists(dir + "/other.rdf"));
}

// As root for nobody: in nobody's folder every call is checked as nobody's and makes nobody's
// items; in root's folder it stays root's.
TEST(TargetTree, InTheDesktopUsersFolderEveryCallIsMadeWithTheirRights) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    OpenTempFolder theirs(kNobodyUid);
    OpenTempFolder roots(0);
    ASSERT_FALSE(theirs.Path().empty());
    ASSERT_FALSE(roots.Path().empty());
    const std::string rootFile = roots.Path() + "/root-only";
    Put(rootFile, "root");
    ASSERT_EQ(::chmod(rootFile.c_str(), 0600), 0);
    // A file of root's in the user's folder (left there by an earlier run as root) and a folder of
    // the user's they may not write into.
    Put(theirs.Path() + "/roots-file", "root's");
    ASSERT_EQ(::mkdir((theirs.Path() + "/closed").c_str(), 0555), 0);
    ASSERT_EQ(::chown((theirs.Path() + "/closed").c_str(), kNobodyUid, static_cast<gid_t>(-1)), 0);

    AdministratorStart start;
    int fd = platform::TreeCreateFile(theirs.Path() + "/new", platform::TreeExisting::Refuse);
    ASSERT_GE(fd, 0);
    Close(fd);
    EXPECT_EQ(OwnerOf(theirs.Path() + "/new"), static_cast<long>(kNobodyUid));
    ASSERT_EQ(platform::TreeMakeFolders(theirs.Path() + "/a/b"), 0);
    EXPECT_EQ(OwnerOf(theirs.Path() + "/a"), static_cast<long>(kNobodyUid));
    EXPECT_EQ(OwnerOf(theirs.Path() + "/a/b"), static_cast<long>(kNobodyUid));
    fd = platform::TreeCreateFile(roots.Path() + "/new", platform::TreeExisting::Refuse);
    ASSERT_GE(fd, 0);
    Close(fd);
    EXPECT_EQ(OwnerOf(roots.Path() + "/new"), 0);

    // What nobody could not do, the program does not do for them there.
    errno = 0;
    EXPECT_LT(platform::TreeCreateFile(theirs.Path() + "/closed/new", platform::TreeExisting::Refuse), 0);
    EXPECT_EQ(errno, EACCES);
    EXPECT_LT(platform::TreeCreateFile(theirs.Path() + "/roots-file", platform::TreeExisting::Empty), 0);
    EXPECT_EQ(Slurp(theirs.Path() + "/roots-file"), "root's");
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    EXPECT_NE(platform::TreeSetTimes(theirs.Path() + "/roots-file", times), 0);
    // A hard link nobody makes to root's file is refused for its second name.
    ASSERT_EQ(RunAsUser(kNobodyUid, [&] {
                  return ::link((theirs.Path() + "/new").c_str(), (theirs.Path() + "/new2").c_str()) == 0 ? 0 : 1;
              }),
              0);
    EXPECT_LT(platform::TreeCreateFile(theirs.Path() + "/new2", platform::TreeExisting::Empty), 0);
    EXPECT_EQ(errno, EPERM);
    // The program's own identity is back after each call.
    EXPECT_EQ(::setfsuid(static_cast<uid_t>(-1)), 0);
    EXPECT_EQ(Slurp(rootFile), "root");
}
