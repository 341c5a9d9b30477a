// The found-file views as windows: the list in both views with sorting, checks and its menu,
// the folder tree with its tri-state boxes and folder check, the preview window's three tabs,
// the rich-text dialog, the properties dialogs and the legend, each with a screenshot.
#include <gtest/gtest.h>

#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "recovery/FileRecovery.h"
#include "platform/FileTypeMap.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "tests/ui/views/ViewsFixtures.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/ExSplitterWnd.h"
#include "carving/RAWFileProperties.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FilePreviewDlg.h"
#include "ui/views/wx/FileTreeCtrl.h"
#include "ui/views/wx/PropertiesDlg.h"
#include "ui/views/wx/PreviewLoading.h"
#include "ui/views/CompanionViewer.h"
#include "ui/views/PreviewTempFiles.h"
#include <filesystem>
#include <sys/stat.h>
#include "ui/views/SerialDevice.h"

using namespace uitest;
using namespace viewtests;

namespace {

CFileNode* FindFolder(CFileNode* root, const std::string& name) {
    std::vector<CFileNode*> stack{root};
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        if (CFileNode* d = Child(n, name))
            return d;
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    return nullptr;
}

std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = testsupport::ScratchDir("views-windows") + "/" + name;
    EXPECT_TRUE(testsupport::WriteFileBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    return path;
}

} // namespace

TEST(FileListWindow, ReportViewSortsChecksAndOffersItsMenu) {
    const std::string image = NtfsListImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanNtfs(image);
    ASSERT_TRUE(root);
    CFileNode* docs = FindFolder(root.get(), "docs");
    ASSERT_TRUE(docs);
    HostFrame host(wxSize(820, 420));
    auto* list = new CFileListCtrl(host.panel());
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list, 1, wxEXPAND);
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    int checkEvents = 0;
    list->Bind(EVT_FILELIST_CHECKS_CHANGED, [&](wxCommandEvent&) { ++checkEvents; });
    list->SetFolder(docs, root.get());
    EXPECT_EQ(list->ReportView()->GetItemCount(), static_cast<long>(list->Model().GetCount()));
    EXPECT_EQ(list->GetSelectedIndex(), 0);
    // Two clicks on one column: ascending, then descending; the arrow follows.
    list->SortByColumn(FILECOL_SIZE);
    EXPECT_EQ(list->ReportView()->GetSortIndicator(), FILECOL_SIZE);
    EXPECT_TRUE(list->ReportView()->IsAscendingSortIndicator());
    list->SortByColumn(FILECOL_SIZE);
    EXPECT_FALSE(list->ReportView()->IsAscendingSortIndicator());
    list->SortByColumn(FILECOL_NAME);
    EXPECT_EQ(list->ReportView()->GetSortIndicator(), FILECOL_NAME);
    EXPECT_EQ(list->ReportView()->GetItemText(0, 0), wxString("f0.txt"));
    // The type column shows the type service's name, and the name's picture its type's icon.
    ASSERT_TRUE(LookupFileType(".txt"));
    EXPECT_EQ(list->ReportView()->OnGetItemText(0, FILECOL_TYPE), wxString::FromUTF8(LookupFileType(".txt")->name));
    EXPECT_GE(list->ReportView()->OnGetItemColumnImage(0, 0), 3); // not the plain file's pictures
    // Checks: one toggle and select all, each told to the owner.
    list->ToggleCheck(1);
    EXPECT_EQ(list->GetFileAt(1)->m_pProperties->GetCheckState(), CHECKSTATE_CHECKED);
    list->CheckAll(true);
    EXPECT_EQ(checkEvents, 2);
    EXPECT_EQ(list->ReportView()->OnGetItemColumnImage(3, 0) % 3, 1); // checked, beside its type icon
    // The menu offers "Locate in the main list" only on search results.
    EXPECT_EQ(list->MakeContextMenu().Items().size(), 3u);
    list->SetOffersLocate(true);
    const CXPMenu menu = list->MakeContextMenu();
    ASSERT_EQ(menu.Items().size(), 4u);
    EXPECT_EQ(menu.Items()[2].text, "Locate in the main list");
    Pump(200);
    Screenshot(host.frame(), "file_list_report");
    // A right click on a row opens the flat menu; its choice reaches the list's owner.
    int chosen = 0;
    host.panel()->Bind(wxEVT_MENU, [&](wxCommandEvent& e) { chosen = e.GetId(); });
    wxRect row;
    ASSERT_TRUE(list->ReportView()->GetItemRect(1, row));
    ClickAt(list->ReportView(), row.GetPosition() + wxPoint(40, row.height / 2), wxMOUSE_BTN_RIGHT);
    wxWindow* shown = ShownFlatMenu();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->GetClientSize(), wxSize(160, 100));
    MoveTo(shown, wxPoint(40, 3 * 25 + 12));
    Pump(100);
    Screenshot(host.frame(), "file_list_flat_menu");
    ChooseFlatMenuItem(3);
    EXPECT_TRUE(PumpUntil([&] { return chosen != 0; }));
    EXPECT_EQ(chosen, ID_FILELIST_PROPERTIES);
    EXPECT_EQ(list->GetSelectedIndex(), 1);
    // A folder with only sub-folders lists nothing.
    CFileNode* upper = docs->m_pParent;
    CFileNode* sub = Child(docs, "sub");
    ASSERT_TRUE(sub);
    list->SetFolder(sub, root.get());
    EXPECT_EQ(list->Model().GetCount(), 2u);
    (void)upper;
    list->ClearFiles();
    EXPECT_EQ(list->GetSelectedIndex(), -1);
}

