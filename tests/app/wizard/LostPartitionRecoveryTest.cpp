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
#include "app/wizard/RecoveryStateFiles.h"
#include "recovery/RSData.h"
#include "app/wizard/PageController.h"
#include "app/wizard/SheetModel.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/BlockImages.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/LostPartitionDisks.h"
#include "tests/support/LostWizardMachine.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
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
    // The search adds candidates (a geometry it found): the range grows, the clock runs on.
    m.SetRange(0, 1100);
    m.OnTimer();  // 5700 ms: 1000 left at 57 ms each
    EXPECT_EQ(m.ElapsedText(), "00:00:05");
    EXPECT_EQ(m.RemainingText(), "00:00:58");
    m.SetRange(0, 1000);
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

using Machine = LostWizardMachine;

struct Wizard {
    ScriptedUiServices ui;
    CEnumerationDeviceSource devices;
    // The recovery-state files go to a folder of the test's own.
    AppContext ctx;
    explicit Wizard(const std::string& stateDir = ScratchDir("lost-state") + "/")
        : ctx(ui, devices, platform::AppPaths{"", stateDir, "", ""}) {
        Init();
    }
    FakeSheet sheet{ctx};
    std::vector<std::string> activity;
    ActivityLogCapture previous;
    void Init() {
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
    CLostRecoveryScanPartitionDeviceSelectController& Scan() {
        return *dynamic_cast<CLostRecoveryScanPartitionDeviceSelectController*>(ctx.Controller(kPageLostRecoveryScanPartition));
    }
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
    // The quick build, the hint, then the state save of the file page.
    w.ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, true).ExpectProgress();
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
    w.ui.ExpectProgress().ExpectProgress();
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

    // Back from page 4 frees the partitions before the disk list is built again, and clears
    // the full-scan switch.
    w.Found().SetFullScan(true);
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.SheetController().Back();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryDisk);
    EXPECT_TRUE(w.Found().Partitions().empty());
    EXPECT_FALSE(w.Found().FullScan());
    // Next without a row.
    w.Disks().List().SelectRow(-1);
    w.ui.ExpectMessage(uistr::kSelectDiskToRecover, kAnswerOk);
    w.ctx.SheetController().Next();

    // The program ends on the file page of a quick tree read through a partition window: the
    // steps are reset from the last to the first, so no window outlives its disk.
    w.Disks().List().SelectRow(0);
    w.ui.ExpectPartitionSearch();
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.Found().Partitions().size(), 3u);
    w.Found().List().SelectRow(0);
    w.ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, false).ExpectProgress();
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    ASSERT_NE(w.Files().GetSourceDevice(), nullptr);
    EXPECT_TRUE(w.ui.Done());
}

TEST(LostPartitionWizard, PartitionsInTheTableGoStraightToTheFullScan) {
    const LostPartitionDisk disk = LostWizardDisk();
    ASSERT_FALSE(disk.intact.empty());
    // The intact table shows all three: nothing is lost, so the full scan starts at once and
    // its partitions go to step 3, whose previous step is step 1.
    Machine machine(disk.intact);
    Wizard w;
    w.SearchDisk(-1, [&] { w.ui.ExpectDeepScan(); });
    EXPECT_TRUE(w.Found().Partitions().empty());
    EXPECT_TRUE(w.Logged("Did not find any lost partition."));
    EXPECT_TRUE(w.Logged("Intelligent searching disk device - ATA   LOST DISK  ATA Bus"));
    EXPECT_EQ(std::count(w.sheet.shown.begin(), w.sheet.shown.end(), kPageLostRecoveryPartition), 0);
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryScanPartition);
    EXPECT_EQ(w.Scan().GetPrevious(), &w.Disks());
    CFoundPartitionListModel& list = w.Scan().List();
    EXPECT_GE(list.RowCount(), 3);
    EXPECT_NE(w.Scan().Pane().PartitionLayout().Caption().find("ATA   LOST DISK  ATA Bus"), std::string::npos);

    // Next builds the ticked trees (each behind its own progress dialog), then the file page
    // saves the state; its Back returns to step 3, and step 3's Back (asked first) to step 1.
    const int ticked = list.GetCheckedCount();
    ASSERT_GE(ticked, 1);
    for (int i = 0; i < ticked; ++i)
        w.ui.ExpectProgress();
    w.ui.ExpectProgress();
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    w.ui.ExpectMessage(uistr::kQuitSearchingQuestion, kAnswerYes);
    w.ctx.SheetController().Back();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryScanPartition);
    w.ui.ExpectMessage(uistr::kGoBackToDeviceListQuestion, kAnswerNo);
    w.ctx.SheetController().Back();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryScanPartition);
    w.ui.ExpectMessage(uistr::kGoBackToDeviceListQuestion, kAnswerYes).ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.SheetController().Back();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryDisk);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_TRUE(w.ui.Done());
}

