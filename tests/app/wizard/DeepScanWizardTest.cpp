// Deep Scan Recovery end to end without windows, on a damaged disk image made by the real
// tools: Ctrl+O on the image, the deep scan, the found-partition page, the trees of the ticked
// partitions, the recovered bytes; the saved state restored by a fresh context (the next run);
// and the edge paths (RAW only, nothing to search with, a cancelled search, too many ticks).
#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/CompleteRecoveryScanPartitionController.h"
#include "app/wizard/DeepScanButton.h"
#include "app/wizard/DeepScanRun.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/FileSelectController.h"
#include "app/wizard/SaveFileController.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "app/wizard/SheetModel.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"
#include "storage/CompressCallBack.h"
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "platform/DriveLetters.h"
#include "tests/support/BlockImages.h"
#include "tests/support/DeepScanDisk.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
#include "ui/controls/StringTable.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace testsupport;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct DeepWizard {
    ScriptedUiServices ui;
    NoDevices devices;
    AppContext ctx;
    FakeSheet sheet{ctx};
    std::vector<std::string> activity;
    ActivityLogCapture previous;

    explicit DeepWizard(const std::string& stateDir)
        : ctx(ui, devices, platform::AppPaths{"", stateDir, "", ""}) {
        ctx.SetSheet(&sheet);
        InstallDeletedFileRecoverySteps(ctx);
        InstallDeepScanSteps(ctx);
        previous = SetActivityLogCapture([this](const std::string& l) { activity.push_back(l); });
    }
    ~DeepWizard() { SetActivityLogCapture(previous); }
    CCompleteRecoveryPartitionDeviceSelectController& Step1() {
        return *static_cast<CCompleteRecoveryPartitionDeviceSelectController*>(
            ctx.Controller(kPageCompleteRecoveryPartition));
    }
    CFileSelectController& Files() { return *GetFileSelectController(); }
    CFileSystemNode* Tree() { return dynamic_cast<CFileSystemNode*>(Files().GetFileTree()); }
    // Select All, Next, the target, Next: the result page; returns the folder the files went to.
    std::string SaveEverything(const std::string& name) {
        CFileSystemNode* root = Tree();
        EXPECT_TRUE(root);
        if (!root)
            return "";
        ToggleCheckState(root, false);
        Files().Page().RefreshStatus();
        ctx.SheetController().Next();
        EXPECT_EQ(sheet.GetActivePage(), kPageSaveFile);
        const std::string target = ScratchDir(name) + "/recovered";
        GetSaveFileController()->Page().SetTargetFolder(target);
        ctx.SheetController().Next();
        EXPECT_EQ(sheet.GetActivePage(), kPageSaveResult);
        return target;
    }
    CCompleteRecoveryScanPartitionDeviceSelectController& Step2() {
        return *static_cast<CCompleteRecoveryScanPartitionDeviceSelectController*>(
            ctx.Controller(kPageCompleteRecoveryScanPartition));
    }
    // Deep Scan Recovery from the mode page: the device page comes up.
    void ChooseDeepScan() {
        ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        ctx.ModeController().ChooseMode(kModeDeepScan);
    }
    // Ctrl+O on the image: the search runs to its end (or is cancelled after `cancelAt` chunks).
    void OpenImage(const std::string& path, int cancelAt = -1) {
        ui.ExpectOpenFile(path);
        ui.ExpectDeepScan(cancelAt);
        Step1().OpenRawImageFile();
    }
};

struct ScopedOptions {
    ScopedOptions() { GetScanOptions().SetDefaults(); }
    ~ScopedOptions() { GetScanOptions().SetDefaults(); }
};

// Every file below `root` that `recovered` holds: each file's bytes, by content.
std::multiset<Bytes> RecoveredContents(const std::string& folder) {
    std::multiset<Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            out.insert(ReadFileBytes(e.path().string()));
    return out;
}