TEST(FileListWindow, ThumbnailViewDrawsPicturesFromTheWorker) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    CImageFileDevice raw(image.c_str());
    CSerialDevice device(&raw);
    HostFrame host(wxSize(640, 480));
    auto* list = new CFileListCtrl(host.panel());
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list, 1, wxEXPAND);
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    list->SetDevice(&device);
    list->SetFolder(root.get(), root.get());
    list->SortByColumn(FILECOL_NAME);
    list->ShowThumbnailView();
    EXPECT_TRUE(list->IsThumbnailView());
    CFileNode* wide = Child(root.get(), "wide.png");
    CFileNode* small = Child(root.get(), "small.gif");
    ASSERT_TRUE(PumpUntil([&] {
        list->ThumbnailView()->Refresh();
        return list->ThumbnailBitmap(wide).IsOk() && list->ThumbnailBitmap(small).IsOk();
    }, 20000));
    EXPECT_EQ(list->ThumbnailBitmap(wide).GetWidth(), 80);
    EXPECT_EQ(list->ThumbnailBitmap(wide).GetHeight(), 40);
    // The check box under a picture toggles its file.
    const long row = list->Model().IndexOf(small);
    const wxRect r = list->ThumbnailView()->ItemRect(row);
    bool box = false;
    EXPECT_EQ(list->ThumbnailView()->HitTest(wxPoint(r.x + 8, r.GetBottom() + 1 - 10), &box), row);
    EXPECT_TRUE(box);
    ClickAt(list->ThumbnailView(), wxPoint(r.x + 8, r.GetBottom() + 1 - 10));
    ASSERT_TRUE(PumpUntil([&] { return small->m_pProperties->GetCheckState() == CHECKSTATE_CHECKED; }));
    Pump(300);
    Screenshot(host.frame(), "file_list_thumbnails");
    list->ShowListView();
    EXPECT_FALSE(list->IsThumbnailView());
}

