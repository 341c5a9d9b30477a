// Lost Partition Recovery without windows: the search dialog's model, and the wizard's steps
// driven by scripted answers over a fake machine whose only disk is an image with a wiped
// partition table.
#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/FileSelectController.h"
#include "app/wizard/SaveFileController.h"
#include "app/wizard/LostPartitionSearchModel.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "app/wizard/PageController.h"
#include "app/wizard/SheetModel.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/LostPartitionDisks.h"
#include "tests/support/LostWizardMachine.h"
#include "tests/support/ScriptedUiServices.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace testsupport;

namespace {

// ---------------------------------------------------------------------------------------------
// The search dialog's model.

TEST(LostPartitionSearchModel, TimerTextsCountTicksAndEstimateTheRest) {
    std::uint64_t now = 1000;
    CLostPartitionSearchModel m([&] { return now; });
    m.SetRange(0, 1000);
    m.SetStage(1);
    EXPECT_EQ(m.ElapsedText(), "00:00:00");
    // The first 5 s (17 ticks reach 5100 ms) read "Calculating...".
    for (int i = 0; i < 16; ++i)
        m.OnTimer();
    EXPECT_EQ(m.ElapsedText(), "00:00:04");
    EXPECT_EQ(m.RemainingText(), "Calculating...");
    m.OnTimer();  // 5100 ms, no step yet
    EXPECT_EQ(m.RemainingText(), "Calculating...");
    for (int i = 0; i < 100; ++i)
        m.StepProgress();
    m.OnTimer();  // 5400 ms: 900 left at 54 ms each = 48.6 s, shown as 49 s
    EXPECT_EQ(m.ElapsedText(), "00:00:05");
    EXPECT_EQ(m.RemainingText(), "00:00:49");
    for (int i = 0; i < 900; ++i)
        m.StepProgress();
    m.OnTimer();  // done: still at least one second
    EXPECT_EQ(m.RemainingText(), "00:00:01");

    struct Case {
        std::uint64_t ms;
        const char* text;
    } elapsed[] = {{0, "00:00:00"}, {59999, "00:00:59"}, {3600000, "01:00:00"}, {3600000 * 101 + 61000, "101:01:01"}};
    for (const Case& c : elapsed)
        EXPECT_EQ(CLostPartitionSearchModel::FormatElapsed(c.ms), c.text) << c.ms;
    EXPECT_EQ(CLostPartitionSearchModel::FormatRemaining(10, 0, 9000), "Calculating...");
    EXPECT_EQ(CLostPartitionSearchModel::FormatRemaining(5, 9, 9000), "00:00:01");  // more steps than candidates
    // A huge disk's candidate count times a long run does not overflow.
    EXPECT_EQ(CLostPartitionSearchModel::FormatRemaining(~std::uint64_t(0), 1ull << 62, 1ull << 40),
              CLostPartitionSearchModel::FormatRemaining(4, 1, 1ull << 40));
}

TEST(LostPartitionSearchModel, BarFollowsTheSearcherAfterTheFirstHalfSecond) {
    std::uint64_t now = 0;
    CLostPartitionSearchModel m([&] { return now; });
    m.SetRange(0, 50);
    m.SetStage(2);
    m.StepProgress();  // the first step takes the tick
    now = 500;
    m.StepProgress();  // not more than 500 ms later: the bar stays
    EXPECT_EQ(m.GetBar().position, 0);
    now = 501;
    m.StepProgress();
    m.StepProgress();
    EXPECT_EQ(m.GetBar().position, 4);
    EXPECT_EQ(m.StepsDone(), 4u);
    m.AddProgress();
    EXPECT_EQ(m.GetBar().position, 5);
    EXPECT_EQ(m.StepsDone(), 5u);
    m.SetPosition(20);
    EXPECT_EQ(m.GetBar().position, 20);
    EXPECT_EQ(m.GetBar().high, 50);
    EXPECT_EQ(m.PumpMessages(), 0);
}

TEST(LostPartitionSearchModel, CancelAsksAndNoKeepsSearching) {
    CLostPartitionSearchModel m([] { return std::uint64_t{0}; });
    ScriptedUiServices ui;
    m.SetRange(0, 100);
    for (int i = 0; i < 20; ++i)
        m.OnTimer();
    for (int i = 0; i < 10; ++i)
        m.StepProgress();
    m.OnTimer();
    const std::string before = m.RemainingText();
    ui.ExpectMessage(uistr::kStopSearchingQuestion, kAnswerNo);
    EXPECT_FALSE(m.OnCancel(ui));
    EXPECT_EQ(m.IsCancelled(), 0);
    EXPECT_FALSE(m.CancelQuestionOpen());

    ui.ExpectMessage(uistr::kStopSearchingQuestion, kAnswerYes);
    EXPECT_TRUE(m.OnCancel(ui));
    EXPECT_EQ(m.IsCancelled(), 1);
    // After Yes the remaining time stands still while the elapsed time goes on.
    for (int i = 0; i < 10; ++i)
        m.StepProgress();
    m.OnTimer();
    EXPECT_EQ(m.RemainingText(), before);
    EXPECT_EQ(m.ElapsedText(), "00:00:06");
    EXPECT_TRUE(m.OnCancel(ui));  // already cancelled: no second question
    EXPECT_TRUE(ui.Done());
}

TEST(LostPartitionSearchModel, FoundPartitionsAreCopiedInOrderWithTheirWindows) {
    CLostPartitionSearchModel m;
    std::vector<std::uint8_t> bytes(64 * 512);
    for (std::uint64_t first : {100u, 7u}) {
        FoundPartitionInfo p;
        p.u64FirstSector = first;
        p.u64SectorCount = 5;
        p.fileSystemType = FILESYSTEM_FAT16;
        p.SetLabel("X");
        p.pDevice = std::make_unique<CBasicPartitionDevice>(nullptr, first, 5);
        m.OnPartitionFound(&p);
        EXPECT_EQ(p.pDevice, nullptr);  // the copy took the window
    }
    m.OnPartitionFound(nullptr);
    EXPECT_EQ(m.FoundCount(), 2u);
    FoundPartitionList out;
    m.CopyFoundPartitions(out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->u64FirstSector, 100u);
    EXPECT_EQ(out[1]->u64FirstSector, 7u);
    ASSERT_NE(out[1]->pDevice, nullptr);
    EXPECT_EQ(out[1]->pDevice->GetStartSector(), 7u);
    EXPECT_EQ(m.FoundCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// The wizard on a fake machine.

constexpr std::uint64_t kCyl = kLostWizardCylinder;

// A sheet without windows.
class FakeSheet : public ISheet {
public:
    explicit FakeSheet(AppContext& ctx) : m_ctx(ctx) {}
    void SetActivePage(int index) override {
        model.SetActivePage(index, m_ctx.ModeController().GetMode());
        shown.push_back(index);
    }
    int GetActivePage() const override { return model.ActivePage(); }
    CWizardSheetModel model;
    std::vector<int> shown;

private:
    AppContext& m_ctx;
};

using Machine = LostWizardMachine;

struct Wizard {
    ScriptedUiServices ui;
    CEnumerationDeviceSource devices;
    AppContext ctx{ui, devices, platform::AppPaths{}};
    FakeSheet sheet{ctx};
    std::vector<std::string> activity;
    ActivityLogCapture previous;
    Wizard() {
        ctx.SetSheet(&sheet);
        InstallDeletedFileRecoverySteps(ctx);  // the file page and the save steps
        InstallLostPartitionRecoverySteps(ctx);
        previous = SetActivityLogCapture([this](const std::string& l) { activity.push_back(l); });
    }
    ~Wizard() { SetActivityLogCapture(previous); }
    CLostRecoveryDiskDeviceSelectController& Disks() {
        return *dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(ctx.Controller(kPageLostRecoveryDisk));
    }
    CLostRecoveryPartitionDeviceSelectController& Found() {
        return *dynamic_cast<CLostRecoveryPartitionDeviceSelectController*>(ctx.Controller(kPageLostRecoveryPartition));
    }
    CFileSelectController& Files() { return *GetFileSelectController(); }
    CFileNode* Tree() { return Files().GetFileTree(); }
    bool Logged(const std::string& line) const {
        return std::find(activity.begin(), activity.end(), line) != activity.end();
    }
    // Mode 2, the disk row, Next; the search runs to its end (or is cut after `cancelAfter`).
    // `then` queues what follows the search.
    void SearchDisk(long long cancelAfter = -1, const std::function<void()>& then = {}) {
        ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        ctx.ModeController().ChooseMode(kModeLostPartition);
        ASSERT_EQ(sheet.GetActivePage(), kPageLostRecoveryDisk);
        ASSERT_EQ(Disks().List().Count(), 1);
        Disks().List().SelectRow(0);
        ui.ExpectPartitionSearch(cancelAfter);
        if (then)
            then();
        ctx.SheetController().Next();
    }
};

std::string RowName(const IDeviceListView& list, int row) {
    return static_cast<const CModelDeviceListView&>(list).model.Row(row).cells.at(0).text;
}

// Every file of the partition's tree equals the original, read through the partition window.
void ExpectFilesMatch(IStorageDevice& device, const CFileNode* root) {
    const auto nodes = FlattenTree(root);
    for (const LostPartitionFile& f : LostPartitionFiles()) {
        const CFileNode* node = nullptr;
        for (const auto& [path, n] : nodes)
            if (path.size() >= f.path.size() && path.compare(path.size() - f.path.size(), f.path.size(), f.path) == 0 &&
                (path.size() == f.path.size() || path[path.size() - f.path.size() - 1] == '/'))
                node = n;
        ASSERT_NE(node, nullptr) << f.path;
        EXPECT_EQ(ReadNodeBytes(device, node), f.bytes) << f.path;
    }
}

TEST(LostPartitionWizard, SearchListsTheLostPartitionsAndBuildsTheQuickTree) {
    const LostPartitionDisk disk = LostWizardDisk();
    ASSERT_FALSE(disk.wiped.empty());
    Machine machine(disk.wiped);
    Wizard w;
    w.SearchDisk();

    // Page 4 lists exactly the three partitions.
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryPartition);
    const FoundPartitionList& found = w.Found().Partitions();
    ASSERT_EQ(found.size(), 3u);
    const IDeviceListView& list = w.Found().List();
    ASSERT_EQ(list.Count(), 3);
    struct Expected {
        std::uint64_t first, count;
        FileSystemType type;
        const char* name;
    } expected[] = {
        // Sizes as the file systems record them: mkfs.fat rounds to whole KiB tracks, NTFS
        // leaves out the backup boot sector at the end.
        {63, 16000, FILESYSTEM_FAT16, "LOSTFAT16-FAT16"},
        {kCyl, kCyl - 1, FILESYSTEM_NTFS, "Lost Ntfs-NTFS"},
        {16 * 2048, 34 * 2048, FILESYSTEM_FAT32, "LOSTFAT32-FAT32"},
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(found[i]->u64FirstSector, expected[i].first) << i;
        EXPECT_EQ(found[i]->u64SectorCount, expected[i].count) << i;
        EXPECT_EQ(found[i]->fileSystemType, expected[i].type) << i;
        EXPECT_EQ(RowName(list, i), expected[i].name);
        EXPECT_EQ(list.GetDeviceData(i), found[i].get());
    }
    EXPECT_TRUE(w.Logged("Quick searching disk device - ATA  LOST DISK  ATA") ||
                std::any_of(w.activity.begin(), w.activity.end(),
                            [](const std::string& l) { return l.rfind("Quick searching disk device - ", 0) == 0; }));
    EXPECT_TRUE(w.Logged("Lost partition list:"));

    // Next without a row asks for one.
    w.ui.ExpectMessage(uistr::kChoosePartitionToRecover, kAnswerOk);
    w.ctx.SheetController().Next();

    // The NTFS row: its quick tree, the "Full scan" hint (ticked: not shown again), the file page.
    w.Found().List().SelectRow(1);
    w.ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, true);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    ASSERT_NE(w.Tree(), nullptr);
    EXPECT_EQ(w.Files().GetPrevious(), &w.Found());
    EXPECT_TRUE(w.Logged("Building directory tree on partition 1"));
    RecoverySource source;
    w.Files().GetSource(source);
    EXPECT_EQ(source.kind, 2);
    EXPECT_EQ(source.pointer, found[1].get());
    EXPECT_EQ(source.device, found[1]->pDevice.get());
    ExpectFilesMatch(*found[1]->pDevice, w.Tree());

    // Every file of the partition is saved; the recovered bytes equal the originals.
    ToggleCheckState(w.Tree()->m_pFirstChild, false);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    const std::string target = ScratchDir("lost-target") + "/recovered";
    GetSaveFileController()->Page().SetTargetFolder(target);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    const SaveResultSummary summary = GetSaveResultController()->Summary();
    ASSERT_EQ(summary.folders.size(), 1u);
    EXPECT_EQ(summary.filesRecovered, summary.filesToRecover);
    for (const LostPartitionFile& f : LostPartitionFiles())
        EXPECT_EQ(ReadFileBytes(summary.folders[0] + "/" + f.path), f.bytes) << f.path;

    // Back to the file page, then back to page 4 and the FAT32 row: no hint this time.
    GetSaveResultController()->BackToFileList();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    w.ui.ExpectMessage(uistr::kQuitSearchingQuestion, kAnswerYes);
    w.ctx.SheetController().Back();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryPartition);
    EXPECT_EQ(w.Tree(), nullptr);
    w.Found().List().SelectRow(2);
    w.ui.ExpectProgress();
    w.ctx.SheetController().Next();
    ASSERT_NE(w.Tree(), nullptr);
    ExpectFilesMatch(*found[2]->pDevice, w.Tree());

