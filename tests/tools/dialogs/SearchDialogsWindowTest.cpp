// The file search and find dialogs on screen, over small hand-made trees and the real file view.
#include "tests/tools/unit/HandTree.h"
#include "tests/ui/controls/windows/Harness.h"
#include "tools/windows/FindFileDlg.h"
#include "tools/windows/SearchFileDlg.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FileTreeCtrl.h"

#include <gtest/gtest.h>

using namespace uitest;
using namespace handtree;

namespace {

struct Messages {
    std::vector<std::string> texts;
    std::vector<int> help;
    ToolUiHooks Hooks() {
        ToolUiHooks hooks;
        hooks.message = [this](int, std::uint16_t, const std::string& text) {
            texts.push_back(text);
            return 1;
        };
        hooks.help = [this](int topic) { help.push_back(topic); };
        return hooks;
    }
};

// Root/Disk/{notes.txt 10, big.bin 5000, docs/{a.txt 3000, b.TXT 0}}.
struct DialogTree {
    testsupport::TreePtr root = NewRoot();
    CFileSystemNode* disk;
    CFileSystemNode* docs;
    DialogTree() {
        disk = AddFolder(root.get(), "Disk");
        AddFile(disk, "notes.txt", 10);
        AddFile(disk, "big.bin", 5000);
        docs = AddFolder(disk, "docs");
        AddFile(docs, "a.txt", 3000);
        AddFile(docs, "b.TXT", 0);
        root->RecountCounters();
    }
};

std::vector<std::string> Names(const SearchResult& r) {
    std::vector<std::string> out;
    for (CFileNode* n : r.nodes) out.push_back(NameOf(n));
    return out;
}

void Toggle(CSearchFileDlg& dlg, int panel) {
    wxCheckBox* box = dlg.HeaderCheck(panel);
    box->SetValue(!box->GetValue());
    wxCommandEvent e(wxEVT_CHECKBOX, box->GetId());
    e.SetEventObject(box);
    e.SetInt(box->GetValue());
    box->GetEventHandler()->ProcessEvent(e);
}

}  // namespace

TEST(SearchFileDialog, PanelsGrowTheDialogAndFindWithSizeAndAutoSelect) {
    DialogTree tree;
    Messages m;
    SearchResult result;
    CSearchFileDlg dlg(nullptr, tree.root.get(), tree.docs, &result, m.Hooks());
    const int r = RunModal([&] { return dlg.DoModal(); }, [&] {
        EXPECT_EQ(dlg.LocationChoice()->GetCount(), 3u);
        EXPECT_EQ(dlg.LocationChoice()->GetString(2), "Disk\\docs");
        EXPECT_EQ(dlg.TypeCombo()->GetCount(), 0u);  // filled when its panel opens
        Screenshot(&dlg, "search_dialog");
        const int closedHeight = dlg.GetClientSize().y;
        for (int panel : {CSearchFileDlg::kTypePanel, CSearchFileDlg::kDatePanel, CSearchFileDlg::kSizePanel,
                          CSearchFileDlg::kOtherPanel})
            Toggle(dlg, panel);
        Pump(80);
        EXPECT_GT(dlg.TypeCombo()->GetCount(), 2u);
        EXPECT_EQ(dlg.TypeCombo()->GetString(0), "(All Files)");
        EXPECT_GT(dlg.GetClientSize().y, closedHeight + 200);
        EXPECT_TRUE(dlg.PanelShown(CSearchFileDlg::kDatePanel));
        // Only the chosen date line is enabled.
        EXPECT_TRUE(dlg.MonthsEdit()->IsEnabled());
        EXPECT_FALSE(dlg.DaysEdit()->IsEnabled());
        EXPECT_FALSE(dlg.FromDate()->IsEnabled());
        Screenshot(&dlg, "search_dialog_all_panels");
        // A month count out of range: the prompt, and the dialog stays open.
        dlg.MonthsEdit()->SetValue("500");
        dlg.OnSearch();
        ASSERT_EQ(m.texts.size(), 1u);
        EXPECT_EQ(m.texts[0], "Please enter an integer between 1 and 120.");
        EXPECT_TRUE(dlg.IsShown());
        // Close the type, date and other panels again; search "*.txt" of at least 1 KB.
        for (int panel : {CSearchFileDlg::kTypePanel, CSearchFileDlg::kDatePanel, CSearchFileDlg::kOtherPanel})
            Toggle(dlg, panel);
        Pump(50);
        EXPECT_EQ(dlg.GetClientSize().y, closedHeight + dlg.PanelWindow(CSearchFileDlg::kSizePanel)->GetSize().y);
        Screenshot(&dlg, "search_dialog_size_panel");
        dlg.LocationChoice()->SetSelection(0);
        dlg.NameEdit()->SetValue("*.txt");
        dlg.SizeKindChoice()->SetSelection(1);
        dlg.SizeEdit()->SetValue("1");
        dlg.AutoSelectCheck()->SetValue(true);
        wxKeyEvent f1(wxEVT_CHAR_HOOK);
        f1.m_keyCode = WXK_F1;
        dlg.GetEventHandler()->ProcessEvent(f1);
        Click(dlg.FindButton());
    }, 60000);  // the type list's pictures take a while on a loaded machine
    EXPECT_EQ(r, 1);
    ASSERT_EQ(Names(result), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(dlg.GetSearchText(), "*.txt");
    EXPECT_EQ(result.nodes[0]->m_pProperties->GetCheckState(), CHECKSTATE_CHECKED);
    FileTreeCounters counters;
    tree.root->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, 1u);
    EXPECT_EQ(m.help, std::vector<int>{23});
}