std::vector<std::string> ChildNames(CFileNode* folder) {
    std::vector<std::string> names;
    for (CFileNode* c = folder ? folder->m_pFirstChild : nullptr; c; c = c->m_pNextSibling)
        names.push_back(
            c->m_pProperties && c->m_pProperties->GetName() ? c->m_pProperties->GetName() : "?");
    return names;
}

void ExpectOriginalsRecovered(const std::multiset<Bytes>& recovered, const DeepScanDisk& disk,
                              bool partitions, bool carved) {
    if (partitions) {
        for (const auto* list : {&disk.ntfsFiles, &disk.fatFiles})
            for (const DeepScanFile& f : *list)
                EXPECT_TRUE(recovered.count(f.bytes)) << f.name;
    }
    if (carved) {
        for (const DeepScanFile& f : disk.planted)
            EXPECT_TRUE(recovered.count(f.bytes)) << f.name << " at " << f.sector;
    }
}

std::uint32_t StageOfFileBytes(const Bytes& bytes) {
    CRSDataEx reader(RSDATA_READ);
    return reader.OpenBuffer(bytes.data(), bytes.size()) ? reader.GetStage() : 99;
}

int RowOfType(CFoundPartitionListModel& model, std::uint32_t type) {
    for (int i = 0; i < model.RowCount(); ++i)
        if (model.Record(i)->fileSystem == type)
            return i;
    return -1;
}

} // namespace

