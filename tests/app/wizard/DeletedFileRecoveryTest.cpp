// Deleted File Recovery from the mode page to the result page, without windows: a fake machine
// whose disk is an image made by the real tools (NTFS, FAT32, FAT16; each alone and inside an
// sfdisk table), a scripted UI, and the recovered bytes compared with the originals.
#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/FileSelectController.h"
#include "app/wizard/FileTreeRoots.h"
#include "app/wizard/SaveFileController.h"
#include "app/wizard/SheetModel.h"
#include "carving/RAWFileProperties.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "platform/DriveLetters.h"
#include "recovery/FileRecovery.h"
#include "tests/support/BlockImages.h"
#include "tests/support/CrossLinkVolumes.h"
#include "tests/support/DeletedFileImages.h"
#include "tests/support/Ext2Images.h"
#include "tools/FileSearch.h"
#include "tools/FindFile.h"
#include "ui/views/FileListModel.h"
#include "ui/views/PropertyRows.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const char* kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";

// One machine with the image as its only disk "sda" (and its partition sda1), nothing mounted.
struct Machine {
    FakeSystemTree tree{ScratchDir("dfr-machine")};
    explicit Machine(const std::string& image, bool partitioned) {
        const std::uint64_t sectors = fs::file_size(image) / 512;
        tree.AddDisk({"sda", kAta, {{"vendor", "ATA     "}, {"model", "TESTDISK"}, {"rev", "1.0"}},
                      {{"size", std::to_string(sectors)}, {"removable", "0"}}, image, 8, 0});
        if (partitioned)
            tree.AddPartition("sda", "sda1", 8, 1, kDeletedPartitionStart, sectors - kDeletedPartitionStart, image);
        tree.Install();
        RegisterVolumeProbes();
    }
    ~Machine() {
        tree.Uninstall();
        platform::ClearDriveLetters();
    }
};

struct Wizard {
    ScriptedUiServices ui;
    CEnumerationDeviceSource devices;
    AppContext ctx{ui, devices, platform::AppPaths{}};
    FakeSheet sheet{ctx};
    std::vector<std::string> activity;
    ActivityLogCapture previous;
    Wizard() {
        ctx.SetSheet(&sheet);
        InstallDeletedFileRecoverySteps(ctx);
        previous = SetActivityLogCapture([this](const std::string& l) { activity.push_back(l); });
    }
    ~Wizard() { SetActivityLogCapture(previous); }

    CDeleteRecoveryPartitionDeviceSelectController& Volumes() { return *GetDeleteRecoveryPartitionDeviceSelectController(); }
    CFileSelectController& Files() { return *GetFileSelectController(); }
    CSaveFileController& Save() { return *GetSaveFileController(); }

    // Mode 0, the only row, Next: the quick scan runs and the file page shows.
    void ScanFirstVolume(bool hint, bool tickHint = true) {
        ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        ctx.ModeController().ChooseMode(kModeDeletedFile);
        ASSERT_EQ(sheet.GetActivePage(), kPageDeleteRecoveryPartition);
        ASSERT_EQ(Volumes().ListView().Count(), 1);
        Volumes().ListView().SelectRow(0);
        ui.ExpectProgress();
        if (hint)
            ui.ExpectCheckBox(uistr::kDeepScanHint, kAnswerOk, tickHint);
        ctx.SheetController().Next();
        ASSERT_EQ(sheet.GetActivePage(), kPageFileSelect);
        ASSERT_TRUE(ui.Done());
    }
    CFileSystemNode* DeletedFolder() {
        CFileNode* root = Files().GetFileTree();
        return root ? dynamic_cast<CFileSystemNode*>(root->m_pFirstChild) : nullptr;
    }
};

// Every file below `folder`: path relative to it -> bytes.
std::map<std::string, std::vector<std::uint8_t>> FilesBelow(const std::string& folder) {
    std::map<std::string, std::vector<std::uint8_t>> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            out[fs::relative(it->path(), folder).string()] = ReadFileBytes(it->path().string());
    return out;
}

CFileNode* FindNode(CFileNode* folder, const std::string& name) {
    std::vector<CFileNode*> stack{folder};
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling) {
            if (c->m_pProperties && name == c->m_pProperties->GetName())
                return c;
            stack.push_back(c);
        }
    }
    return nullptr;
}

class DeletedFileRecovery : public ::testing::TestWithParam<DeletedVolumeCase> {};

} // namespace