TEST(SearchFileDialog, BadNameAndNoMatchCloseWithTheMessage) {
    struct Case {
        const char* name;
        const char* location;
    } cases[] = {{"a|b", nullptr}, {"zzz*", nullptr}};
    for (const Case& c : cases) {
        DialogTree tree;
        Messages m;
        SearchResult result;
        std::string text;
        int r = 0;
        RunModal(
            [&] {
                r = ShowFileSearchDialog(nullptr, tree.root.get(), tree.disk, result, &text, m.Hooks()) ? 1 : 2;
                return r;
            },
            [&] {
                auto* dlg = dynamic_cast<CSearchFileDlg*>(ActiveModal());
                ASSERT_TRUE(dlg);
                EXPECT_EQ(dlg->LocationChoice()->GetCount(), 2u);
                dlg->NameEdit()->SetValue(c.name);
                dlg->Raise();
                Pump(30);
                dlg->NameEdit()->SetFocus();
                Pump(50);
                Key(WXK_RETURN);  // Enter is Find
                PumpUntil([&] { return !m.texts.empty(); });
            },
            30000);
        EXPECT_EQ(r, 2) << c.name;
        EXPECT_EQ(m.texts, std::vector<std::string>{"No files match specific criteria."}) << c.name;
        EXPECT_EQ(result.count, 0u);
    }
}

TEST(FindFileDialog, CyclesThroughTheFileViewUntilNoMoreFiles) {
    testsupport::TreePtr root = NewRoot();
    CFileSystemNode* a = AddFolder(root.get(), "A");
    AddFile(a, "x1.txt");
    AddFile(a, "abc");
    CFileSystemNode* b = AddFolder(root.get(), "B");
    AddFile(b, "n.bin");
    AddFile(b, "xabcx.txt");
    CFileSystemNode* c = AddFolder(b, "C");
    AddFile(c, "abc.doc");
    root->RecountCounters();

    HostFrame host(wxSize(640, 360));
    auto* tree = new CFileTreeCtrl(host.panel());
    tree->SetSize(0, 0, 200, 360);
    auto* list = new CFileListCtrl(host.panel());
    list->SetSize(200, 0, 440, 360);
    tree->SetFileList(list);
    list->SetFolder(a, root.get());
    tree->SetRootNode(root.get());
    host.ShowAndWait();

    Messages m;
    std::vector<std::string> hits;
    RunModal(
        [&] {
            ShowFindFileDialog(host.frame(), tree, list, m.Hooks());
            return 0;
        },
        [&] {
            auto* dlg = dynamic_cast<CFindFileDlg*>(ActiveModal());
            ASSERT_TRUE(dlg);
            dlg->NameEdit()->SetValue("abc");
            for (int i = 0; i < 5 && m.texts.empty(); ++i) {
                if (i == 1) Screenshot(dlg, "find_dialog");
                Click(dlg->FindNextButton());
                PumpUntil([&] { return !m.texts.empty() || list->GetSelectedIndex() >= 0; }, 500);
                if (m.texts.empty()) hits.push_back(NameOf(list->GetFileAt(list->GetSelectedIndex())));
            }
        },
        30000);
    EXPECT_EQ(hits, (std::vector<std::string>{"abc", "xabcx.txt", "abc.doc"}));
    EXPECT_EQ(m.texts, std::vector<std::string>{"No more files found."});
}