TEST(DeepScanWizard, RawImageToSavedFilesThenRestoredInTheNextRun) {
    ScopedOptions options;
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    const std::string state = ScratchDir("deep-state") + "/";
    const std::string stage1Copy = ScratchDir("deep-stage1") + "/stage1.rdf";
    Bytes firstSave;
    std::vector<std::string> firstRows;
    {
        DeepWizard w(state);
        w.ChooseDeepScan();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);
        EXPECT_EQ(w.Step1().ListView().Count(), 0); // no disk, no saved result, no image
        w.OpenImage(disk.path);
        ASSERT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
        const VolumeRecord* source = w.Step1().SelectedSource();
        ASSERT_TRUE(source);
        EXPECT_EQ(std::string(source->szImagePath), disk.path);
        EXPECT_EQ(w.Step1().ListView().Count(), 0); // the image is scanned, not listed

        // Page 7: both partitions with their suggestions; the best one ticked.
        CFoundPartitionListModel& list = w.Step2().List();
        const int fatRow = RowOfType(list, FILESYSTEM_FAT32);
        const int ntfsRow = RowOfType(list, FILESYSTEM_NTFS);
        ASSERT_GE(fatRow, 0);
        ASSERT_GE(ntfsRow, 0);
        EXPECT_EQ(list.GetCheckedCount(), 1);
        int best = 0;
        for (int i = 1; i < list.RowCount(); ++i)
            if (list.Record(i)->rank > list.Record(best)->rank)
                best = i;
        EXPECT_TRUE(list.IsRowChecked(best));
        EXPECT_EQ(list.Record(best)->kind, 1u);
        EXPECT_EQ(list.FormatSuggestion(list.Record(best)->rank), "High");
        EXPECT_EQ(list.Record(ntfsRow)->firstSector, disk.ntfsStart);
        EXPECT_EQ(list.Record(fatRow)->firstSector, disk.fatStart);
        EXPECT_EQ(list.Record(fatRow)->lastSector, disk.fatStart + disk.fatSectors - 1);
        EXPECT_NE(w.Step2().Pane().PartitionLayout().Caption().find("disk.img"), std::string::npos);
        EXPECT_EQ(w.Step2().Pane().PartitionLayout().BlockCount(), 1); // the ticked one
        for (int row : {fatRow, ntfsRow})
            if (!list.IsRowChecked(row)) {
                ASSERT_TRUE(list.ToggleBox(row, 0, 0));
            }
        EXPECT_EQ(w.Step2().Pane().PartitionLayout().BlockCount(), 2);
        EXPECT_EQ(list.GetCheckedCount(), 2);
        for (int i = 0; i < list.RowCount(); ++i)
            firstRows.push_back(list.Record(i)->name);

        // The scan's state went to the temporary file at stage 1.
        RecoveryStatePaths paths;
        ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanDeep, paths));
        fs::copy_file(paths.temporary, stage1Copy);

        // Next: both trees under "Root", in reverse order of their rows; the file page saves
        // the recovery state behind its progress dialog.
        w.ui.ExpectProgress().ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        CFileSystemNode* root = w.Tree();
        ASSERT_TRUE(root);
        EXPECT_STREQ(root->m_pProperties->GetName(), "Root");
        const auto names = ChildNames(root);
        ASSERT_EQ(names.size(), 2u);
        auto* firstBuilt = static_cast<CFileSystemNode*>(root->m_pFirstChild->m_pNextSibling);
        EXPECT_EQ(firstBuilt->m_fileSystemType,
                  std::min(fatRow, ntfsRow) == fatRow ? FILESYSTEM_FAT32 : FILESYSTEM_NTFS);

        const std::string out = w.SaveEverything("deep-save-1");
        ExpectOriginalsRecovered(RecoveredContents(out), disk, true, false);
        // The pictures in the FAT partition's free clusters come back from its "Raw Files".
        const auto recovered = RecoveredContents(out);
        EXPECT_TRUE(recovered.count(disk.planted[2].bytes));
        EXPECT_TRUE(recovered.count(disk.planted[3].bytes));
        firstSave = ReadFileBytes(paths.temporary);
        ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanDeep, paths));
        EXPECT_EQ(StageOfFileBytes(firstSave), 2u);
    }

    // The next run: the file page's state is offered and restored.
    {
        DeepWizard w(state);
        w.ChooseDeepScan();
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        EXPECT_TRUE(w.Step1().HasSavedState());
        auto* model = dynamic_cast<CModelDeviceListView*>(&w.Step1().ListView());
        ASSERT_TRUE(model);
        EXPECT_EQ(model->model.Row(0).itemData, nullptr);
        EXPECT_EQ(w.Step1().ListView().GetDeviceData(0), nullptr);
        w.Step1().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        EXPECT_EQ(w.activity.back(), "Completely restore last recovery.");
        CFileSystemNode* root = w.Tree();
        ASSERT_TRUE(root);
        EXPECT_EQ(ChildNames(root).size(), 2u);
        const VolumeRecord* source = w.Step1().SelectedSource();
        ASSERT_TRUE(source && source->pStorageDevice);
        const std::string out = w.SaveEverything("deep-save-2");
        ExpectOriginalsRecovered(RecoveredContents(out), disk, true, false);
        // The same partitions are held by step 2.
        std::vector<std::string> rows;
        for (int i = 0; i < w.Step2().List().RowCount(); ++i)
            rows.push_back(w.Step2().List().Record(i)->name);
        EXPECT_EQ(rows, firstRows);
    }

    // A file saved at stage 1 restores to the partition page with the same partitions.
    {
        const std::string state2 = ScratchDir("deep-state-2") + "/";
        fs::copy_file(stage1Copy, state2 + "brulincslast.rdf");
        DeepWizard w(state2);
        w.ChooseDeepScan();
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        w.Step1().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
        EXPECT_EQ(w.Tree(), nullptr);
        std::vector<std::string> rows;
        for (int i = 0; i < w.Step2().List().RowCount(); ++i)
            rows.push_back(w.Step2().List().Record(i)->name);
        EXPECT_EQ(rows, firstRows);
        EXPECT_EQ(w.Step2().List().GetCheckedCount(), 1);

        // Back asks first; NO stays.
        w.ui.ExpectMessage(uistr::kGoBackToDeviceList, kAnswerNo);
        w.ctx.SheetController().Back();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
    }

    // A damaged state file: message 129, nothing restored, the page stays.
    {
        const std::string state3 = ScratchDir("deep-state-3") + "/";
        Bytes damaged = firstSave;
        damaged.resize(damaged.size() * 2 / 3);
        ASSERT_TRUE(WriteFileBytes(state3 + "brulincslast.rdf", damaged));
        DeepWizard w(state3);
        w.ChooseDeepScan();
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        w.Step1().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ui.ExpectMessage(uistr::kFailedToLoadLastResult, kAnswerOk);
        w.ctx.SheetController().Next();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);
        EXPECT_EQ(w.Step1().SelectedSource(), nullptr);
        EXPECT_EQ(w.Step2().List().RowCount(), 0);
        EXPECT_EQ(w.Tree(), nullptr);
        EXPECT_EQ(w.activity.back(), "Failed to restore last recovery.");
    }
}