TEST_P(DeletedFileRecovery, FromModeToResultPageRecoversTheDeletedFiles) {
    const DeletedVolumeCase& c = GetParam();
    Machine machine(DeletedVolumeImage(c), c.partitioned);
    Wizard w;
    w.ScanFirstVolume(true);
    EXPECT_EQ(w.Volumes().VolumeRowName(*static_cast<VolumeRecord*>(w.Volumes().ListView().GetDeviceData(0))),
              std::string("* : ") + c.label + "  (" + c.fsName + ")");

    CFileSystemNode* deleted = w.DeletedFolder();
    ASSERT_NE(deleted, nullptr);
    FileTreeCounters counters;
    deleted->GetCounters(&counters);
    EXPECT_EQ(counters.files, 3u);
    EXPECT_EQ(counters.bytes, 5000u + 14454u + 70000u);
    EXPECT_EQ(FindNode(deleted, "keep_this.txt"), nullptr);  // live files stay out

    ToggleCheckState(deleted, false);
    w.Files().Page().RefreshStatus();
    EXPECT_EQ(w.Files().Page().RightStatus(), "Selected 87.36 KB in 3 files");
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    EXPECT_EQ(w.Save().Page().SummaryText(), "You have 87.36 KB selected in 3 files");

    const std::string target = ScratchDir("dfr-target") + "/recovered";
    w.Save().Page().SetTargetFolder(target + "  ");
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);

    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_EQ(summary.filesToRecover, 3);
    EXPECT_EQ(summary.filesRecovered, 3);
    EXPECT_EQ(summary.targetFolder, target);
    ASSERT_EQ(summary.folders.size(), 1u);
    EXPECT_EQ(fs::path(summary.folders[0]).parent_path().string(), target);
    EXPECT_EQ(FilesBelow(summary.folders[0]), DeletedOriginals());

    const std::vector<std::string> expected = {
        "\r\nPerforming Deleted File Recovery...",
        std::string("Quick searching partition device - *:") + c.label + "(" + c.fsName + ")",
        "Completely search the selected device.",
        "Displaying directory tree.",
        "Restoring files...",
        "3 File are to be recovered, recovered 3",
        "Files are saved in " + target,
    };
    std::vector<std::string> stages;
    for (const std::string& line : w.activity)
        if (std::find(expected.begin(), expected.end(), line) != expected.end())
            stages.push_back(line);
    EXPECT_EQ(stages, expected);

    // "Back To File List" shows the same tree with its ticks.
    GetSaveResultController()->BackToFileList();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    EXPECT_EQ(w.DeletedFolder(), deleted);

    // The hint was ticked away: the next scan goes straight to the file page.
    w.ui.ExpectMessage(uistr::kQuitSearchingQuestion, kAnswerYes).ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.SheetController().Back();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageDeleteRecoveryPartition);
    w.Volumes().ListView().SelectRow(0);
    w.ui.ExpectProgress();
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    EXPECT_TRUE(w.ui.Done());
}

// A cancel in the middle of a file, through the real recovery walk: the file cut short is
// removed, never left under its name with part of its bytes; every file that is left is whole
// and exact, the result counts only those and says the saving was cancelled.
TEST_P(DeletedFileRecovery, CancelInTheMiddleOfAFileLeavesNoPartOfIt) {
    const DeletedVolumeCase& c = GetParam();
    Machine machine(DeletedVolumeImage(c), c.partitioned);
    Wizard w;
    w.ScanFirstVolume(true);
    CFileSystemNode* deleted = w.DeletedFolder();
    ASSERT_NE(deleted, nullptr);
    ToggleCheckState(deleted, false);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    // 70000 bytes: the cancel comes after its first 64 KiB are written.
    w.ui.cancelRecoveryInFile = "root_deleted.bin";
    w.Save().Page().SetTargetFolder(ScratchDir("dfr-cancel-mid") + "/recovered");
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);

    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.filesToRecover, 3);
    ASSERT_EQ(summary.folders.size(), 1u);
    const auto written = FilesBelow(summary.folders[0]);
    const auto originals = DeletedOriginals();
    for (const auto& [path, bytes] : written) {
        SCOPED_TRACE(path);
        EXPECT_NE(fs::path(path).filename().string(), "root_deleted.bin");
        ASSERT_EQ(originals.count(path), 1u);
        EXPECT_EQ(bytes, originals.at(path));
    }
    EXPECT_LT(written.size(), 3u);
    EXPECT_EQ(summary.filesRecovered, static_cast<int>(written.size()));
    EXPECT_TRUE(w.ui.Done());
}

