// Recovery after an administrator start (as root for nobody): what is written into a folder of
// the desktop user's is theirs, into root's own folder stays root's, onto a file system without
// owners (exFAT) every file still counts; and a folder of the user's swapped for a link while
// recovery writes into it sends nothing anywhere else. As root for nobody; skipped for other users.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "recovery/FileRecovery.h"
#include "recovery/TargetFiles.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/DesktopUserKit.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct SourceFile {
    std::string path;
    std::size_t size;
    std::uint32_t seed;
};

const std::vector<SourceFile> kFiles = {
    {"/Top.bin", 9000, 11},
    {"/Folder/Inner.txt", 3000, 12},
    {"/Folder/Deeper/Last.dat", 700, 13},
};

std::string OwnershipImage() {
    const FatImageOptions options{16, 16 * 1024, 4, "", 0, ""};
    return CachedFixture("ownership-fat16-v1.img", [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        bool ok = img.MakeDir("/Folder") && img.MakeDir("/Folder/Deeper");
        for (const SourceFile& f : kFiles)
            ok = ok && img.WriteFile(f.path, PatternBytes(f.size, f.seed), "2021-03-04 05:06:08 UTC");
        return ok;
    });
}

// The FAT image's whole tree, every item checked for recovery.
struct CheckedTree {
    explicit CheckedTree(const std::string& image) : device(image.c_str()) {
        CNullDirBuildCallback build;
        std::uint8_t boot[kSectorSize];
        if (device.ReadSectors(boot, 0, 1) != 1 || !InitFATSearchedPartitionInfo(part, boot, sizeof boot, 0))
            return;
        root = BuildFatFileTree(&build, &part, nullptr, &device, 1);
        for (int i = 0; root && i < 3 && root->m_pProperties->GetCheckState() != CHECKSTATE_CHECKED; ++i)
            ToggleCheckState(root.get(), false);
    }
    bool Ready() const { return root && root->m_pProperties->GetCheckState() == CHECKSTATE_CHECKED; }

    CImageFileDevice device;
    CFATSearchedPartitionInfo part;
    TreePtr root;
};

// An exFAT image on a loop device mounted through FUSE for the user `uid`, as a desktop mounts a
// USB stick for its user: every item there shows that user as its owner, and owners cannot be
// changed. Why() tells what was missing when it could not be mounted.
class ExfatMount {
public:
    explicit ExfatMount(uid_t uid) {
        const std::string mkfs = FindTool("mkfs.exfat"), fuse = FindTool("mount.exfat-fuse");
        const std::string losetup = FindTool("losetup");
        if (mkfs.empty() || fuse.empty() || losetup.empty()) {
            m_why = "mkfs.exfat, mount.exfat-fuse or losetup is missing";
            return;
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            m_why = "no /dev/fuse here";
            return;
        }
        const std::string image = ScratchDir("ownership-exfat") + "/stick.img";
        std::string out;
        if (Run("rm -f " + ShellQuote(image) + " && truncate -s 32M " + ShellQuote(image) + " && " +
                    ShellQuote(mkfs) + " " + ShellQuote(image),
                &out) != 0) {
            m_why = "mkfs.exfat failed: " + out;
            return;
        }
        if (Run(ShellQuote(losetup) + " -f --show " + ShellQuote(image), &out) != 0 || out.empty()) {
            m_why = "no loop device: " + out;
            return;
        }
        m_loop = out.substr(0, out.find('\n'));
        char dir[] = "/tmp/brulin-exfat-XXXXXX";
        if (!::mkdtemp(dir)) {
            m_why = "no mount point";
            return;
        }
        m_point = dir;
        const std::string ids = std::to_string(uid);
        if (Run(ShellQuote(fuse) + " -o uid=" + ids + ",gid=" + ids + " " + ShellQuote(m_loop) + " " +
                    ShellQuote(m_point),
                &out) != 0) {
            m_why = "mount.exfat-fuse failed: " + out;
            return;
        }
        m_mounted = true;
    }
    ~ExfatMount() {
        if (m_mounted)
            Run("umount " + ShellQuote(m_point));
        if (!m_point.empty())
            ::rmdir(m_point.c_str());
        if (!m_loop.empty())
            Run(ShellQuote(FindTool("losetup")) + " -d " + ShellQuote(m_loop));
    }
    ExfatMount(const ExfatMount&) = delete;
    ExfatMount& operator=(const ExfatMount&) = delete;
    const std::string& Why() const { return m_why; }
    const std::string& Point() const { return m_point; }

private:
    std::string m_why, m_loop, m_point;
    bool m_mounted = false;
};