TEST(DeepScanWizard, RawOnlyGoesStraightToTheFilePage) {
    ScopedOptions options;
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    GetScanOptions().RecoverRawFilesOnly = 1;
    DeepWizard w(ScratchDir("deep-raw-only") + "/");
    w.ChooseDeepScan();
    w.ui.ExpectOpenFile(disk.path);
    w.ui.ExpectDeepScan();
    w.ui.ExpectProgress(); // the "Raw Files" folder
    w.ui.ExpectProgress(); // the recovery state saved by the file page
    w.Step1().OpenRawImageFile();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    EXPECT_EQ(w.Step2().List().RowCount(), 0);
    EXPECT_NE(std::find(w.activity.begin(), w.activity.end(),
                        "Did not find any possible partition. Building RAW file tree."),
              w.activity.end());
    CFileSystemNode* root = w.Tree();
    ASSERT_TRUE(root);
    ASSERT_EQ(ChildNames(root), std::vector<std::string>{"Raw Files"});
    const std::string out = w.SaveEverything("deep-raw-only-save");
    ExpectOriginalsRecovered(RecoveredContents(out), disk, false, true);
}

TEST(DeepScanWizard, NothingToSearchWithFindsNoFiles) {
    ScopedOptions options;
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    GetScanOptions().RecoverRawFilesOnly = 1;
    GetScanOptions().RecoverRawFiles = 0;
    SearchControllerList none;
    BuildSearchControllers(none);
    EXPECT_TRUE(none.empty());
    DeepWizard w(ScratchDir("deep-nothing") + "/");
    w.ChooseDeepScan();
    w.ui.ExpectOpenFile(disk.path);
    w.ui.ExpectDeepScan();
    w.ui.ExpectProgress();
    w.ui.ExpectMessage(uistr::kNoFilesFound, kAnswerOk);
    w.Step1().OpenRawImageFile();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);
    EXPECT_EQ(w.activity.back(), "Did not find any RAWfiles");
    EXPECT_EQ(w.Tree(), nullptr);
}

TEST(DeepScanWizard, CancelledSearchListsWhatWasFound) {
    ScopedOptions options;
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    DeepWizard w(ScratchDir("deep-cancel") + "/");
    w.ChooseDeepScan();
    w.OpenImage(disk.path, 5); // the user cancels after five chunks of 1000 sectors
    ASSERT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
    CFoundPartitionListModel& list = w.Step2().List();
    ASSERT_GT(list.RowCount(), 0);
    EXPECT_EQ(RowOfType(list, FILESYSTEM_FAT32), -1); // beyond the chunks searched
    EXPECT_GE(RowOfType(list, FILESYSTEM_NTFS), 0);
}