TEST_P(DeletedFileRecovery, HomeBackCancelSingleFileAndPreview) {
    const DeletedVolumeCase& c = GetParam();
    Machine machine(DeletedVolumeImage(c), c.partitioned);
    Wizard w;
    w.ScanFirstVolume(true, false);

    // Back answered No keeps the tree and the ticks.
    CFileSystemNode* deleted = w.DeletedFolder();
    ToggleCheckState(deleted, false);
    w.ui.ExpectMessage(uistr::kQuitSearchingQuestion, kAnswerNo);
    w.ctx.SheetController().Back();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    EXPECT_EQ(w.DeletedFolder(), deleted);
    FileTreeCounters counters;
    deleted->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, 3u);

    // A single file into a scratch folder, then a preview of a text file.
    CFileNode* report = FindNode(deleted, "report_one.txt");
    ASSERT_NE(report, nullptr);
    const std::string single = ScratchDir("dfr-single") + "/report_one.txt";
    w.ui.ExpectSaveFile(single).ExpectMessage(uistr::kRecoverComplete, kAnswerOk);
    EXPECT_EQ(w.Files().RecoverSingleFile(report), 1);
    EXPECT_EQ(ReadFileBytes(single), DeletedSampleBytes(kDeletedSamples[2]));
    EXPECT_EQ(w.ui.Texts().back(), "report_one.txt|txt File (*.txt)|*.txt|All Files (*.*)|*.*||");

    std::vector<std::uint8_t> previewed;
    w.ui.onPreview = [&](IStorageDevice* device, CFileNode* node) {
        const std::string temp = ScratchDir("dfr-preview") + "/p";
        CRecoveryProgress progress;
        EXPECT_EQ(RunSingleFileRecovery(node, device, temp, progress), 1);
        previewed = ReadFileBytes(temp);
    };
    EXPECT_TRUE(w.Files().Preview(FindNode(deleted, "picture_gone.bmp")));
    EXPECT_EQ(previewed, DeletedSampleBytes(kDeletedSamples[3]));
    w.ui.ExpectMessage(uistr::kSelectFileToPreview, kAnswerOk);
    EXPECT_FALSE(w.Files().Preview(nullptr));

    // Cancel during the recovery at file 1: one of three recovered.
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    w.ui.cancelRecoveryAtFile = 1;
    w.Save().Page().SetTargetFolder(ScratchDir("dfr-cancel"));
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    EXPECT_EQ(GetSaveResultController()->Summary().filesToRecover, 3);
    EXPECT_EQ(GetSaveResultController()->Summary().filesRecovered, 1);

    // Home from the file page frees the trees and the lists (LeakSanitizer checks the rest).
    GetSaveResultController()->BackToFileList();
    w.ui.ExpectMessage(uistr::kGoHomeQuestion, kAnswerYes);
    w.ctx.SheetController().OnHomeButton();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageRecoveryMode);
    EXPECT_EQ(w.Files().GetFileTree(), nullptr);
    EXPECT_EQ(w.Volumes().ScannedTree(), nullptr);
    EXPECT_TRUE(w.Volumes().Volumes().empty());
    EXPECT_TRUE(w.ui.Done());
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeletedFileRecovery, ::testing::ValuesIn(kDeletedVolumeCases),
                         [](const ::testing::TestParamInfo<DeletedVolumeCase>& info) {
                             std::string n = info.param.name;
                             n = n.substr(4, n.size() - 8);
                             for (char& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });

TEST(DeletedFileRecoverySteps, NoRowNoFilesAndFoldersOnly) {
    ScriptedUiServices ui;
    NoDevices devices;
    AppContext ctx{ui, devices, platform::AppPaths{}};
    FakeSheet sheet{ctx};
    ctx.SetSheet(&sheet);
    InstallDeletedFileRecoverySteps(ctx);

    // No disk: an empty list and no error; Next without a row asks for one.
    ui.ExpectWaiting(uistr::kPleaseWaitScanning).ExpectMessage(uistr::kChoosePartitionToRecover, kAnswerOk);
    ctx.ModeController().ChooseMode(kModeDeletedFile);
    EXPECT_EQ(GetDeleteRecoveryPartitionDeviceSelectController()->ListView().Count(), 0);
    ctx.SheetController().Next();
    EXPECT_EQ(sheet.GetActivePage(), kPageDeleteRecoveryPartition);

    // A tree whose only ticked entry is a folder without files: "Please select files to save.".
    FileTreePtr root = CreateFileTreeRoot();
    CFileSystemNode* folder = CreateDeletedFilesRoot().release();
    root->AddChild(folder);
    folder->AddChild(CreateDeletedFilesRoot().release());
    ToggleCheckState(folder, false);
    root->RecountCounters();
    CFileSelectController* files = GetFileSelectController();
    files->SetPrevious(GetDeleteRecoveryPartitionDeviceSelectController());
    files->SetFileTree(std::move(root));
    files->Activate();
    ui.ExpectMessage(uistr::kSelectFilesToSave, kAnswerOk);
    ctx.SheetController().Next();
    EXPECT_EQ(sheet.GetActivePage(), kPageFileSelect);
    EXPECT_TRUE(ui.Done());
}

// The "Deleted Files" tree borrows the scan's properties and keeps the scan alive: the holder
// of the scan may let it go first (ASan would see a read of freed properties, LeakSanitizer a
// scan that is never freed).
TEST(DeletedFileRecoverySteps, DeletedFilesTreeKeepsTheScanAlive) {
    auto entry = [](CFileNode* parent, CFileNode* node, const char* name, std::uint8_t state,
                    std::uint16_t attributes) {
        auto props = std::make_unique<CRAWFileProperties>();
        props->SetName(name);
        props->m_state = state;
        props->m_u16Attributes = attributes;
        node->SetProperties(std::move(props));
        if (parent)
            parent->AddChild(node);
        return node;
    };
    FileTreePtr scan(CreateFileSystemNode());
    entry(nullptr, scan.get(), "scan", FILESTATE_LIVE, FILEATTR_DIRECTORY);
    CFileNode* dir =
        entry(scan.get(), CreateFileSystemNode(), "dir", FILESTATE_LIVE, FILEATTR_DIRECTORY);
    CFileNode* gone = entry(dir, CreateFileNode(), "gone.txt", FILESTATE_DELETED, FILEATTR_ARCHIVE);
    entry(dir, CreateFileNode(), "kept.txt", FILESTATE_LIVE, FILEATTR_ARCHIVE);
    const IFileProperties* goneProperties = gone->m_pProperties;

    SharedFileTree scanned(std::move(scan));
    FileTreePtr derived = BuildDeletedFilesTree(scanned);
    scanned.reset();
    ASSERT_NE(derived, nullptr);
    CFileNode* folder = derived->m_pFirstChild;
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->m_pProperties.IsOwned());
    ASSERT_NE(folder->m_pFirstChild, nullptr);
    CFileNode* copy = folder->m_pFirstChild->m_pFirstChild;
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m_pNextSibling, nullptr);
    EXPECT_EQ(copy->m_pProperties.get(), goneProperties);
    EXPECT_FALSE(copy->m_pProperties.IsOwned());
    EXPECT_STREQ(copy->m_pProperties->GetName(), "gone.txt");
    EXPECT_EQ(derived->m_counters.files, 1u);
}