    // Home from the file page resets every step, the last first.
    w.ctx.SheetController().Home();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageRecoveryMode);
    EXPECT_EQ(w.Tree(), nullptr);
    EXPECT_TRUE(w.Found().Partitions().empty());
    EXPECT_TRUE(w.Disks().Items().empty());
    EXPECT_TRUE(w.ui.Done());
}

TEST(LostPartitionWizard, CancelledSearchKeepsWhatItFound) {
    const LostPartitionDisk disk = LostWizardDisk();
    ASSERT_FALSE(disk.wiped.empty());
    Machine machine(disk.wiped);
    Wizard w;
    // Cut after the second 255-head candidate (16065): the FAT16 and NTFS partitions are found.
    w.SearchDisk(2);
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryPartition);
    ASSERT_EQ(w.Found().Partitions().size(), 2u);
    EXPECT_EQ(w.Found().Partitions()[1]->fileSystemType, FILESYSTEM_NTFS);

    // Back from page 4 frees the partitions before the disk list is built again.
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.SheetController().Back();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryDisk);
    EXPECT_TRUE(w.Found().Partitions().empty());
    // Next without a row.
    w.Disks().List().SelectRow(-1);
    w.ui.ExpectMessage(uistr::kSelectDiskToRecover, kAnswerOk);
    w.ctx.SheetController().Next();
    EXPECT_TRUE(w.ui.Done());
}