TEST(DeepScanWizard, TicksStepOneChoicesAndRemovingTheSavedResult) {
    ScopedOptions options;
    const std::string state = ScratchDir("deep-ticks") + "/";
    DeepWizard w(state);
    w.ChooseDeepScan();
    // Next without a row.
    w.ui.ExpectMessage(uistr::kSelectPartitionToRecover, kAnswerOk);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);

    // Five made-up FAT partitions on a blank image: five ticks are refused, four build nothing.
    const std::string blank = ScratchDir("deep-ticks-image") + "/blank.img";
    ASSERT_TRUE(WriteFileBytes(blank, Bytes(4096 * 512, 0)));
    w.ui.ExpectOpenFile(blank);
    w.ui.ExpectDeepScan();
    w.ui.ExpectProgress();
    w.ui.ExpectMessage(uistr::kNoFilesFound, kAnswerOk);
    w.Step1().OpenRawImageFile();
    DeepScanResults results;
    results.carved = std::make_unique<CRawFileList>();
    BuildSearchControllers(results.controllers);
    for (int i = 0; i < 5; ++i) {
        auto p = CreateSearchedPartitionInfoByKind(SEARCHED_PARTITION_FAT);
        p->m_fileSystemType = FILESYSTEM_FAT16;
        p->m_u64KeptFirstSector = static_cast<std::uint64_t>(i) * 800;
        p->m_u32SectorCount = 800;
        p->m_u32Chosen = 1;
        p->m_relativeScore = 0.5;
        results.partitions.push_back(std::move(p));
    }
    w.Step2().SetPrevious(&w.Step1());
    w.Step2().SetScanResults(std::move(results));
    w.Step2().Activate();
    RecoveryStatePaths paths;
    ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanDeep, paths));
    const std::string stage1 = paths.temporary + ".copy";
    fs::copy_file(paths.temporary, stage1);
    CFoundPartitionListModel& list = w.Step2().List();
    ASSERT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.GetCheckedCount(), 1); // one suggestion only, even when several are marked
    for (int i = 1; i < 5; ++i)
        list.ToggleBox(i, 0, 0);
    ASSERT_EQ(list.GetCheckedCount(), 5);
    w.ui.ExpectMessage(uistr::kSelectFirstSuggestedPartition, kAnswerOk);
    w.ctx.SheetController().Next();
    list.ToggleBox(4, 0, 0);
    w.ui.ExpectProgress();
    w.ui.ExpectMessage(uistr::kNoFilesFound, kAnswerOk);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
    for (int i = 0; i < 4; ++i)
        list.ToggleBox(i, 0, 0);
    ASSERT_EQ(list.GetCheckedCount(), 0);
    w.ui.ExpectMessage(uistr::kNoPartitionTicked, kAnswerOk);
    w.ctx.SheetController().Next();

    // Back to the device list (its temporary file goes back to stage 0). The saved result of
    // the scan is offered once it is the last one; removing its row deletes the file.
    w.ui.ExpectMessage(uistr::kGoBackToDeviceList, kAnswerYes);
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.SheetController().Back();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_TRUE(w.Step2().Results().partitions.empty());
    EXPECT_FALSE(PromoteRecoveryStateFile(w.ctx, &w.Step1()) && fs::exists(paths.last));
    fs::copy_file(stage1, paths.last);
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.Step1().RefreshDeviceList();
    ASSERT_EQ(w.Step1().ListView().Count(), 1);
    EXPECT_FALSE(w.Step1().IsSelectedImage());
    w.Step1().ListView().SelectRow(0);
    EXPECT_FALSE(w.Step1().SelectCurrentRow());
    w.Step1().RemoveSavedStateRow();
    EXPECT_EQ(w.Step1().ListView().Count(), 0);
    EXPECT_FALSE(fs::exists(paths.last));
}

namespace {

const char* kAtaPath = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
constexpr std::uint64_t kUnknownStart = 2048, kUnknownSectors = 4096;
constexpr std::uint64_t kFatStart = 8192, kFatSectors = 16 * 2048;

// A disk whose first partition holds nothing the Deleted page lists and whose second one is a
// FAT16 volume with a deleted file.
std::string TwoPartitionDisk() {
    const std::string path = CachedFixture("deep-button-disk-v1.img", [](const std::string& tmp) {
        const std::string table = tmp + ".sfdisk";
        std::ofstream(table) << "label: dos\nstart=" << kUnknownStart
                             << ", size=" << kUnknownSectors << ", type=83\nstart=" << kFatStart
                             << ", size=" << kFatSectors << ", type=6\n";
        if (!RequireFatTools() ||
            !MustRun("truncate -s " + std::to_string((kFatStart + kFatSectors + 2048) * 512) + " " +
                     ShellQuote(tmp) + " && sfdisk -q --no-reread --no-tell-kernel " +
                     ShellQuote(tmp) + " < " + ShellQuote(table) +
                     " >/dev/null && mkfs.fat -F 16 -s 1 -n DEEPBTN --offset=" +
                     std::to_string(kFatStart) + " -h " + std::to_string(kFatStart) + " " +
                     ShellQuote(tmp) + " " + std::to_string(kFatSectors / 2) + " >/dev/null"))
            return false;
        FatImage fat(tmp, kFatStart);
        return fat.WriteFile("/kept.bin", PatternBytes(4000, 61)) &&
               fat.WriteFile("/gone.bin", PatternBytes(6000, 62)) && fat.Delete("/gone.bin");
    });
    EXPECT_FALSE(path.empty());
    return path;
}

} // namespace