TEST(DeletedFileRecoverySteps, PreviewRefusals) {
    struct Case {
        std::uint64_t size;
        std::uint16_t attributes;
        int expected;
    } cases[] = {
        {0, 0, uistr::kCannotPreviewFile},
        {10, FILEATTR_DIRECTORY, uistr::kCannotPreviewDirectory},
        {10, FILEATTR_ENCRYPTED, uistr::kCannotPreviewEncrypted},
        {104857600, 0, 0},
        {104857601, 0, uistr::kCannotPreviewOver100M},
    };
    for (const Case& c : cases) {
        CFileNode node;
        CRAWFileProperties props;
        props.m_u64Size = c.size;
        props.m_u16Attributes = c.attributes;
        node.BorrowProperties(&props);
        EXPECT_EQ(CFileSelectController::PreviewRefusalId(&node), c.expected) << c.size << "/" << c.attributes;
        node.m_pProperties.Reset();
    }
    EXPECT_EQ(CFileSelectController::PreviewRefusalId(nullptr), uistr::kSelectFileToPreview);
    EXPECT_EQ(CFileSelectPageModel::SearchTabCaption("*.txt"), "Search Files (*.txt) ");
    EXPECT_EQ(CFileSelectPageModel::SearchTabCaption("abcdefghijklmnopqrstuvwxyz0123456789"),
              "Search Files (abcdefghijklmnopqrstuvwxyz...)");
}

TEST(DeletedFileRecoverySteps, TargetOnTheSourceDiskAsksFirst) {
    const DeletedVolumeCase& c = kDeletedVolumeCases[5];  // FAT16 inside a partition table
    Machine machine(DeletedVolumeImage(c), c.partitioned);
    // The scratch folders' file system shows as another partition of the same disk whose extent
    // covers the source volume.
    const std::string target = ScratchDir("dfr-same-drive");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    machine.tree.AddPartition("sda", "sda2", ::major(st.st_dev), ::minor(st.st_dev), 0, 1u << 30);
    Wizard w;
    w.ScanFirstVolume(true);
    ToggleCheckState(w.DeletedFolder(), false);
    w.ctx.SheetController().Next();
    w.Save().Page().SetTargetFolder(target);
    w.ui.ExpectMessage(uistr::kSameDriveCaution, kAnswerNo);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    w.ui.ExpectMessage(uistr::kSameDriveCaution, kAnswerYes);
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    EXPECT_EQ(GetSaveResultController()->Summary().filesRecovered, 3);

    // Target errors keep the user on the save step with one message each.
    w.ctx.SheetController().Back();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    struct Bad {
        std::string path;
        int message;
    } bad[] = {{"", 159}, {"relative", 155}, {target + "/../x", 151}};
    for (const Bad& b : bad) {
        w.Save().Page().SetTargetFolder(b.path);
        w.ui.ExpectMessage(b.message, kAnswerOk);
        w.ctx.SheetController().Next();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveFile) << b.path;
    }
    EXPECT_TRUE(w.ui.Done());
}