// Runs `onFile` on the worker after each file recovered.
class WatchingCallback : public RecordingRecoverCallback {
public:
    int AddFilesDone(int n) override {
        const int answer = RecordingRecoverCallback::AddFilesDone(n);
        if (onFile)
            onFile();
        return answer;
    }
    std::function<void()> onFile;
};

} // namespace

TEST(OwnershipRecovery, RecoveredItemsBelongToTheOwnerOfTheTargetFolder) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::string image = OwnershipImage();
    ASSERT_FALSE(image.empty());

    struct Case {
        const char* name;
        uid_t folderOwner;
        bool exfat; // the target is the root of an exFAT volume mounted for the user
        uid_t expectedOwner;
    };
    const Case cases[] = {
        {"a folder of the desktop user's", kNobodyUid, false, kNobodyUid},
        {"root's own folder", 0, false, 0},
        {"a target without owners", kNobodyUid, true, kNobodyUid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckedTree tree(image);
        ASSERT_TRUE(tree.Ready());
        std::unique_ptr<ExfatMount> stick;
        if (c.exfat) {
            stick = std::make_unique<ExfatMount>(kNobodyUid);
            if (!stick->Why().empty()) {
                std::printf("[ SKIPPED  ] %s: %s\n", c.name, stick->Why().c_str());
                continue;
            }
        }
        OpenTempFolder target(c.folderOwner);
        ASSERT_FALSE(target.Path().empty());
        // A target path whose last folder is made by the recovery too.
        const std::string out = (stick ? stick->Point() : target.Path()) + "/Recovered";
        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        {
            AdministratorStart start;
            EXPECT_EQ(RecoverFolder(&callback, &tree.device, &job, tree.root.get(), out, &made), 1);
        }
        EXPECT_EQ(job.result, kRecoverDone);
        EXPECT_EQ(callback.files, static_cast<int>(kFiles.size()));
        ASSERT_FALSE(made.empty());
        for (const SourceFile& f : kFiles)
            EXPECT_EQ(ReadFileBytes(made + f.path), PatternBytes(f.size, f.seed)) << f.path;
        std::vector<std::string> items = {out, made};
        for (const auto& entry : std::filesystem::recursive_directory_iterator(made))
            items.push_back(entry.path().string());
        EXPECT_EQ(items.size(), 2 + kFiles.size() + 2); // the files and Folder, Folder/Deeper
        for (const std::string& item : items)
            EXPECT_EQ(OwnerOf(item), static_cast<long>(c.expectedOwner)) << item;
    }
}