TEST(DeepScanWizard, DeepScanButtonScansTheDeletedRecoveryVolume) {
    ScopedOptions options;
    const std::string image = TwoPartitionDisk();
    ASSERT_FALSE(image.empty());
    FakeSystemTree tree(ScratchDir("deep-button-machine"));
    const std::uint64_t sectors = fs::file_size(image) / 512;
    tree.AddDisk({"sda",
                  kAtaPath,
                  {{"vendor", "ATA     "}, {"model", "TESTDISK"}, {"rev", "1.0"}},
                  {{"size", std::to_string(sectors)}, {"removable", "0"}},
                  image,
                  8,
                  0});
    tree.AddPartition("sda", "sda1", 8, 1, kUnknownStart, kUnknownSectors, image);
    tree.AddPartition("sda", "sda2", 8, 2, kFatStart, kFatSectors, image);
    tree.Install();
    RegisterVolumeProbes();

    struct Run {
        ScriptedUiServices ui;
        CEnumerationDeviceSource devices;
        AppContext ctx{ui, devices,
                       platform::AppPaths{"", ScratchDir("deep-button-state") + "/", "", ""}};
        FakeSheet sheet{ctx};
        Run() {
            ctx.SetSheet(&sheet);
            InstallDeletedFileRecoverySteps(ctx);
            InstallDeepScanSteps(ctx);
        }
    } w;
    auto* step1 = static_cast<CCompleteRecoveryPartitionDeviceSelectController*>(
        w.ctx.Controller(kPageCompleteRecoveryPartition));

    // The button does nothing outside Deleted File Recovery.
    w.ctx.ModeController().SetMode(kModeLostPartition);
    DeepScanDeletedFileSelection(w.ctx);
    EXPECT_TRUE(w.sheet.shown.empty());

    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.ModeController().ChooseMode(kModeDeletedFile);
    auto& deleted = *GetDeleteRecoveryPartitionDeviceSelectController();
    ASSERT_EQ(deleted.ListView().Count(), 1); // the FAT volume only
    deleted.ListView().SelectRow(0);
    w.ui.ExpectProgress();
    w.ui.ExpectCheckBox(uistr::kDeepScanHint, kAnswerOk, true);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    EXPECT_TRUE(w.sheet.model.Footer().deepScan);

    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ui.ExpectDeepScan();
    DeepScanDeletedFileSelection(w.ctx);
    EXPECT_EQ(w.ctx.ModeController().GetMode(), kModeDeepScan);
    ASSERT_EQ(step1->ListView().Count(), 2); // both partitions: "same index plus one" would miss
    const VolumeRecord* source = step1->SelectedSource();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->members[0].u64FirstSector, kFatStart);
    EXPECT_EQ(source->fileSystemType, FILESYSTEM_FAT16);
    ASSERT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryScanPartition);
    EXPECT_GE(RowOfType(static_cast<CCompleteRecoveryScanPartitionDeviceSelectController*>(
                            w.ctx.Controller(kPageCompleteRecoveryScanPartition))
                            ->List(),
                        FILESYSTEM_FAT16),
              0);
    EXPECT_FALSE(w.sheet.model.Footer().deepScan);
    EXPECT_TRUE(w.ui.Done());
    tree.Uninstall();
    platform::ClearDriveLetters();
}