TEST(DeletedFileRecoverySteps, SearchWithAutoSelectThenSaveAndFindNextCycle) {
    const DeletedVolumeCase& c = kDeletedVolumeCases[0];  // NTFS
    Machine machine(DeletedVolumeImage(c), c.partitioned);
    Wizard w;
    w.ScanFirstVolume(true);

    // Search "*.txt" everywhere with auto-select: the one deleted text file is found and ticked.
    w.ui.onSearch = [](CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description) {
        EXPECT_EQ(folder, root);
        FileSearchCriteria criteria;
        criteria.name = "*.TXT";
        criteria.autoSelect = true;
        criteria.location = root;
        description = SearchDisplayText(criteria);
        return RunFileSearch(criteria, result) == kSearchFound;
    };
    EXPECT_TRUE(w.Files().SearchFiles(nullptr));
    const CFileSelectPageModel& page = w.Files().Page();
    ASSERT_TRUE(page.HasSearch());
    ASSERT_EQ(page.SearchNodes().size(), 1u);
    EXPECT_STREQ(page.SearchNodes()[0]->m_pProperties->GetName(), "report_one.txt");
    EXPECT_EQ(page.SearchCaption(), "Search Files (*.TXT) ");
    EXPECT_EQ(page.RightStatus(), "Selected 4.88 KB in 1 files");

    // A search that finds nothing keeps the old tab.
    w.ui.onSearch = [](CFileNode*, CFileNode*, SearchResult&, std::string&) { return false; };
    EXPECT_FALSE(w.Files().SearchFiles(nullptr));
    EXPECT_TRUE(page.HasSearch());

    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    w.Save().Page().SetTargetFolder(ScratchDir("dfr-search"));
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_EQ(summary.filesRecovered, 1);
    ASSERT_EQ(summary.folders.size(), 1u);
    EXPECT_EQ(ReadFileBytes(summary.folders[0] + "/docs/report_one.txt"), DeletedSampleBytes(kDeletedSamples[2]));

    // Find Next over the page's view: each press selects the next match, then "No more files
    // found." once it is back at the first.
    GetSaveResultController()->BackToFileList();
    CFileListModel list;
    CTreeFindView view(dynamic_cast<CFileSystemNode*>(w.Files().GetFileTree()), list);
    view.SelectFolder(view.FirstRootFolder());
    std::vector<std::string> found;
    w.ui.onFind = [&](IFindFileView& v) {
        CFindFileState state;
        for (int press = 0; press < 5; ++press) {
            const int message = state.OnFindNext(v, "*_*", false, false);
            if (message) {
                found.push_back(std::to_string(message));
                break;
            }
            found.push_back(v.RowNode(v.SelectedRow())->m_pProperties->GetName());
        }
    };
    w.Files().FindFile(view);
    EXPECT_EQ(found, (std::vector<std::string>{"picture_gone.bmp", "root_deleted.bin", "report_one.txt",
                                               std::to_string(CFindFileState::kMessageNoMoreFiles)}));

    // On the search tab the find walks the search list alone: its two files, then back at the
    // first; the folder tree is left as it was. On the file tab it is the tree's view again.
    std::vector<CFileNode*> matches;
    for (std::vector<CFileNode*> stack{w.Files().GetFileTree()}; !stack.empty();) {
        CFileNode* n = stack.back();
        stack.pop_back();
        const char* name = n->m_pProperties ? n->m_pProperties->GetName() : nullptr;
        if (name && (std::string(name) == "report_one.txt" || std::string(name) == "root_deleted.bin"))
            matches.push_back(n);
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    ASSERT_EQ(matches.size(), 2u);
    w.Files().Page().SetSearchResult(matches, "*_*");
    CListFindView searchView(w.Files().Page().SearchNodes());
    CFileNode* const folderBefore = view.SelectedFolder();
    found.clear();
    w.Files().FindFile(1, view, searchView);
    EXPECT_EQ(found, (std::vector<std::string>{matches[0]->m_pProperties->GetName(), matches[1]->m_pProperties->GetName(),
                                               std::to_string(CFindFileState::kMessageNoMoreFiles)}));
    EXPECT_EQ(view.SelectedFolder(), folderBefore);
    EXPECT_EQ(searchView.RowNode(searchView.SelectedRow()), matches[0]);

    found.clear();
    view.SelectFolder(view.FirstRootFolder());
    w.Files().FindFile(0, view, searchView);
    EXPECT_EQ(found.front(), "picture_gone.bmp");
    EXPECT_TRUE(w.ui.Done());
}

namespace {
// The first node below `top` (depth first) whose name is `name`.
CFileNode* FindNamed(CFileNode* top, const std::string& name) {
    std::vector<CFileNode*> stack{top};
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        if (n->m_pProperties && n->m_pProperties->GetName() && name == n->m_pProperties->GetName())
            return n;
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    return nullptr;
}

std::string RowValue(const PropertyRows& rows, const std::string& name) {
    for (const PropertyRow& r : rows)
        if (r.first == name)
            return r.second;
    return "<none>";
}
} // namespace

TEST(DeletedFileRecoverySteps, PropertiesOfTheSelectedFileAndFolderReachTheDialog) {
    for (int index : {0, 2}) {  // NTFS, FAT32
        const DeletedVolumeCase& c = kDeletedVolumeCases[index];
        SCOPED_TRACE(c.name);
        Machine machine(DeletedVolumeImage(c), c.partitioned);
        Wizard w;
        w.ScanFirstVolume(true);
        CFileNode* file = FindNamed(w.Files().GetFileTree(), "root_deleted.bin");
        ASSERT_TRUE(file);
        CFileSystemNode* folder = w.DeletedFolder();
        ASSERT_TRUE(folder);

        w.Files().ShowProperties(file);    // the list's "Properties"
        w.Files().ShowProperties(folder);  // the tree's "Properties"
        w.Files().ShowProperties(nullptr); // nothing selected: no dialog
        ASSERT_EQ(w.ui.properties.size(), 2u);
        const auto& shownFile = w.ui.properties[0];
        EXPECT_EQ(shownFile.templateId, 333);
        EXPECT_EQ(shownFile.title, "Properties");
        EXPECT_EQ(shownFile.rows, FilePropertyRows(file));
        EXPECT_EQ(RowValue(shownFile.rows, "Name"), "root_deleted.bin");
        EXPECT_EQ(RowValue(shownFile.rows, "Deleted"), "Yes");
        // A 70000-byte file lies in clusters: its run list is shown.
        EXPECT_NE(RowValue(shownFile.rows, "Lay out"), "<none>");

        const auto& shownFolder = w.ui.properties[1];
        EXPECT_EQ(shownFolder.rows, FilePropertyRows(folder));
        EXPECT_EQ(RowValue(shownFolder.rows, "Start Sector"), std::to_string(folder->m_u64FirstSector));
        EXPECT_EQ(RowValue(shownFolder.rows, "Lay out"), "<none>");
        EXPECT_TRUE(w.ui.Done());
    }
}

namespace {
// The volume `image` written as a block image ".edi" named `name` in a scratch folder.
std::string MakeEdi(const std::string& image, const std::string& name) {
    const std::string path = ScratchDir("dfr-edi") + "/" + name + ".edi";
    BlockImageOptions options;
    options.caption = name;
    WriteBlockImage(image, path, options);
    return path;
}

std::string RowText(const IDeviceListView& list, int row) {
    return static_cast<const CModelDeviceListView&>(list).model.Row(row).cells.at(0).text;
}
} // namespace

TEST(DeletedFileRecoverySteps, ImageCommandsListImagesThatAreScannedAndRecovered) {
    const DeletedVolumeCase& ntfs = kDeletedVolumeCases[0];
    const DeletedVolumeCase& fat32 = kDeletedVolumeCases[2];
    Machine machine(DeletedVolumeImage(ntfs), ntfs.partitioned);
    // Names that say nothing of the file system: the image's boot sector tells it.
    const std::string madeEdi = MakeEdi(DeletedVolumeImage(ntfs), "VolumeCopy");
    const std::string openedEdi = MakeEdi(DeletedVolumeImage(fat32), "Backup");
    Wizard w;
    auto& volumes = w.Volumes();
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.ModeController().ChooseMode(kModeDeletedFile);
    ASSERT_EQ(volumes.ListView().Count(), 1);

    // "Option": the advanced settings.
    w.ui.ExpectSettings();
    volumes.ShowOptions();

    // Without a row nothing is imaged; on the volume row the wizard gets its device, caption
    // and 255 heads, and the image it made is listed.
    volumes.CreateImageOfSelection();
    volumes.ListView().SelectRow(0);
    w.ui.ExpectCreateImage(madeEdi);
    volumes.CreateImageOfSelection();
    const auto* volume = static_cast<VolumeRecord*>(volumes.ListView().GetDeviceData(0));
    EXPECT_EQ(w.ui.createImageSource, volume->pStorageDevice);
    EXPECT_EQ(w.ui.createImageCaption, "DfrNtfs (*:\\ NTFS)");
    EXPECT_EQ(w.ui.createImageHeads, 255u);
    ASSERT_EQ(volumes.ListView().Count(), 2);
    EXPECT_EQ(RowText(volumes.ListView(), 1), "Image File, VolumeCopy");
    // The wizard ended without asking for the list: nothing more.
    w.ui.ExpectCreateImage("");
    volumes.CreateImageOfSelection();

    // "Open Disk Image": a new row; a cancelled wizard adds nothing.
    w.ui.ExpectDiskImageWizard(openedEdi).ExpectDiskImageWizard("");
    volumes.OpenDiskImage();
    volumes.OpenDiskImage();
    ASSERT_EQ(volumes.ListView().Count(), 3);
    EXPECT_EQ(RowText(volumes.ListView(), 2), "Image File, Backup");
    ASSERT_EQ(volumes.Images().size(), 2u);
    EXPECT_EQ(volumes.Images()[0]->fileSystemType, FILESYSTEM_NTFS);
    EXPECT_EQ(volumes.Images()[1]->fileSystemType, FILESYSTEM_FAT32);
    // An image row is no source for a new image.
    volumes.ListView().SelectRow(2);
    volumes.CreateImageOfSelection();

    // The opened image is scanned and its deleted files recovered byte for byte.
    w.ui.ExpectProgress().ExpectCheckBox(uistr::kDeepScanHint, kAnswerOk, true);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
    CFileSystemNode* deleted = w.DeletedFolder();
    ASSERT_TRUE(deleted);
    ToggleCheckState(deleted, false);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    w.Save().Page().SetTargetFolder(ScratchDir("dfr-image-target"));
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_EQ(summary.filesRecovered, 3);
    ASSERT_EQ(summary.folders.size(), 1u);
    EXPECT_EQ(FilesBelow(summary.folders[0]), DeletedOriginals());

    // Home and back to Deleted File Recovery: the images are still listed; removing one keeps
    // the others, and a volume row is never removed.
    w.ctx.SheetController().Home();
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    w.ctx.ModeController().ChooseMode(kModeDeletedFile);
    ASSERT_EQ(volumes.ListView().Count(), 3);
    volumes.ListView().SelectRow(0);
    volumes.DeleteImage();
    EXPECT_EQ(volumes.ListView().Count(), 3);
    volumes.ListView().SelectRow(1);
    w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
    volumes.DeleteImage();
    ASSERT_EQ(volumes.ListView().Count(), 2);
    EXPECT_EQ(RowText(volumes.ListView(), 1), "Image File, Backup");
    ASSERT_EQ(volumes.Images().size(), 1u);
    EXPECT_TRUE(w.ui.Done());
}

namespace {
// Every file below `top`: path below it -> node.
std::map<std::string, CFileNode*> FileNodesBelow(CFileNode* top) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{top, ""}};
    while (!stack.empty()) {
        auto [n, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling) {
            const std::string p = path + "/" + (c->m_pProperties && c->m_pProperties->GetName() ? c->m_pProperties->GetName() : "?");
            if (c->m_pFirstChild)
                stack.push_back({c, p});
            else
                out[p] = c;
        }
    }
    return out;
}
} // namespace