TEST(LostPartitionWizard, PartitionsInTheTableAreDroppedAndExt2IsNeverListed) {
    const LostPartitionDisk disk = LostWizardDisk();
    ASSERT_FALSE(disk.intact.empty());
    {
        // The intact table shows all three: nothing is lost, so the full scan starts at once.
        Machine machine(disk.intact);
        Wizard w;
        w.SearchDisk(-1, [&] { w.ui.ExpectMessage(uistr::kNoFilesOnDevice, kAnswerOk); });
        EXPECT_TRUE(w.Found().Partitions().empty());
        EXPECT_TRUE(w.Logged("Did not find any lost partition."));
        EXPECT_EQ(std::count(w.sheet.shown.begin(), w.sheet.shown.end(), kPageLostRecoveryPartition), 0);
        EXPECT_TRUE(w.ui.Done());
    }
    // EXT2 and EXT3 partitions are not searched for.
    const LostPartitionDisk ext = CachedLostPartitionDisk(
        "lost-wizard-ext-v1", 4 * kCyl,
        {{2048, 40960, LostFsKind::kExt2, "lost ext2"}, {3 * kCyl, 16000, LostFsKind::kExt3, "lostext3"}});
    ASSERT_FALSE(ext.wiped.empty());
    Machine machine(ext.wiped, 4 * kCyl);
    Wizard w;
    w.SearchDisk(-1, [&] { w.ui.ExpectMessage(uistr::kNoFilesOnDevice, kAnswerOk); });
    EXPECT_TRUE(w.Found().Partitions().empty());
    EXPECT_TRUE(w.ui.Done());
}

} // namespace