TEST(LostPartitionWizard, LostExt2PartitionsAreNeverListed) {
    const LostPartitionDisk ext = CachedLostPartitionDisk(
        "lost-wizard-ext-v1", 4 * kCyl,
        {{2048, 40960, LostFsKind::kExt2, "lost ext2"}, {3 * kCyl, 16000, LostFsKind::kExt3, "lostext3"}});
    ASSERT_FALSE(ext.wiped.empty());
    Machine machine(ext.wiped, 4 * kCyl);
    Wizard w;
    // Nothing for the search, nothing for the full scan's FAT and NTFS controllers, no carved
    // file: "can not find any files".
    w.SearchDisk(-1, [&] {
        w.ui.ExpectDeepScan().ExpectProgress().ExpectMessage(uistr::kNoFilesOnDevice, kAnswerOk);
    });
    EXPECT_TRUE(w.Found().Partitions().empty());
    EXPECT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryDisk);
    EXPECT_TRUE(w.Logged("Did not find any RAWfiles"));
    EXPECT_TRUE(w.ui.Done());
}

} // namespace

namespace {

// The disk `image` written as a block image whose header says `heads` heads per cylinder.
std::string MakeEdi(const std::string& image, const std::string& name, std::uint32_t heads) {
    const std::string path = ScratchDir("lost-edi") + "/" + name + ".edi";
    BlockImageOptions options;
    options.caption = name;
    options.heads = heads;
    WriteBlockImage(image, path, options);
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
    NoDevices devices;
    AppContext ctx{ui, devices, platform::AppPaths{"", ScratchDir("lost-edi-state") + "/", "", ""}};
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
    ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, false).ExpectProgress();
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
    ui.ExpectPartitionSearch().ExpectDeepScan();
    ctx.SheetController().Next();
    EXPECT_TRUE(found.Partitions().empty());
    // The deep scan finds the partition; the layout shows the image by its name.
    auto& scan = *dynamic_cast<CLostRecoveryScanPartitionDeviceSelectController*>(ctx.Controller(kPageLostRecoveryScanPartition));
    ASSERT_EQ(sheet.GetActivePage(), kPageLostRecoveryScanPartition);
    ASSERT_GE(scan.List().RowCount(), 1);
    EXPECT_EQ(scan.List().Record(0)->firstSector, kCyl240);
    EXPECT_NE(scan.Pane().PartitionLayout().Caption().find("Disk255"), std::string::npos);
    ui.ExpectMessage(uistr::kGoBackToDeviceListQuestion, kAnswerYes).ExpectWaiting(uistr::kPleaseWaitScanning);
    ctx.SheetController().Back();
    ASSERT_EQ(sheet.GetActivePage(), kPageLostRecoveryDisk);

    // Removing an image drops its row.
    ASSERT_EQ(disks.List().Count(), 2);
    disks.List().SelectRow(0);
    disks.RemoveSelectedImage();
    ASSERT_EQ(disks.List().Count(), 1);
    EXPECT_EQ(RowName(disks.List(), 0), "Image File, Disk255");
    EXPECT_TRUE(ui.Done());
}

namespace {

// Ticks the whole tree, saves it through the save steps and gives every recovered file's bytes.
std::multiset<std::vector<std::uint8_t>> SaveEverything(Wizard& w, const std::string& name) {
    std::multiset<std::vector<std::uint8_t>> out;
    CFileNode* root = w.Tree();
    EXPECT_NE(root, nullptr);
    if (!root)
        return out;
    ToggleCheckState(root, false);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    const std::string target = ScratchDir(name) + "/recovered";
    GetSaveFileController()->Page().SetTargetFolder(target);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    for (const auto& e : std::filesystem::recursive_directory_iterator(target))
        if (e.is_regular_file())
            out.insert(ReadFileBytes(e.path().string()));
    return out;
}

int RowAtSector(CFoundPartitionListModel& list, std::uint64_t first) {
    for (int i = 0; i < list.RowCount(); ++i)
        if (list.Record(i)->firstSector == first)
            return i;
    return -1;
}

std::uint32_t StageOf(const std::string& path) {
    CRSDataEx reader(RSDATA_READ);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return reader.OpenBuffer(bytes.data(), bytes.size()) ? reader.GetStage() : 99;
}

} // namespace