TEST(DeletedFileRecoverySteps, Ext2AndExt3VolumesFromScanToRecoveredBytes) {
    // The sample volumes (mke2fs -d, then debugfs): "removed.bin" lost its name (rm) and comes
    // back by its inode under the volume's root, "killed.txt" kept its entry (kill_file), and on
    // EXT3 "cleared.bin" lost its block pointers: listed, but nothing of it can be read.
    struct Case {
        const char* kind;
        const char* row;
        int listed;
    } cases[] = {{"ext2-1k", "* : first  (EXT2)", 2}, {"ext3-4k", "* : data set-1  (EXT3)", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string image = Ext2SampleVolume(c.kind);
        ASSERT_FALSE(image.empty());
        std::map<std::string, std::vector<std::uint8_t>> originals;
        for (const Ext2SampleFile& f : Ext2SampleFiles(c.kind))
            if (f.how == Ext2SampleFile::kRemoved || f.how == Ext2SampleFile::kKilled)
                originals[f.path.substr(1)] = Ext2SampleBytes(f);
        ASSERT_EQ(originals.size(), 2u);

        Machine machine(image, false);
        Wizard w;
        w.ScanFirstVolume(true);
        EXPECT_EQ(RowText(w.Volumes().ListView(), 0), c.row);
        CFileSystemNode* deleted = w.DeletedFolder();
        ASSERT_TRUE(deleted);
        EXPECT_EQ(deleted->GetFileSystemType(), std::string(c.kind) == "ext2-1k" ? FILESYSTEM_EXT2 : FILESYSTEM_EXT3);
        // Only deleted files are listed; the removed file's inode name is mapped to its path.
        std::string inodeName;
        int listed = 0;
        for (const auto& [path, node] : FileNodesBelow(deleted)) {
            ++listed;
            EXPECT_EQ(node->m_pProperties->GetFileState(), FILESTATE_DELETED) << path;
            if (path.rfind("/Inode_", 0) == 0) {
                EXPECT_EQ(node->m_pProperties->GetFileSize(), 20000u);
                inodeName = path.substr(1);
            }
        }
        EXPECT_EQ(listed, c.listed);
        ASSERT_FALSE(inodeName.empty());
        originals[inodeName] = originals["docs/removed.bin"];
        originals.erase("docs/removed.bin");

        ToggleCheckState(deleted, false);
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
        w.Save().Page().SetTargetFolder(ScratchDir(std::string("dfr-") + c.kind));
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
        const SaveResultSummary summary = GetSaveResultController()->Summary();
        EXPECT_EQ(summary.filesToRecover, c.listed);
        EXPECT_EQ(summary.filesRecovered, 2);
        ASSERT_EQ(summary.folders.size(), 1u);
        auto got = FilesBelow(summary.folders[0]);
        got.erase("docs/cleared.bin");  // counted as not recovered
        EXPECT_EQ(got, originals);
        EXPECT_TRUE(w.ui.Done());
    }
}

// Volumes where a later file took a deleted file's clusters: the file is listed and can be
// ticked, its properties say "Cross Link", and the result page does not count it as recovered.
TEST(DeletedFileRecoverySteps, CrossLinkedFilesAreNotCountedAsRecovered) {
    const struct {
        const char* name;
        std::string image;
    } cases[] = {{"NTFS", NtfsCrossLinkVolume()}, {"FAT32", FatCrossLinkVolume()}, {"EXT2", Ext2CrossLinkVolume()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.image.empty());
        Machine machine(c.image, false);
        Wizard w;
        w.ScanFirstVolume(true);
        CFileSystemNode* deleted = w.DeletedFolder();
        ASSERT_TRUE(deleted);
        int listed = 0;
        int crossLinked = 0;
        for (const auto& [path, node] : FileNodesBelow(deleted)) {
            ++listed;
            if (node->m_pProperties->GetFileState() & FILESTATE_CROSS_LINK) {
                ++crossLinked;
                const PropertyRows rows = FilePropertyRows(node);
                EXPECT_NE(std::find(rows.begin(), rows.end(), std::pair<std::string, std::string>{"Cross Link", "Yes"}),
                          rows.end())
                    << path;
            }
        }
        EXPECT_EQ(crossLinked, 1);

        ToggleCheckState(deleted, false);
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
        w.Save().Page().SetTargetFolder(ScratchDir(std::string("dfr-crosslink-") + c.name));
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
        const SaveResultSummary summary = GetSaveResultController()->Summary();
        EXPECT_EQ(summary.filesToRecover, listed);
        EXPECT_EQ(summary.filesRecovered, listed - crossLinked);
        const std::string counts = std::to_string(listed) + " File are to be recovered, recovered " +
                                   std::to_string(listed - crossLinked);
        EXPECT_NE(std::find(w.activity.begin(), w.activity.end(), counts), w.activity.end());
        EXPECT_TRUE(w.ui.Done());
    }
}

TEST(DeletedFileRecoverySteps, Ext2FilesWhoseDataTheDeletionClearedAreNotCountedAsRecovered) {
    // Deleted on the volume: a fast symbolic link (its text stays in the inode), and two files
    // whose size and block pointers were cleared as the kernel leaves deleted EXT3 files (one
    // keeps its entry, one is found by its inode only).
    const std::string image = Ext2SpecialInodesVolume();
    ASSERT_FALSE(image.empty());
    Machine machine(image, false);
    Wizard w;
    w.ScanFirstVolume(true);
    CFileSystemNode* deleted = w.DeletedFolder();
    ASSERT_TRUE(deleted);
    int listed = 0;
    for (const auto& [path, node] : FileNodesBelow(deleted)) {
        ++listed;
        EXPECT_EQ(node->m_pProperties->GetFileState(), FILESTATE_DELETED) << path;
    }
    EXPECT_EQ(listed, 3);

    ToggleCheckState(deleted, false);
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    w.Save().Page().SetTargetFolder(ScratchDir("dfr-ext2-cleared"));
    w.ctx.SheetController().Next();
    ASSERT_EQ(w.sheet.GetActivePage(), kPageSaveResult);
    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_EQ(summary.filesToRecover, 3);
    EXPECT_EQ(summary.filesRecovered, 1); // so the page says some, not all, were recovered
    ASSERT_EQ(summary.folders.size(), 1u);
    const auto got = FilesBelow(summary.folders[0]);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got.begin()->first, "gone-link");
    EXPECT_EQ(std::string(got.begin()->second.begin(), got.begin()->second.end()), "short-gone");
}