TEST(FileTreeWindow, TriStateBoxesAndFolderCheck) {
    const std::string image = NtfsListImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanNtfs(image);
    ASSERT_TRUE(root);
    while (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root.get(), false);
    HostFrame host(wxSize(700, 400));
    auto* tree = new CFileTreeCtrl(host.panel());
    auto* list = new CFileListCtrl(host.panel());
    tree->SetFileList(list);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(tree, 0, wxEXPAND);
    sizer->Add(list, 1, wxEXPAND);
    tree->SetMinSize(wxSize(220, -1));
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    tree->SetRootNode(root.get());
    CFileNode* docs = FindFolder(root.get(), "docs");
    CFileNode* sub = Child(docs, "sub");
    wxTreeItemId docsItem, subItem;
    ASSERT_TRUE(tree->SelectNode(docs, &docsItem));
    ASSERT_TRUE(tree->SelectNode(sub, &subItem));
    EXPECT_EQ(list->Model().GetFolder(), sub); // selecting lists the folder's files
    EXPECT_EQ(tree->CheckPictureOf(subItem), 1);
    int events = 0;
    tree->Bind(EVT_FILETREE_CHECKS_CHANGED, [&](wxCommandEvent&) { ++events; });
    // The kit's waiting dialog is up (and the main window disabled) while the worker runs.
    bool sawWaiting = false;
    tree->SetWaitingObserver([&](CWaitingDlg* waiting) {
        sawWaiting = true;
        EXPECT_TRUE(waiting->IsShown());
        EXPECT_FALSE(host.frame()->IsEnabled());
        wxString label = waiting->TextStatic()->GetLabel();
        label.Replace("\n", " ");
        EXPECT_EQ(label, wxString("Please wait a minute for there are too many files in the directory you selected."));
        EXPECT_EQ(waiting->TextStatic()->GetSize().x, 250);
        EXPECT_GE(waiting->TextStatic()->GetSize().y, 40);
        Pump(150);
        Screenshot(waiting, "file_tree_waiting");
    });
    tree->OnFolderCheck(subItem);
    tree->SetWaitingObserver({});
    EXPECT_TRUE(sawWaiting);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(tree->CheckPictureOf(subItem), 3);
    EXPECT_EQ(tree->CheckPictureOf(docsItem), 2); // other files of docs stay unchecked
    EXPECT_EQ(list->ReportView()->OnGetItemColumnImage(0, 0) % 3, 1); // the listed files follow
    Pump(200);
    Screenshot(host.frame(), "file_tree_partial");
    // Partly checked becomes checked; checked again unchecks the subtree.
    tree->OnFolderCheck(docsItem);
    EXPECT_EQ(tree->CheckPictureOf(docsItem), 3);
    tree->OnFolderCheck(docsItem);
    EXPECT_EQ(tree->CheckPictureOf(docsItem), 1);
    EXPECT_EQ(tree->CheckPictureOf(subItem), 1);
}

TEST(PreviewWindow, TextHexAndImageTabs) {
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "Line " + std::to_string(i) + " of the preview text, caf\xC3\xA9\n";
    const std::string textPath = Write("preview.txt", text);
    auto* dlg = new CFilePreviewDlg(nullptr, textPath, "preview.txt");
    dlg->Show();
    Pump(300);
    EXPECT_EQ(dlg->CurrentTab(), CFilePreviewDlg::TAB_TEXT); // no picture: the text tab
    EXPECT_EQ(dlg->TextLines(), 400u);
    EXPECT_TRUE(dlg->TextView()->GetValue().StartsWith("Line 0 of the preview text, caf\u00e9"));
    dlg->ScrollTo(100);
    EXPECT_EQ(dlg->Position(), 100u);
    EXPECT_TRUE(dlg->TextView()->GetValue().StartsWith("Line 100 "));
    // Scrolling by the bar, wheel or keys refreshes at most every 100 ms; the page that was
    // skipped shows once the 100 ms are over, and either end shows at once.
    dlg->ScrollFromUser(150);
    EXPECT_EQ(dlg->Position(), 150u);
    EXPECT_TRUE(dlg->TextView()->GetValue().StartsWith("Line 100 "));
    EXPECT_TRUE(PumpUntil([&] { return dlg->TextView()->GetValue().StartsWith("Line 150 "); }, 2000));
    dlg->ScrollFromUser(151);
    dlg->ScrollFromUser(0);
    EXPECT_TRUE(dlg->TextView()->GetValue().StartsWith("Line 0 "));
    dlg->ScrollTo(100);
    // The frame: the kit's skinned base, resizable down to 353 x 200.
    EXPECT_EQ(dlg->Caption(), wxString("preview.txt - File Preview"));
    const wxSize firstSize = dlg->GetClientSize();
    dlg->ResizeTo(wxSize(100, 100));
    EXPECT_EQ(dlg->GetClientSize(), wxSize(353, 200));
    dlg->ResizeTo(firstSize);
    // Maximise and restore from the caption button.
    ASSERT_TRUE(dlg->MaximiseButton());
    const wxRect before = dlg->GetRect();
    Click(dlg->MaximiseButton());
    ASSERT_TRUE(PumpUntil([&] { return dlg->IsMaximisedView(); }));
    EXPECT_TRUE(dlg->MaximiseButton()->ShowsRestore());
    EXPECT_GT(dlg->GetSize().x, before.width);
    dlg->ToggleMaximise();
    EXPECT_FALSE(dlg->IsMaximisedView());
    EXPECT_EQ(dlg->GetRect().GetSize(), before.GetSize());
    Pump(100);
    Screenshot(dlg, "preview_text");
    // The hex view takes the position through the file offset.
    dlg->SelectTab(CFilePreviewDlg::TAB_HEX);
    Pump(100);
    const std::uint64_t offset = 100 * std::string("Line 10 of the preview text, caf\xC3\xA9\n").size();
    EXPECT_NEAR(double(dlg->Position()), double(offset / 16), 20.0);
    EXPECT_TRUE(dlg->HexView()->GetValue().StartsWith("Offset"));
    // Tab stops every 15 dialog units.
    ASSERT_EQ(dlg->HexTabStops().size(), 40u);
    EXPECT_GT(dlg->HexTabStops()[0], 0);
    EXPECT_NEAR(dlg->HexTabStops()[39], 40 * dlg->HexTabStops()[0], 40);
    Screenshot(dlg, "preview_hex");
    dlg->SelectTab(CFilePreviewDlg::TAB_IMAGE);
    Pump(100);
    EXPECT_FALSE(dlg->ImageView()->HasPicture());
    Screenshot(dlg, "preview_image_unsupported");
    dlg->Destroy();
    Pump(50);

    const std::string pic = testsupport::ScratchDir("views-windows") + "/pic.png";
    ASSERT_TRUE(testsupport::MustRun("convert -size 1200x300 gradient:orange-purple " + testsupport::ShellQuote(pic)));
    auto* img = new CFilePreviewDlg(nullptr, pic, "pic.png");
    img->Show();
    Pump(300);
    EXPECT_EQ(img->CurrentTab(), CFilePreviewDlg::TAB_IMAGE);
    ASSERT_TRUE(img->ImageView()->HasPicture());
    const wxRect fit = img->ImageView()->PictureRect();
    const wxSize client = img->ImageView()->GetClientSize();
    EXPECT_LE(fit.width, client.x - 2);
    EXPECT_NEAR(double(fit.width) / fit.height, 4.0, 0.1);
    EXPECT_FALSE(img->BestFitButton()->IsEnabled());
    Screenshot(img, "preview_image_best_fit");
    wxCommandEvent press(wxEVT_BUTTON, img->ActualSizeButton()->GetId());
    press.SetEventObject(img->ActualSizeButton());
    img->ActualSizeButton()->ProcessWindowEvent(press);
    Pump(100);
    EXPECT_FALSE(img->ImageView()->IsBestFit());
    EXPECT_EQ(img->ImageView()->PictureRect().width, 1200);
    Screenshot(img, "preview_image_actual_size");
    img->Destroy();
    Pump(50);
}

