// Deleted File Recovery through the real pages on a fake machine whose disk is a FAT16 image
// with deleted files: mode page, volume page, file page (preview of a picture and a text file,
// single-file recovery), save page, recovering dialog and result page, with screenshots.
#include "app/windows/AppBitmaps.h"
#include "app/windows/DeleteRecoveryPage.h"
#include "app/windows/FileSelectPage.h"
#include "app/windows/MainFrame.h"
#include "app/windows/RecoveryDialogs.h"
#include "app/windows/SaveFilePage.h"
#include "app/windows/SaveResultPage.h"
#include "app/windows/WxUiServices.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "platform/DriveLetters.h"
#include "tests/support/DeletedFileImages.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/app/gui/CaptionChecks.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/EditPlus.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/TabCtrlPlus.h"
#include "ui/views/wx/FilePreviewDlg.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FileTreeCtrl.h"
#include "ui/views/wx/PropertiesDlg.h"
#include "tools/windows/FindFileDlg.h"
#include "tools/windows/SearchFileDlg.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

using namespace uitest;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const char* kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";

struct Machine {
    FakeSystemTree tree{ScratchDir("dfr-gui-machine")};
    Machine() {
        const DeletedVolumeCase& c = kDeletedVolumeCases[5];  // FAT16 in a partition table
        const std::string image = DeletedVolumeImage(c);
        const std::uint64_t sectors = fs::file_size(image) / 512;
        tree.AddDisk({"sda", kAta, {{"vendor", "ATA     "}, {"model", "TESTDISK"}, {"rev", "1.0"}},
                      {{"size", std::to_string(sectors)}, {"removable", "0"}}, image, 8, 0});
        tree.AddPartition("sda", "sda1", 8, 1, kDeletedPartitionStart, sectors - kDeletedPartitionStart, image);
        tree.Install();
        RegisterVolumeProbes();
    }
    ~Machine() {
        tree.Uninstall();
        platform::ClearDriveLetters();
    }
};

// The toolkit's own save dialog is left out: the test names the file.
class TestServices : public CWxUiServices {
public:
    using CWxUiServices::CWxUiServices;
    std::string SaveFileDialog(const std::string&, const std::string&) override { return savePath; }
    // With `cancelAfterFiles` set, the real recovering dialog runs and is cancelled once that
    // many files are done.
    RecoveryOutcome RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& out) override {
        if (cancelAfterFiles < 0)
            return CWxUiServices::RunRecoveringDialog(root, device, out);
        CRecoveringDlg dlg(wxTheApp->GetTopWindow(), root, device, out);
        const int after = cancelAfterFiles;
        dlg.onShown = [after](CRecoveringDlg& d) {
            CRecoveryProgress& progress = d.Progress();
            progress.onFileDone = [&progress, after](int done) {
                if (done >= after)
                    progress.Cancel();
            };
        };
        dlg.DoModal();
        return dlg.Outcome();
    }
    std::string savePath;
    int cancelAfterFiles = -1;
};

struct Program {
    platform::AppPaths paths = platform::ResolveAppPaths();
    TestServices services{paths};
    CEnumerationDeviceSource devices;
    std::unique_ptr<AppContext> context;
    CMainFrame* frame = nullptr;

    Program() {
        appres::RegisterAppBitmaps();
        context = std::make_unique<AppContext>(services, devices, paths);
        InstallDeletedFileRecoverySteps(*context);
        frame = new CMainFrame(*context);
        services.SetMainWindow(frame);
        frame->Show();
        frame->Raise();
        Pump(200);
    }
    ~Program() {
        if (frame) {
            frame->Destroy();
            Pump(50);
        }
        context.reset();
    }
    CWizardSheetWnd* Sheet() const { return frame->Sheet(); }
    template <class T>
    T* Page(int index) const {
        return dynamic_cast<T*>(Sheet()->Page(index));
    }
    void Press(int id) {
        wxWindow* b = Sheet()->Button(id);
        ASSERT_NE(b, nullptr);
        Click(b);
    }
};