namespace {

// A FAT16 volume (one sector per cluster) whose folder "/DIR" runs over two clusters that are not
// side by side: a root file of zeros lies between them. The last file of the folder, its entry in
// the folder's second cluster, is deleted; then the first FAT copy is zeroed, so only the second
// copy still links the folder's clusters.
std::vector<std::uint8_t> SplitFolderFile(int i) { return PatternBytes(300 + i, 700 + i); }
constexpr int kSplitFolderFiles = 40;

std::string FatWithZeroedFirstCopy() {
    return CachedFixture("dfr-fat-first-copy-zeroed-v1.img", [](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 16;
        options.sizeKiB = 8 * 1024;
        options.sectorsPerCluster = 1;
        options.label = "FATCOPY";
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage fat(tmp);
        bool ok = fat.MakeDir("/DIR") && fat.WriteFile("/ZEROS.BIN", std::vector<std::uint8_t>(4096, 0));
        for (int i = 0; ok && i < kSplitFolderFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/DIR/F%02d.TXT", i);
            ok = fat.WriteFile(name, SplitFolderFile(i));
        }
        ok = ok && fat.Delete("/DIR/F39.TXT");
        if (!ok)
            return false;
        // Zero the first FAT copy (reserved sectors and sectors per FAT from the boot sector).
        std::fstream f(tmp, std::ios::in | std::ios::out | std::ios::binary);
        std::uint8_t boot[512] = {};
        if (!f.read(reinterpret_cast<char*>(boot), sizeof boot))
            return false;
        const std::uint32_t reserved = boot[14] | boot[15] << 8;
        const std::uint32_t perFat = boot[22] | boot[23] << 8;
        const std::vector<char> zeros(std::size_t(perFat) * 512, 0);
        f.seekp(std::streamoff(reserved) * 512);
        return perFat > 0 && bool(f.write(zeros.data(), std::streamsize(zeros.size())));
    });
}

// Restores the process-wide scan options when it goes.
struct ScanOptionsGuard {
    ScanOptions saved = GetScanOptions();
    ~ScanOptionsGuard() { GetScanOptions() = saved; }
};

} // namespace