TEST(LostPartitionWizard, FullScanBuildsTheTickedPartitionsAndRestoresInTheNextRun) {
    const LostPartitionDisk disk = LostWizardDisk();
    ASSERT_FALSE(disk.wiped.empty());
    Machine machine(disk.wiped);
    const std::string state = ScratchDir("lost-full-state") + "/";
    const std::string stage3 = ScratchDir("lost-stage3") + "/stage3.rdf";
    const std::string stage4 = ScratchDir("lost-stage4") + "/stage4.rdf";
    std::vector<std::string> scanRows;
    {
        Wizard w(state);
        w.SearchDisk();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryPartition);
        RecoveryStatePaths paths;
        ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanLostPartition, paths));
        EXPECT_EQ(StageOf(paths.temporary), 3u);  // the found partitions were saved
        std::filesystem::copy_file(paths.temporary, stage3);

        // "Deep Scan Recovery" on page 4 (a row selected or not): the whole disk is deep-scanned.
        w.Found().List().SelectRow(0);
        w.Found().SetFullScan(true);
        w.ui.ExpectDeepScan();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryScanPartition);
        EXPECT_EQ(w.Scan().GetPrevious(), &w.Found());
        EXPECT_EQ(w.Found().Chosen(), nullptr);
        EXPECT_EQ(StageOf(paths.temporary), 4u);
        std::filesystem::copy_file(paths.temporary, stage4);

        // Page 8: the three partitions with their suggestions, up to four start ticked.
        CFoundPartitionListModel& list = w.Scan().List();
        const int fat16 = RowAtSector(list, 63), ntfs = RowAtSector(list, kCyl), fat32 = RowAtSector(list, 16 * 2048);
        ASSERT_GE(fat16, 0);
        ASSERT_GE(ntfs, 0);
        ASSERT_GE(fat32, 0);
        EXPECT_EQ(list.AutoCheckLimit(), 4u);
        EXPECT_EQ(list.GetCheckedCount(), 3);
        int best = 0;
        for (int i = 1; i < list.RowCount(); ++i)
            if (list.Record(i)->rank > list.Record(best)->rank)
                best = i;
        EXPECT_EQ(list.FormatSuggestion(list.Record(best)->rank), "High");
        EXPECT_EQ(w.Scan().Pane().PartitionLayout().BlockCount(), 3);  // the ticked ones
        for (int i = 0; i < list.RowCount(); ++i)
            scanRows.push_back(list.Record(i)->name);

        // Two rows ticked: both trees are built and saved with the originals' bytes.
        ASSERT_TRUE(list.ToggleBox(fat16, 0, 0));
        EXPECT_EQ(list.GetCheckedCount(), 2);
        w.ui.ExpectProgress().ExpectProgress().ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        int trees = 0;
        for (CFileNode* c = w.Tree()->m_pFirstChild; c; c = c->m_pNextSibling)
            ++trees;
        EXPECT_EQ(trees, 2);
        const auto recovered = SaveEverything(w, "lost-full-save");
        for (const LostPartitionFile& f : LostPartitionFiles())
            EXPECT_EQ(recovered.count(f.bytes), 2u) << f.path;  // once from each partition
    }

    // The next run offers the result saved at stage 3: page 4 with the same partitions.
    {
        const std::string dir = ScratchDir("lost-restore-3") + "/";
        std::filesystem::copy_file(stage3, dir + "brulinlpslast.rdf");
        Wizard w(dir);
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.ctx.ModeController().ChooseMode(kModeLostPartition);
        ASSERT_EQ(w.Disks().List().Count(), 2);
        EXPECT_EQ(RowName(w.Disks().List(), 0), "Previous Recovery...");
        EXPECT_EQ(w.Disks().List().GetDeviceData(0), nullptr);
        EXPECT_EQ(static_cast<const CModelDeviceListView&>(w.Disks().List()).model.Row(0).cells.at(2).text,
                  "Results for \r\nDisk \"ATA   LOST DISK  ATA Bus\"");
        w.Disks().List().SelectRow(0);
        w.ui.ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryPartition);
        EXPECT_EQ(w.activity.back(), "Completely restore last recovery.");
        ASSERT_EQ(w.Found().Partitions().size(), 3u);
        EXPECT_EQ(w.Found().Partitions()[1]->u64FirstSector, kCyl);
        EXPECT_EQ(RowName(w.Found().List(), 2), "LOSTFAT32-FAT32");
        // The restored windows read the disk: the quick tree of the FAT32 partition.
        w.Found().List().SelectRow(2);
        w.ui.ExpectProgress().ExpectCheckBox(uistr::kFullScanHint, kAnswerOk, false).ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        ExpectFilesMatch(*w.Found().Partitions()[2]->pDevice, w.Tree());
        EXPECT_TRUE(w.ui.Done());
    }

    // Saved at stage 4: page 8 with the same rows; the trees build from the restored controllers.
    {
        const std::string dir = ScratchDir("lost-restore-4") + "/";
        std::filesystem::copy_file(stage4, dir + "brulinlpslast.rdf");
        Wizard w(dir);
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.ctx.ModeController().ChooseMode(kModeLostPartition);
        w.Disks().List().SelectRow(0);
        w.ui.ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryScanPartition);
        CFoundPartitionListModel& list = w.Scan().List();
        std::vector<std::string> rows;
        for (int i = 0; i < list.RowCount(); ++i)
            rows.push_back(list.Record(i)->name);
        EXPECT_EQ(rows, scanRows);
        EXPECT_EQ(w.Found().Partitions().size(), 3u);  // step 2 came back too
        const int ntfs = RowAtSector(list, kCyl);
        ASSERT_GE(ntfs, 0);
        for (int i = 0; i < list.RowCount(); ++i)
            if ((list.IsRowChecked(i) != 0) != (i == ntfs)) {
                ASSERT_TRUE(list.ToggleBox(i, 0, 0));
            }
        w.ui.ExpectProgress().ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        const auto recovered = SaveEverything(w, "lost-restore-save");
        for (const LostPartitionFile& f : LostPartitionFiles())
            EXPECT_EQ(recovered.count(f.bytes), 1u) << f.path;
        EXPECT_TRUE(w.ui.Done());
    }

    // A damaged file: message 141, nothing restored.
    {
        const std::string dir = ScratchDir("lost-restore-bad") + "/";
        std::vector<std::uint8_t> bytes = ReadFileBytes(stage4);
        bytes.resize(bytes.size() / 2);
        ASSERT_TRUE(WriteFileBytes(dir + "brulinlpslast.rdf", bytes));
        Wizard w(dir);
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.ctx.ModeController().ChooseMode(kModeLostPartition);
        ASSERT_EQ(w.Disks().List().Count(), 2);
        w.Disks().List().SelectRow(0);
        w.ui.ExpectProgress().ExpectMessage(uistr::kFailedToLoadLostResult, kAnswerOk);
        w.ctx.SheetController().Next();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageLostRecoveryDisk);
        EXPECT_EQ(w.Disks().SelectedSource(), nullptr);
        EXPECT_TRUE(w.Found().Partitions().empty());
        EXPECT_EQ(w.Scan().List().RowCount(), 0);

        // "Remove" on the saved-result row deletes the last file and the row.
        w.Disks().List().SelectRow(0);
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.Disks().RemoveSavedStateRow();
        EXPECT_FALSE(std::filesystem::exists(dir + "brulinlpslast.rdf"));
        ASSERT_EQ(w.Disks().List().Count(), 1);
        EXPECT_NE(w.Disks().List().GetDeviceData(0), nullptr);
        w.Disks().RemoveSavedStateRow();  // a disk row: nothing
        EXPECT_EQ(w.Disks().List().Count(), 1);
        EXPECT_TRUE(w.ui.Done());
    }
}