template <class T>
ModalAnswerer::Step Shot(const char* name, std::function<void(T*)> then) {
    return [name, then](wxDialog* d) {
        auto* t = dynamic_cast<T*>(d);
        if (!t)
            return false;
        Pump(150);
        Screenshot(t, name);
        then(t);
        return true;
    };
}

ModalAnswerer::Step Answer(const char* expected, bool yes, const char* name = nullptr) {
    return [expected, yes, name](wxDialog* d) {
        auto* box = dynamic_cast<CMessageBoxDlg*>(d);
        if (!box)
            return false;
        EXPECT_EQ(box->message, expected);
        if (name)
            Screenshot(box, name);
        Click(yes ? (box->YesButton() && box->YesButton()->IsShown() ? box->YesButton() : box->OkButton()) : box->NoButton());
        return true;
    };
}

CFileNode* RowNode(CFileListCtrl* list, const char* name, long* index) {
    for (long i = 0; i < static_cast<long>(list->Model().GetCount()); ++i) {
        CFileNode* n = list->GetFileAt(i);
        if (n && n->m_pProperties && std::string(n->m_pProperties->GetName()) == name) {
            *index = i;
            return n;
        }
    }
    return nullptr;
}

void SelectRow(CFileListCtrl* list, long index) {
    list->ReportView()->SetItemState(index, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                     wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    Pump(50);
}

} // namespace

