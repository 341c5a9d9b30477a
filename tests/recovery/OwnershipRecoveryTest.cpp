// Recovery after an administrator start: what is written into a folder of the desktop user's
// becomes theirs, into root's own folder stays root's, and a target without owners (FAT: the
// change of owner is refused) still counts every file recovered. As root for nobody; skipped for
// other users.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "platform/DesktopUser.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/DesktopUserKit.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testsupport;

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

int RefusingChown(int, uid_t, gid_t) {
    errno = EPERM;
    return -1;
}

} // namespace

TEST(OwnershipRecovery, RecoveredItemsBelongToTheOwnerOfTheTargetFolder) {
    const std::string why = AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    const FatImageOptions options{16, 16 * 1024, 4, "", 0, ""};
    const std::string image = CachedFixture("ownership-fat16-v1.img", [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        bool ok = img.MakeDir("/Folder") && img.MakeDir("/Folder/Deeper");
        for (const SourceFile& f : kFiles)
            ok = ok && img.WriteFile(f.path, PatternBytes(f.size, f.seed), "2021-03-04 05:06:08 UTC");
        return ok;
    });
    ASSERT_FALSE(image.empty());

    struct Case {
        const char* name;
        uid_t folderOwner;
        platform::ChownHook chown; // null: the real one
        uid_t expectedOwner;
    };
    const Case cases[] = {
        {"a folder of the desktop user's", kNobodyUid, nullptr, kNobodyUid},
        {"root's own folder", 0, nullptr, 0},
        {"a target without owners", kNobodyUid, RefusingChown, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CImageFileDevice device(image.c_str());
        CNullDirBuildCallback build;
        std::uint8_t boot[kSectorSize];
        ASSERT_EQ(device.ReadSectors(boot, 0, 1), 1);
        CFATSearchedPartitionInfo part;
        ASSERT_TRUE(InitFATSearchedPartitionInfo(part, boot, sizeof boot, 0));
        TreePtr root(BuildFatFileTree(&build, &part, nullptr, &device, 1));
        ASSERT_TRUE(root);
        for (int i = 0; i < 3 && root->m_pProperties->GetCheckState() != CHECKSTATE_CHECKED; ++i)
            ToggleCheckState(root.get(), false);
        ASSERT_EQ(root->m_pProperties->GetCheckState(), CHECKSTATE_CHECKED);

        OpenTempFolder target(c.folderOwner);
        ASSERT_FALSE(target.Path().empty());
        // A target path whose last folder is made by the recovery too.
        const std::string out = target.Path() + "/Recovered";
        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        {
            AdministratorStart start;
            platform::SetChownHookForTests(c.chown);
            EXPECT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
            platform::SetChownHookForTests(nullptr);
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