namespace {

class NoDisks : public IDeviceSource {
public:
    void CollectDisks(DiskList&) override {}
    void CollectVolumes(VolumeList&, DiskList&) override {}
    void FreeVolumes(VolumeList&) override {}
    void FreeDisks(DiskList&) override {}
};

class QuietImaging : public ICompressCallBack {
public:
    void PumpMessages() override {}
    int IsCancelled() override { return 0; }
    void OnBlockDone(std::uint64_t) override {}
    void SetBlockCount(std::uint64_t, std::uint64_t) override {}
};

// The disk `image` written as a block image whose header says `heads` heads per cylinder.
std::string MakeEdi(const std::string& image, const std::string& name, std::uint32_t heads) {
    const std::string path = ScratchDir("lost-edi") + "/" + name + ".edi";
    CImageFileDevice source(image.c_str());
    CCompressController writer;
    writer.Setup(&source, name.c_str(), 0, source.GetSectorCount(), heads);
    writer.SetCompressionType(COMPRESSION_NONE);
    writer.SetImagePath(path);
    QuietImaging cb;
    EXPECT_EQ(writer.CreateImage(&cb), 1);
    return path;
}

} // namespace

TEST(LostPartitionWizard, DiskImagesAreSearchedWithTheirHeadsPerCylinder) {
    // A FAT16 partition at a 240-head cylinder boundary that no 255-head or 1 MiB candidate
    // reaches.
    constexpr std::uint64_t kCyl240 = 15120;
    const LostPartitionDisk disk = CachedLostPartitionDisk("lost-wizard-240-v1", 4 * kCyl240,
                                                           {{kCyl240, 15104, LostFsKind::kFat16, "HEADS240"}});
    ASSERT_FALSE(disk.wiped.empty());
    const std::string edi240 = MakeEdi(disk.wiped, "Disk240", 240);
    const std::string edi255 = MakeEdi(disk.wiped, "Disk255", 255);

    // No disk at all (a user who is not root): the images are still listed and searched.
    ScriptedUiServices ui;
    NoDisks devices;
    AppContext ctx{ui, devices, platform::AppPaths{}};
    FakeSheet sheet{ctx};
    ctx.SetSheet(&sheet);
    InstallDeletedFileRecoverySteps(ctx);
    InstallLostPartitionRecoverySteps(ctx);
    auto& disks = *dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(ctx.Controller(kPageLostRecoveryDisk));
    auto& found = *dynamic_cast<CLostRecoveryPartitionDeviceSelectController*>(ctx.Controller(kPageLostRecoveryPartition));
    ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    ctx.ModeController().ChooseMode(kModeLostPartition);
    EXPECT_EQ(disks.List().Count(), 0);

    ui.ExpectDiskImageWizard(edi240).ExpectDiskImageWizard(edi255).ExpectDiskImageWizard(edi240);
    disks.OpenDiskImage();
    disks.OpenDiskImage();
    ui.ExpectMessage(uistr::kLostImageAlreadyOpen, kAnswerOk);
    disks.OpenDiskImage();
    ui.ExpectDiskImageWizard("");
    disks.OpenDiskImage();  // cancelled: nothing
    ASSERT_EQ(disks.List().Count(), 2);
    EXPECT_EQ(RowName(disks.List(), 0), "Image File, Disk240");
    ASSERT_EQ(disks.Images().size(), 2u);
    EXPECT_EQ(disks.Images()[0]->headsPerCylinder, 240u);
    EXPECT_EQ(disks.Images()[1]->headsPerCylinder, 255u);

    // The 240-head image: the partition is found.
    disks.List().SelectRow(0);
    ui.ExpectPartitionSearch();
    ctx.SheetController().Next();
    ASSERT_EQ(sheet.GetActivePage(), kPageLostRecoveryPartition);
    ASSERT_EQ(found.Partitions().size(), 1u);
    EXPECT_EQ(found.Partitions()[0]->u64FirstSector, kCyl240);
    found.List().SelectRow(0);
    ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, false);
    ctx.SheetController().Next();
    ASSERT_EQ(sheet.GetActivePage(), kPageFileSelect);
    ExpectFilesMatch(*found.Partitions()[0]->pDevice, GetFileSelectController()->GetFileTree());

    // Back to the disks (the images stay open); the 255-head image finds nothing, so the full
    // scan starts at once.
    ui.ExpectMessage(uistr::kQuitSearchingQuestion, kAnswerYes);
    ctx.SheetController().Back();
    ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    ctx.SheetController().Back();
    ASSERT_EQ(sheet.GetActivePage(), kPageLostRecoveryDisk);
    ASSERT_EQ(disks.List().Count(), 2);
    disks.List().SelectRow(1);
    ui.ExpectPartitionSearch().ExpectMessage(uistr::kNoFilesOnDevice, kAnswerOk);
    ctx.SheetController().Next();
    EXPECT_TRUE(found.Partitions().empty());

    // Removing an image drops its row.
    disks.List().SelectRow(0);
    disks.RemoveSelectedImage();
    ASSERT_EQ(disks.List().Count(), 1);
    EXPECT_EQ(RowName(disks.List(), 0), "Image File, Disk255");
    EXPECT_TRUE(ui.Done());
}