TEST(DeletedFileRecoveryWindows, ModeToResultThroughThePages) {
    Machine machine;
    Program p;
    ModalAnswerer modals;

    // Mode page: the Deleted File Recovery button; the volume page lists the unmounted volume.
    auto* mode = dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode));
    ASSERT_NE(mode, nullptr);
    Click(mode->ModeButton(kModeDeletedFile));
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageDeleteRecoveryPartition; }));
    auto* volumes = p.Page<CDeleteRecoveryPartitionDeviceSelectPage>(kPageDeleteRecoveryPartition);
    ASSERT_NE(volumes, nullptr);
    ASSERT_EQ(volumes->List()->Count(), 1);
    EXPECT_EQ(volumes->List()->Model().Row(0).cells[0].text, "* : DFR16  (FAT16)");
    EXPECT_TRUE(volumes->Button(CDeleteRecoveryPartitionDeviceSelectPage::kIdRefresh)->IsShown());
    EXPECT_FALSE(volumes->Button(CDeleteRecoveryPartitionDeviceSelectPage::kIdOption)->IsShown());
    ClickAt(volumes->List()->View(), wxPoint(120, 20));
    EXPECT_EQ(volumes->List()->GetSelectedIndex(), 0);
    Pump(100);
    Screenshot(p.frame, "dfr_page1_volumes");

    // Next: the quick scan, the hint (ticked away), the file page.
    modals.Then([](wxDialog* d) {
        auto* prompt = dynamic_cast<CHasCheckboxPromptDlg*>(d);
        if (!prompt)
            return false;
        Screenshot(prompt, "dfr_deep_scan_hint");
        Click(prompt->CheckBox());
        Click(prompt->OkButton());
        return true;
    });
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageFileSelect; }, 20000));
    EXPECT_FALSE(p.context->showFileSelectHint);
    auto* files = p.Page<CFileSelectPage>(kPageFileSelect);
    ASSERT_NE(files, nullptr);
    Pump(200);
    ASSERT_GE(files->Files()->Model().GetCount(), 2u);  // the deleted files of the root folder
    Screenshot(p.frame, "dfr_page9_files");

    // Preview of the picture through the real chain.
    long row = -1;
    CFileNode* picture = RowNode(files->Files(), "picture_gone.bmp", &row);
    ASSERT_NE(picture, nullptr);
    SelectRow(files->Files(), row);
    modals.Then(Shot<CFilePreviewDlg>("dfr_preview_picture", [](CFilePreviewDlg* d) { d->EndModal(wxID_OK); }));
    Click(files->Button(CFileSelectPage::kIdPreview));
    ASSERT_TRUE(PumpUntil([&] { return modals.Done(); }, 10000));
    Pump(100);

    // Single-file recovery of the same file through the save dialog and the right-click dialog.
    const std::string single = ScratchDir("dfr-gui-single") + "/picture_gone.bmp";
    p.services.savePath = single;
    modals.Then(Answer("Recover Complete!", true, "dfr_recover_complete"));
    wxCommandEvent recover(wxEVT_MENU, ID_FILELIST_RECOVER);
    recover.SetEventObject(files->Files());
    files->Files()->ProcessWindowEvent(recover);
    ASSERT_TRUE(PumpUntil([&] { return modals.Done(); }, 10000));
    EXPECT_EQ(ReadFileBytes(single), DeletedSampleBytes(kDeletedSamples[3]));

    // "Properties" from the list's menu: the file's rows in the properties dialog.
    modals.Then(Shot<CPropertyListDlg>("dfr_file_properties", [](CPropertyListDlg* d) {
        EXPECT_EQ(d->List()->GetItemText(0, 0), "Name");
        EXPECT_EQ(d->List()->GetItemText(0, 1), "picture_gone.bmp");
        Click(d->OkButton());
    }));
    wxCommandEvent properties(wxEVT_MENU, ID_FILELIST_PROPERTIES);
    properties.SetEventObject(files->Files());
    files->Files()->ProcessWindowEvent(properties);
    ASSERT_TRUE(PumpUntil([&] { return modals.Done() && !ActiveModal(); }, 10000));

    // Find File: "*.bmp" is found once, then "No more files found." closes the dialog.
    modals.Then([](wxDialog* d) {
        auto* find = dynamic_cast<CFindFileDlg*>(d);
        if (!find)
            return false;
        find->NameEdit()->SetValue("*.bmp");
        Pump(100);
        Screenshot(find, "dfr_find_dialog");
        find->CallAfter([find] { find->OnFindNext(); });
        return true;
    });
    modals.Then([&](wxDialog* d) {
        auto* find = dynamic_cast<CFindFileDlg*>(d);
        if (!find || !find->State().Searched())
            return false;
        EXPECT_STREQ(files->SelectedFile() ? files->SelectedFile()->m_pProperties->GetName() : "", "picture_gone.bmp");
        find->CallAfter([find] { find->OnFindNext(); });
        return true;
    });
    modals.Then(Answer("No more files found.", true));
    Click(files->Button(CFileSelectPage::kIdFindFile));
    ASSERT_TRUE(PumpUntil([&] { return modals.Done() && !ActiveModal(); }, 10000));

    // Search files: "*.txt" with auto-select ticks the deleted text file and opens the search tab.
    modals.Then([](wxDialog* d) {
        auto* search = dynamic_cast<CSearchFileDlg*>(d);
        if (!search)
            return false;
        search->NameEdit()->SetValue("*.txt");
        search->AutoSelectCheck()->SetValue(true);
        Pump(100);
        Screenshot(search, "dfr_search_dialog");
        search->CallAfter([search] { search->OnSearch(); });
        return true;
    });
    Click(files->Button(CFileSelectPage::kIdSearchFiles));
    ASSERT_TRUE(PumpUntil([&] { return modals.Done() && !ActiveModal(); }, 10000));
    Pump(200);
    EXPECT_EQ(files->Tabs()->GetCurSel(), 1);
    ASSERT_EQ(files->SearchList()->Model().GetCount(), 1u);
    EXPECT_EQ(GetFileSelectController()->Page().RightStatus(), "Selected 4.88 KB in 1 files");
    Screenshot(p.frame, "dfr_page9_search");
    // Preview of the text file from the search tab.
    SelectRow(files->SearchList(), 0);
    modals.Then(Shot<CFilePreviewDlg>("dfr_preview_text", [](CFilePreviewDlg* d) {
        EXPECT_EQ(d->CurrentTab(), CFilePreviewDlg::TAB_TEXT);
        d->EndModal(wxID_OK);
    }));
    Click(files->Button(CFileSelectPage::kIdPreview));
    ASSERT_TRUE(PumpUntil([&] { return modals.Done() && !ActiveModal(); }, 10000));
    files->Tabs()->SetCurSel(0);
    Pump(100);

    // Tick the deleted files (the folder's check box) and go on to the save page.
    wxTreeItemIdValue cookie;
    const wxTreeItemId deleted = files->Tree()->GetFirstChild(files->Tree()->GetRootItem(), cookie);
    ASSERT_TRUE(deleted.IsOk());
    files->Tree()->OnFolderCheck(deleted);
    Pump(200);
    EXPECT_EQ(p.context->Controller(kPageFileSelect) ? GetFileSelectController()->Page().RightStatus() : "",
              "Selected 87.36 KB in 3 files");
    Screenshot(p.frame, "dfr_page9_ticked");
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageSaveFile; }));
    auto* save = p.Page<CSaveFilePage>(kPageSaveFile);
    ASSERT_NE(save, nullptr);
    const std::string target = ScratchDir("dfr-gui-target");
    save->TargetEdit()->SetFocus();
    Pump(50);
    Type(target.c_str());
    ASSERT_TRUE(PumpUntil([&] { return GetSaveFileController()->Page().GetTargetFolder() == target; }, 10000));
    Pump(200);
    Screenshot(p.frame, "dfr_page6_save");

    // Next: the recovering dialog runs and ends itself; the result page shows the outcome.
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageSaveResult; }, 20000));
    auto* result = p.Page<CSaveResultPage>(kPageSaveResult);
    ASSERT_NE(result, nullptr);
    result->ShowSummary();
    Pump(200);
    EXPECT_EQ(GetSaveResultController()->Summary().filesRecovered, 3);
    EXPECT_EQ(ui::ToUtf8(result->Outcome()->OutcomeText()->GetLabel()), RecoveryOutcomeText(3, 3));
    Screenshot(p.frame, "dfr_page5_result");
    ASSERT_EQ(GetSaveResultController()->Summary().folders.size(), 1u);
    std::map<std::string, std::vector<std::uint8_t>> recovered;
    const std::string folder = GetSaveResultController()->Summary().folders[0];
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            recovered[fs::relative(it->path(), folder).string()] = ReadFileBytes(it->path().string());
    EXPECT_EQ(recovered, DeletedOriginals());

    // "Back To File List" shows the file page again.
    Click(result->Button(CSaveResultPage::kIdBackToFileList));
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageFileSelect; }));
    EXPECT_TRUE(modals.Done());
}