namespace {

// The damaged disk as the program's own block image (zlib), made once per test run.
std::string BlockImageOfDisk(const DeepScanDisk& disk) {
    const std::string path = ScratchDir("deep-block-image") + "/damaged.edi";
    CImageFileDevice source(disk.path.c_str());
    CCompressController writer;
    writer.Setup(&source, "Damaged disk", 0, source.GetSectorCount(), 255);
    writer.SetCompressionType(COMPRESSION_ZLIB);
    writer.SetImagePath(path);
    QuietImaging callback;
    return writer.CreateImage(&callback) == 1 ? path : "";
}

} // namespace

TEST(DeepScanWizard, BlockImagesListedOrOpenedWithCtrlOAndRestoredTheSameWay) {
    ScopedOptions options;
    GetScanOptions().RecoverRawFilesOnly = 1; // the carved files are enough here, and quick
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    const std::string image = BlockImageOfDisk(disk);
    ASSERT_FALSE(image.empty());
    const std::string state = ScratchDir("deep-block-state") + "/";
    {
        DeepWizard w(state);
        w.ChooseDeepScan();
        // Listed through the image menu: one row, a second open of the same path is refused.
        ASSERT_TRUE(w.Step1().AddImage(image));
        w.ui.ExpectMessage(uistr::kImageFileIsOpen, kAnswerOk);
        EXPECT_EQ(w.Step1().AddImage(image), nullptr);
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        auto* model = dynamic_cast<CModelDeviceListView*>(&w.Step1().ListView());
        ASSERT_TRUE(model);
        EXPECT_EQ(model->model.Row(0).cells[0].text.rfind("Image File, ", 0), 0u);
        w.Step1().ListView().SelectRow(0);
        EXPECT_TRUE(w.Step1().IsSelectedImage());
        // A refresh keeps the image row.
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.Step1().RefreshDeviceList();
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        w.Step1().ListView().SelectRow(0);
        w.Step1().RemoveSelectedImage();
        EXPECT_EQ(w.Step1().ListView().Count(), 0);
        EXPECT_TRUE(w.Step1().Images().empty());

        // Ctrl+O on the block image: read through its blocks, scanned at once, not listed.
        w.ui.ExpectOpenFile(image);
        w.ui.ExpectDeepScan();
        w.ui.ExpectProgress(); // "Raw Files"
        w.ui.ExpectProgress(); // the state saved by the file page
        w.Step1().OpenRawImageFile();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        EXPECT_TRUE(dynamic_cast<CImageFileDeviceWithDecompress*>(
            w.Step1().SelectedSource()->pStorageDevice));
        EXPECT_EQ(w.Step1().ListView().Count(), 0);
        ExpectOriginalsRecovered(RecoveredContents(w.SaveEverything("deep-block-save-1")), disk,
                                 false, true);
    }
    {
        // The next run reopens it the same way.
        DeepWizard w(state);
        w.ChooseDeepScan();
        ASSERT_EQ(w.Step1().ListView().Count(), 1);
        EXPECT_EQ(
            dynamic_cast<CModelDeviceListView*>(&w.Step1().ListView())->model.Row(0).cells[2].text,
            "Results for \r\nImage File \"damaged.edi\"");
        w.Step1().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        EXPECT_TRUE(dynamic_cast<CImageFileDeviceWithDecompress*>(
            w.Step1().SelectedSource()->pStorageDevice));
        EXPECT_EQ(w.Step1().ListView().Count(),
                  1); // still only the saved result: the image is not listed
        ExpectOriginalsRecovered(RecoveredContents(w.SaveEverything("deep-block-save-2")), disk,
                                 false, true);
    }
    {
        // Without the image file the saved result cannot come back: 129, nothing restored.
        fs::rename(image, image + ".gone");
        DeepWizard w(state);
        w.ChooseDeepScan();
        w.Step1().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ui.ExpectMessage(uistr::kFailedToLoadLastResult, kAnswerOk);
        w.ctx.SheetController().Next();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageCompleteRecoveryPartition);
        EXPECT_EQ(w.Step1().SelectedSource(), nullptr);
        EXPECT_EQ(w.Tree(), nullptr);
        fs::rename(image + ".gone", image);
    }
}