TEST(RtfDialog, ShowsStyledText) {
    const std::string path = Write("doc.rtf",
                                   "{\\rtf1\\ansi{\\fonttbl{\\f0 Sans;}}{\\colortbl ;\\red200\\green0\\blue0;}"
                                   "\\pard {\\b Bold heading}\\par {\\i italic} and {\\ul underlined} "
                                   "{\\cf1 red} {\\fs36 large} caf\\'e9 \\u8364?\\par}");
    auto* dlg = new CRtfPreviewerDlg(nullptr, path, "doc.rtf");
    dlg->Show();
    Pump(200);
    EXPECT_EQ(dlg->GetTitle(), wxString("doc.rtf"));
    EXPECT_EQ(dlg->Text()->GetValue(), wxString::FromUTF8("Bold heading\nitalic and underlined red large caf\xC3\xA9 \xE2\x82\xAC\n"));
    Screenshot(dlg, "rtf_dialog");
    // Dragging the bottom-right rim resizes the window.
    const wxSize before = dlg->GetClientSize();
    PressAt(dlg, wxPoint(before.x - 2, before.y - 2));
    MoveTo(dlg, wxPoint(before.x + 40, before.y + 30));
    ReleaseAt(dlg, wxPoint(before.x + 40, before.y + 30));
    EXPECT_TRUE(PumpUntil([&] { return dlg->GetClientSize().x > before.x + 20; }, 2000));
    EXPECT_GT(dlg->GetClientSize().y, before.y + 10);
    dlg->Destroy();
    Pump(50);
}