TEST(DeletedFileRecoveryWindows, RecoveryDialogsShowProgressAndCancel) {
    Machine machine;
    Program p;
    ModalAnswerer modals;
    Click(dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode))->ModeButton(kModeDeletedFile));
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageDeleteRecoveryPartition; }));
    p.context->showFileSelectHint = false;
    // The volume row's flat menu: "Recover" goes on as Next does.
    auto* volumes = p.Page<CDeleteRecoveryPartitionDeviceSelectPage>(kPageDeleteRecoveryPartition)->List();
    volumes->SelectRow(0);
    Pump(700);
    ClickAt(volumes->View(), wxPoint(60, volumes->Model().Row(0).top + 20), wxMOUSE_BTN_RIGHT);
    wxWindow* menu = ShownFlatMenu();
    ASSERT_NE(menu, nullptr);
    MoveTo(menu, wxPoint(40, 12));
    Pump(100);
    Screenshot(p.frame, "dfr_volume_row_menu");
    ChooseFlatMenuItem(0);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageFileSelect; }, 20000));
    CFileSelectController* files = GetFileSelectController();
    CFileNode* root = files->GetFileTree();
    ASSERT_NE(root, nullptr);
    ToggleCheckState(root->m_pFirstChild, false);

    // The recovering dialog: shown before the first file, its Cancel asks first; No changes
    // nothing, Yes cancels: nothing is recovered.
    {
        CRecoveringDlg dlg(p.frame, root, files->GetSourceDevice(), ScratchDir("dfr-gui-cancel"));
        dlg.onShown = [&](CRecoveringDlg& d) {
            Pump(300);
            d.RefreshTexts();
            Screenshot(&d, "dfr_recovering_dialog");
            EXPECT_EQ(d.TextOf(1007), "3");
            EXPECT_EQ(d.TextOf(1009), "87.36 KB");
            // The kit's skinned dialog: its dark rim, and the rounded corner shows what is behind.
            EXPECT_EQ(ScreenPixel(&d, wxPoint(0, 15)), wxColour(59, 64, 74));
            EXPECT_NE(ScreenPixel(&d, wxPoint(0, 0)), wxColour(59, 64, 74));
            // The details buttons: the one shown hides the counters, the other shows them again.
            EXPECT_TRUE(d.HideDetailsButton()->IsShown());
            EXPECT_FALSE(d.ShowDetailsButton()->IsShown());
            EXPECT_EQ(d.HideDetailsButton()->GetId(), 1167);
            EXPECT_EQ(d.ShowDetailsButton()->GetId(), 1156);
            Click(d.HideDetailsButton());
            Pump(150);
            EXPECT_FALSE(d.DetailsShown());
            EXPECT_TRUE(d.ShowDetailsButton()->IsShown());
            EXPECT_FALSE(d.HideDetailsButton()->IsShown());
            EXPECT_EQ(d.GetClientSize().y, CRecoveringDlg::kHeightWithoutDetails);
            Screenshot(&d, "dfr_recovering_dialog_details_hidden");
            Click(d.ShowDetailsButton());
            Pump(150);
            EXPECT_TRUE(d.DetailsShown());
            EXPECT_EQ(d.GetClientSize().y, CRecoveringDlg::kHeightWithDetails);
            // (The button's own handler, called outside any pump so the question's loop runs
            // as it does for a click.)
            modals.Then(Answer("Quit recovering?", false));
            d.OnCancelPressed();
            EXPECT_FALSE(d.Progress().Cancelled());
            modals.Then(Answer("Quit recovering?", true, "dfr_quit_recovering"));
            d.OnCancelPressed();
            EXPECT_TRUE(d.Progress().Cancelled());
            EXPECT_EQ(ui::ToUtf8(d.GetTitle()), "Cancelling...");
            Screenshot(&d, "dfr_recovering_dialog_cancelling");
            d.ShowDetails(false);
            Pump(100);
            Screenshot(&d, "dfr_recovering_dialog_small");
        };
        EXPECT_EQ(dlg.DoModal(), 1);
        EXPECT_EQ(dlg.Outcome().filesToRecover, 3);
        EXPECT_EQ(dlg.Outcome().filesRecovered, 0);
        EXPECT_TRUE(dlg.Outcome().cancelled);
    }

    // The single-file dialog: a cancel ends it with 2 and no message.
    {
        CFileNode* file = root->m_pFirstChild->m_pFirstChild;
        while (file && file->IsFolder())
            file = file->m_pNextSibling;
        ASSERT_NE(file, nullptr);
        const std::string target = ScratchDir("dfr-gui-rbclick") + "/one";
        CRBClickRecoverFileDlg dlg(p.frame, files->GetSourceDevice(), file, target);
        dlg.onShown = [&](CRBClickRecoverFileDlg& d) {
            Pump(300);
            Screenshot(&d, "dfr_single_file_dialog");
            Click(d.CancelButton());
        };
        EXPECT_EQ(dlg.DoModal(), 2);
        EXPECT_TRUE(dlg.Progress().Cancelled());
    }
    EXPECT_TRUE(modals.Done());
}