// Nobody swaps a recovered folder for a link to a folder of root's as soon as its first file is
// there (the image's contents are theirs to choose, the link's target could be /etc/cron.d): the
// rest of that folder's files are written into nobody's tree or not at all, never through the link.
TEST(OwnershipRecovery, AFolderSwappedForALinkDuringRecoveryLeadsNowhere) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    constexpr int kCount = 8;
    const std::string image = CachedFixture("ownership-swap-fat16-v1.img", [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, FatImageOptions{16, 16 * 1024, 4, "", 0, ""}))
            return false;
        FatImage img(tmp);
        bool ok = img.MakeDir("/Folder");
        for (int i = 0; i < kCount; ++i)
            ok = ok && img.WriteFile("/Folder/F" + std::to_string(i) + ".bin", PatternBytes(2000, 100 + i),
                                     "2021-03-04 05:06:08 UTC");
        return ok;
    });
    ASSERT_FALSE(image.empty());
    CheckedTree tree(image);
    ASSERT_TRUE(tree.Ready());
    OpenTempFolder target(kNobodyUid);
    OpenTempFolder victim(0);
    ASSERT_FALSE(target.Path().empty());
    ASSERT_FALSE(victim.Path().empty());
    const std::string out = target.Path() + "/Recovered";

    WatchingCallback callback;
    bool swapped = false;
    callback.onFile = [&] {
        std::error_code ec;
        if (swapped || !fs::is_directory(out, ec))
            return;
        // The volume's folder that recovery made in `out`, and its "Folder".
        for (const auto& volume : fs::directory_iterator(out, ec)) {
            const std::string folder = volume.path().string() + "/Folder";
            if (!fs::is_directory(fs::symlink_status(folder, ec)) || fs::is_empty(folder, ec))
                continue;
            swapped = RunAsUser(kNobodyUid, [&] {
                          return ::rename(folder.c_str(), (out + "/Moved").c_str()) == 0 &&
                                         ::symlink(victim.Path().c_str(), folder.c_str()) == 0
                                     ? 0
                                     : 1;
                      }) == 0;
            return;
        }
    };
    RecoverFolderJob job;
    std::string made;
    {
        AdministratorStart start;
        EXPECT_EQ(RecoverFolder(&callback, &tree.device, &job, tree.root.get(), out, &made), 1);
    }
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(fs::is_empty(victim.Path()));
    EXPECT_EQ(OwnerOf(victim.Path()), 0);
    // Every file that was written lies in nobody's tree as nobody's, with its own bytes.
    std::vector<std::vector<std::uint8_t>> originals;
    for (int i = 0; i < kCount; ++i)
        originals.push_back(PatternBytes(2000, 100 + i));
    int found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(target.Path())) {
        EXPECT_EQ(OwnerOf(entry.path().string()), static_cast<long>(kNobodyUid)) << entry.path();
        if (!entry.is_symlink() && entry.is_regular_file()) {
            const auto bytes = ReadFileBytes(entry.path().string());
            EXPECT_NE(std::find(originals.begin(), originals.end(), bytes), originals.end()) << entry.path();
            ++found;
        }
    }
    EXPECT_GE(found, 1);
    EXPECT_LE(found, kCount);
    EXPECT_LE(callback.files, kCount);
}

// Nobody exchanges a folder of theirs with a link to a folder of root's, over and over, while the
// program makes folders and files in it: nothing is ever made in root's folder, and no folder of
// root's changes owner (the link's target could be "/" and the folder made "etc").
TEST(OwnershipRecovery, AFolderExchangedWithALinkWhileFoldersAreMadeInItLeadsNowhere) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    OpenTempFolder theirs(kNobodyUid);
    OpenTempFolder victim(0);
    ASSERT_FALSE(theirs.Path().empty());
    ASSERT_FALSE(victim.Path().empty());
    // A folder of root's under the victim, named as the program will name one of its own.
    ASSERT_EQ(::mkdir((victim.Path() + "/d7").c_str(), 0755), 0);
    const std::string work = theirs.Path() + "/work";
    const std::string swap = theirs.Path() + "/swap";
    ASSERT_EQ(RunAsUser(kNobodyUid, [&] {
                  return ::mkdir(work.c_str(), 0777) == 0 && ::symlink(victim.Path().c_str(), swap.c_str()) == 0 ? 0 : 1;
              }),
              0);

    int made = 0;
    {
        LoopingAttacker attacker(kNobodyUid, [&] {
            ::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        });
        ASSERT_TRUE(attacker.Running());
        AdministratorStart start;
        for (int i = 0; i < 4000; ++i) {
            const std::string name = work + "/d" + std::to_string(i % 50);
            if (CreateNewDirectory(name) == kErrorSuccess)
                ++made;
            CreateNewFile(name + "/f" + std::to_string(i));
        }
    }
    EXPECT_GT(made, 0);
    std::vector<std::string> inVictim;
    for (const auto& entry : fs::recursive_directory_iterator(victim.Path()))
        inVictim.push_back(entry.path().string());
    EXPECT_EQ(inVictim, std::vector<std::string>{victim.Path() + "/d7"});
    EXPECT_EQ(OwnerOf(victim.Path()), 0);
    EXPECT_EQ(OwnerOf(victim.Path() + "/d7"), 0);
    // Whatever was made went into nobody's tree, as nobody's.
    std::size_t ours = 0;
    for (const auto& entry : fs::recursive_directory_iterator(theirs.Path(), fs::directory_options::none)) {
        ++ours;
        EXPECT_EQ(OwnerOf(entry.path().string()), static_cast<long>(kNobodyUid)) << entry.path();
    }
    EXPECT_GT(ours, 2u);
}