TEST(LostPartitionWizard, SectorsStay64BitFromTheSearchToTheRows) {
    constexpr std::uint64_t kHigh = (std::uint64_t{1} << 32) + 63;  // 63 in its low 32 bits
    constexpr std::uint64_t kFiveTiB = std::uint64_t{5} << 31;       // sectors
    auto record = [](std::uint64_t first, std::uint64_t count, const char* label) {
        auto p = std::make_unique<FoundPartitionInfo>();
        p->u64FirstSector = first;
        p->u64SectorCount = count;
        p->fileSystemType = FILESYSTEM_NTFS;
        p->SetLabel(label);
        return p;
    };
    FoundPartitionList found;
    found.push_back(record(63, kFiveTiB, "Big"));
    found.push_back(record(kHigh, 1000, "High"));
    PartitionList table;
    table.push_back(std::make_unique<PartitionEntry>());
    table.back()->u64FirstSector = kHigh;  // the table shows the second one only
    FoundPartitionList lost;
    MergeFoundPartitions(found, table, lost);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0]->u64FirstSector, 63u);
    EXPECT_TRUE(found.empty());

    Wizard w;
    w.Found().SetFoundPartitions(std::move(lost));
    ASSERT_EQ(w.Found().List().Count(), 1);
    const auto& row = static_cast<const CModelDeviceListView&>(w.Found().List()).model.Row(0);
    EXPECT_EQ(row.cells.at(0).text, "Big-NTFS");
    EXPECT_EQ(row.cells.at(1).text, uifmt::FormatSectorsSize64(kFiveTiB));
    EXPECT_EQ(static_cast<FoundPartitionInfo*>(w.Found().List().GetDeviceData(0))->u64SectorCount, kFiveTiB);
    EXPECT_TRUE(w.Logged("   0     NTFS            63   10737418240"));
}