// The tool buttons of the volume and file pages show their whole captions and their own
// pictures; a recovery cancelled after its first file ends on a result page that says so,
// counts one file and lists its folder.
TEST(DeletedFileRecoveryWindows, ToolbarsAndACancelledRecovery) {
    Machine machine;
    Program p;
    ModalAnswerer modals;
    p.context->showFileSelectHint = false;
    Click(dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode))->ModeButton(kModeDeletedFile));
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageDeleteRecoveryPartition; }));
    auto* volumes = p.Page<CDeleteRecoveryPartitionDeviceSelectPage>(kPageDeleteRecoveryPartition);
    ASSERT_NE(volumes, nullptr);
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(200);
    using VolumePage = CDeleteRecoveryPartitionDeviceSelectPage;
    ExpectToolButtonRow({volumes->Button(VolumePage::kIdRefresh), volumes->Button(VolumePage::kIdOption),
                         volumes->Button(VolumePage::kIdDiskImage)});
    for (int id : {kIdHomeButton, kIdNextButton, kIdBackButton})
        ExpectCaptionFits(dynamic_cast<CTextCenterButtonPlus*>(p.Sheet()->Button(id)));
    Screenshot(p.frame, "dfr_volume_page_toolbar");

    volumes->List()->SelectRow(0);
    Pump(100);
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageFileSelect; }, 20000));
    auto* files = p.Page<CFileSelectPage>(kPageFileSelect);
    ASSERT_NE(files, nullptr);
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(300);
    std::vector<CTextSmallIconButtonPlus*> row;
    for (int id : {CFileSelectPage::kIdFindFile, CFileSelectPage::kIdSearchFiles, CFileSelectPage::kIdPreview,
                   CFileSelectPage::kIdThumbnail, CFileSelectPage::kIdSelectAll, CFileSelectPage::kIdDeselectAll,
                   CFileSelectPage::kIdState})
        row.push_back(files->Button(id));
    ExpectToolButtonRow(row);
    ExpectCaptionFits(dynamic_cast<CTextCenterButtonPlus*>(p.Sheet()->Button(kIdDeepScanButton)));
    Screenshot(p.frame, "dfr_file_page_toolbar");
    // The view toggle takes the other caption and picture; the row is laid out again.
    const std::vector<std::uint32_t> thumbnailSign = SignPixels(files->Button(CFileSelectPage::kIdThumbnail));
    Click(files->Button(CFileSelectPage::kIdThumbnail));
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(300);
    EXPECT_EQ(ui::ToUtf8(files->Button(CFileSelectPage::kIdThumbnail)->GetCaption()), "Details");
    EXPECT_NE(SignPixels(files->Button(CFileSelectPage::kIdThumbnail)), thumbnailSign);
    ExpectToolButtonRow(row);
    Screenshot(p.frame, "dfr_file_page_toolbar_details");
    Click(files->Button(CFileSelectPage::kIdThumbnail));
    Pump(200);

    // Tick every deleted file and save; the recovery is cancelled after the first file.
    files->Tabs()->SetCurSel(0);
    wxTreeItemIdValue cookie;
    const wxTreeItemId deleted = files->Tree()->GetFirstChild(files->Tree()->GetRootItem(), cookie);
    ASSERT_TRUE(deleted.IsOk());
    files->Tree()->OnFolderCheck(deleted);
    Pump(100);
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageSaveFile; }));
    const std::string target = ScratchDir("dfr-gui-cancelled");
    GetSaveFileController()->Page().SetTargetFolder(target);
    p.services.cancelAfterFiles = 1;
    p.Press(kIdNextButton);
    ASSERT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageSaveResult; }, 20000));
    auto* result = p.Page<CSaveResultPage>(kPageSaveResult);
    ASSERT_NE(result, nullptr);
    result->ShowSummary();
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(300);
    const SaveResultSummary summary = GetSaveResultController()->Summary();
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.filesToRecover, 3);
    EXPECT_EQ(summary.filesRecovered, 1);
    ASSERT_EQ(summary.folders.size(), 1u);
    // One whole file written; nothing else under the target.
    std::vector<std::string> written;
    for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            written.push_back(it->path().filename().string());
    EXPECT_EQ(written.size(), 1u);
    CFileSaveDlg* outcome = result->Outcome();
    EXPECT_EQ(ui::ToUtf8(outcome->OutcomeText()->GetLabel()), RecoveryOutcomeText(1, 3));
    EXPECT_TRUE(outcome->NoteText()->IsShown());
    EXPECT_EQ(outcome->FolderLink()->GetURL(), summary.folders[0]);
    // The panel holds its lines, and the buttons stand below it.
    const wxRect panel = outcome->GetRect();
    EXPECT_LE(outcome->NoteText()->GetRect().GetBottom(), panel.height);
    EXPECT_LE(outcome->FolderLink()->GetRect().GetBottom(), panel.height);
    EXPECT_GT(result->Button(CSaveResultPage::kIdOpenSavedPath)->GetPosition().y, panel.GetBottom());
    for (int id : {CSaveResultPage::kIdOpenSavedPath, CSaveResultPage::kIdBackToFileList})
        ExpectCaptionFits(result->Button(id));
    Screenshot(p.frame, "dfr_result_page_cancelled");
    EXPECT_TRUE(modals.Done());
}