TEST(PropertiesWindows, FileAndPartitionDialogsAndLegend) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    auto* file = new CPropertiesDlg(nullptr, AtPath(root.get(), "/Folder/inner.txt"));
    file->Show();
    Pump(100);
    EXPECT_EQ(file->List()->GetItemText(0, 0), wxString("Name"));
    EXPECT_EQ(file->List()->GetItemText(0, 1), wxString("inner.txt"));
    Screenshot(file, "properties_file");
    file->Destroy();
    CFATSearchedPartitionInfo part;
    part.m_fileSystemType = FILESYSTEM_FAT16;
    part.m_u32EvidenceFlags = 0x02 | 0x40 | 0x100;
    auto* partition = new CScanPartitionPropertiesDlg(nullptr, &part);
    partition->Show();
    Pump(100);
    EXPECT_EQ(partition->List()->GetItemText(0, 1), wxString("100%"));
    Screenshot(partition, "properties_partition");
    partition->Destroy();
    auto* range = new CScanPartitionPropertiesDlg(nullptr, 63, 2048);
    EXPECT_EQ(range->List()->GetItemText(0, 0), wxString("Total Sector"));
    range->Destroy();
    // Modal, ended by its OK button with 1.
    CPropertiesDlg modal(nullptr, AtPath(root.get(), "/Folder/inner.txt"));
    EXPECT_EQ(modal.Caption(), wxString("Properties"));
    EXPECT_EQ(RunModal([&] { return modal.DoModal(); }, [&] { Click(modal.OkButton()); }), kResultOk);
    CAttributesStates legend(nullptr);
    const int result = RunModal([&] { return legend.DoModal(); }, [&] {
        Pump(100);
        EXPECT_EQ(legend.TitleStatic()->GetLabel(), wxString("Oxtavo Data Recovery"));
        EXPECT_EQ(legend.CloseButton()->GetPosition(), wxPoint(legend.GetClientSize().x - 25, 7));
        Screenshot(&legend, "state_legend");
        Click(legend.CloseButton());
    });
    EXPECT_EQ(result, kResultCancel); // Close ends it as Cancel
    Pump(50);
}