TEST(DeletedFileRecoverySteps, FatQuickScanFollowsTheFatCopiesTheOptionsAllow) {
    const std::string image = FatWithZeroedFirstCopy();
    ASSERT_FALSE(image.empty());
    Machine machine(image, false);
    ScanOptionsGuard guard;
    struct Case {
        std::uint32_t first, second;
        bool found;
    };
    // Only the second copy links the folder's second cluster, where the deleted entry lies.
    for (const Case& c : {Case{0, 1, true}, Case{1, 0, false}, Case{1, 1, true}}) {
        SCOPED_TRACE(std::to_string(c.first) + "/" + std::to_string(c.second));
        GetScanOptions().UseFirstFatCopy = c.first;
        GetScanOptions().UseSecondFatCopy = c.second;
        Wizard w;
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.ctx.ModeController().ChooseMode(kModeDeletedFile);
        ASSERT_EQ(w.Volumes().ListView().Count(), 1);
        w.Volumes().ListView().SelectRow(0);
        w.ui.ExpectProgress();
        w.ui.ExpectCheckBox(uistr::kDeepScanHint, kAnswerOk, false);
        w.ctx.SheetController().Next();
        ASSERT_EQ(w.sheet.GetActivePage(), kPageFileSelect);
        ASSERT_TRUE(w.ui.Done());
        CFileSystemNode* deleted = w.DeletedFolder();
        ASSERT_NE(deleted, nullptr);
        // A deleted short entry has lost its first character.
        CFileNode* file = FindNode(deleted, "#39.TXT");
        ASSERT_EQ(file != nullptr, c.found);
        if (!file)
            continue;
        const std::string out = ScratchDir("dfr-fat-copy") + "/F39.TXT";
        RecoveryContext context;
        context.device = w.Files().Page().Device();
        ASSERT_EQ(RecoverFileData(context, file, out), kRecoverDone);
        EXPECT_EQ(ReadFileBytes(out), SplitFolderFile(39));
    }
}