TEST(PreviewLoadingWindow, CopiesOutAndCancelLeavesNothing) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    CImageFileDevice raw(image.c_str());
    CSerialDevice device(&raw);
    CFileNode* inner = AtPath(root.get(), "/Folder/inner.txt");
    ASSERT_TRUE(inner);
    EXPECT_EQ(PreviewRefusal(inner), "");
    EXPECT_EQ(PreviewRefusal(Child(root.get(), "Folder")), "Cannot preview directory.");
    EXPECT_EQ(PreviewRefusal(nullptr), "Please select a file to preview!");
    std::string kept;
    {
        CTempPreviewFile temp;
        kept = temp.Path();
        CPreviewLoadingDlg loading(nullptr, &device, inner, temp.Path());
        // The skinned dialog as it shows before the copy starts.
        loading.Show();
        Pump(150);
        EXPECT_EQ(loading.CloseButton()->GetPosition(), wxPoint(loading.GetClientSize().x - 25, 7));
        Screenshot(&loading, "preview_loading");
        loading.Hide();
        EXPECT_EQ(loading.RunLoad(true), PREVIEW_LOADED);
        EXPECT_EQ(loading.Gauge()->GetPos(), 100);
        EXPECT_EQ(testsupport::ReadFileBytes(temp.Path()), testsupport::PatternBytes(3000, 9));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
    {
        CTempPreviewFile temp;
        kept = temp.Path();
        CPreviewLoadingDlg loading(nullptr, &device, inner, temp.Path());
        loading.Cancel();
        EXPECT_EQ(loading.RunLoad(true), PREVIEW_NOT_LOADED);
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
    Pump(50);
}

TEST(CompanionViewerWindow, WindowsAreDisabledWhileTheViewerRuns) {
    HostFrame host(wxSize(200, 100));
    host.ShowAndWait();
    const std::string dir = testsupport::ScratchDir("views-windows");
    const std::string out = dir + "/viewer-args.txt";
    const std::string script = Write("viewer.sh", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + out + "\"\nsleep 0.4\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    bool enabledMeanwhile = true;
    wxTimer probe;
    probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { enabledMeanwhile = host.frame()->IsEnabled(); });
    probe.StartOnce(150);
    EXPECT_TRUE(RunCompanionViewer(QuoteViewerWord(script), "/tmp/~@!x.doc", "Budget.xls"));
    EXPECT_FALSE(enabledMeanwhile);
    EXPECT_TRUE(host.frame()->IsEnabled());
    EXPECT_EQ(testsupport::ReadFileBytes(out), testsupport::ReadFileBytes(Write("expected.txt", "/tmp/~@!x.doc|Budget.xls")));
    // A viewer that cannot start leaves the windows as they were.
    EXPECT_FALSE(RunCompanionViewer(QuoteViewerWord(dir + "/missing-viewer"), "/tmp/x.doc", "x.doc"));
}

namespace {

// A folder of the tree as the deep scan makes its RAW folders: a file-system node with RAW
// properties.
CFileSystemNode* RawFolder(CFileNode* parent, const char* name) {
    auto* node = CreateFileSystemNode();
    auto props = std::make_unique<CRAWFileProperties>();
    props->SetName(name);
    props->m_u16Attributes = FILEATTR_DIRECTORY;
    node->SetProperties(std::move(props));
    node->SetName("");
    node->SetFileSystemInfo(0, 1);
    node->m_pParent = parent;
    if (parent) {
        CFileNode** tail = &parent->m_pFirstChild;
        while (*tail)
            tail = &(*tail)->m_pNextSibling;
        *tail = node;
    }
    return node;
}

} // namespace

// Long folder names in the fixed-width pane of the file page: the tree scrolls sideways to
// them, and the splitter widens the pane until they show whole.
TEST(FileTreeWindow, LongFolderNamesScrollAndThePaneWidens) {
    struct TreeOwner {
        CFileNode* root = RawFolder(nullptr, "Root");
        ~TreeOwner() { DeleteFileTree(root); }
        CFileNode* get() const { return root; }
    } root;
    CFileSystemNode* raw = RawFolder(root.get(), "3 RAW");
    const char* longest = "Microsoft Office Word 97-2003 Document (*.doc) - found by signature";
    RawFolder(raw, "JPEG Image (*.jpg)");
    RawFolder(raw, longest);
    HostFrame host(wxSize(860, 400));
    auto* splitter = new CExSplitterWnd;
    splitter->layout.orientation = 2;
    splitter->layout.fixedPane = 0;
    splitter->layout.fixedSize = 220;
    splitter->layout.minSize = 120;
    splitter->layout.maxSize = 600;
    splitter->Create(host.panel(), wxID_ANY, wxPoint(0, 0), wxSize(860, 400));
    auto* tree = new CFileTreeCtrl(splitter);
    auto* list = new CFileListCtrl(splitter);
    tree->SetFileList(list);
    splitter->SetPanes(tree, list);
    host.ShowAndWait();
    tree->SetRootNode(dynamic_cast<CFileSystemNode*>(root.get()));
    Pump(100);
    CFileNode* longNode = Child(raw, longest);
    ASSERT_NE(longNode, nullptr);
    wxTreeItemId item;
    ASSERT_TRUE(tree->SelectNode(longNode, &item));
    tree->ScrollTo(item);
    tree->Scroll(0, -1);
    Pump(200);
    wxRect text;
    ASSERT_TRUE(tree->GetBoundingRect(item, text, true));
    ASSERT_GT(text.GetRight(), tree->GetClientSize().x);  // cut at first...
    // ...but the tree's width reaches past it, so it scrolls sideways to the end of the name.
    EXPECT_GE(tree->GetVirtualSize().x, text.GetRight());
    EXPECT_GT(tree->GetScrollRange(wxHORIZONTAL), tree->GetScrollThumb(wxHORIZONTAL));
    Screenshot(host.frame(), "file_tree_long_names");
    tree->Scroll(tree->GetScrollRange(wxHORIZONTAL), -1);
    Pump(200);
    ASSERT_TRUE(tree->GetBoundingRect(item, text, true));
    EXPECT_LE(text.GetRight(), tree->GetClientSize().x);
    Screenshot(host.frame(), "file_tree_long_names_scrolled");

    // The splitter bar dragged right widens the pane (up to 600 pixels): the whole name shows,
    // or, in a font too large even for that, the rest of it is a shorter scroll away.
    const int bar = splitter->FirstPaneSize() + 2;
    Drag(splitter, wxPoint(bar, 100), wxPoint(360, 0));
    Pump(300);
    EXPECT_GE(splitter->FirstPaneSize(), 570);
    tree->Scroll(0, -1);
    Pump(100);
    ASSERT_TRUE(tree->GetBoundingRect(item, text, true));
    if (text.GetRight() > tree->GetClientSize().x) {
        tree->Scroll(tree->GetScrollRange(wxHORIZONTAL), -1);
        Pump(100);
        ASSERT_TRUE(tree->GetBoundingRect(item, text, true));
    }
    EXPECT_LE(text.GetRight(), tree->GetClientSize().x);
    Screenshot(host.frame(), "file_tree_long_names_widened");
    tree->SetRootNode(nullptr);
}
