// The settings dialog and its RAW type tree on screen.
#include "tests/ui/controls/windows/Harness.h"
#include "tools/windows/SettingsDialog.h"

#include <gtest/gtest.h>
#include <wx/artprov.h>

using namespace uitest;
using namespace settingstool;

TEST(SettingsDialog, OkStoresTreeAndPages) {
    ScanOptions options;
    options.ShowMftOnlyFiles = 0;
    CAdvanceSettingMasterDlg dlg(nullptr, options, true, true, [](const std::string&) {
        return wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_MENU, wxSize(16, 16));
    });
    dlg.SetTarget(&options);
    std::vector<int> help;
    dlg.SetHelp([&](int topic) { help.push_back(topic); });
    const int result = RunModal([&] { return dlg.DoModal(); }, [&] {
        EXPECT_EQ(dlg.CurrentPage(), CAdvanceSettingMasterDlg::kRawPage);
        wxKeyEvent f1(wxEVT_CHAR_HOOK);
        f1.m_keyCode = WXK_F1;
        dlg.GetEventHandler()->ProcessEvent(f1);
        EXPECT_EQ(help, std::vector<int>{46});
        CRawFileTypeTreeCtrl* tree = dlg.Tree();
        tree->Expand(tree->GroupItem(0));
        Pump(50);
        Screenshot(&dlg, "settings_raw_page");
        // A click on a label only selects it.
        wxRect label;
        ASSERT_TRUE(tree->GetBoundingRect(tree->LeafItem(0, 2), label, true));
        ClickAt(tree, wxPoint(label.x + label.width / 2, label.y + label.height / 2));
        EXPECT_EQ(tree->GetItemState(tree->LeafItem(0, 2)), 3);
        // The box left of the label toggles.
        ClickAt(tree, wxPoint(label.x - 10, label.y + label.height / 2));
        const bool clickedBox = tree->GetItemState(tree->LeafItem(0, 2)) == 1;
        if (!clickedBox) tree->ToggleItem(tree->LeafItem(0, 2));
        EXPECT_EQ(tree->GetItemState(tree->LeafItem(0, 2)), 1);
        EXPECT_EQ(tree->GetItemState(tree->GroupItem(0)), 2);  // partly ticked
        Pump(50);
        Screenshot(&dlg, "settings_raw_tree_partly");
        tree->ToggleItem(tree->LeafItem(0, 2));
        for (int page : {CAdvanceSettingMasterDlg::kNtfsPage, CAdvanceSettingMasterDlg::kFatPage,
                         CAdvanceSettingMasterDlg::kCommonPage}) {
            dlg.ShowSettingsPage(page);
            Pump(50);
            Screenshot(&dlg, std::string("settings_page_") + std::to_string(page));
        }
        dlg.Check("Use first FAT copy")->SetValue(false);
        dlg.OnOK();
    }, 60000);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(dlg.Stored());
    EXPECT_EQ(options.RawFileTypes.Size(), 78u);
    EXPECT_EQ(options.ShowMftOnlyFiles, 1u);
    EXPECT_EQ(options.UseFirstFatCopy, 0u);
}

TEST(SettingsDialog, CancelLeavesOptionsAndRawRules) {
    ScanOptions options;
    options.RawFileTypes.Clear();
    options.RawFileTypes.Add(33);
    options.MaxRawFileSize = 777;
    CAdvanceSettingMasterDlg dlg(nullptr, options, false, true);
    dlg.SetTarget(&options);
    const int result = RunModal([&] { return dlg.DoModal(); }, [&] {
        EXPECT_FALSE(dlg.Check("Recover RAW files only")->IsEnabled());
        dlg.SizeEdit()->SetValue("12abc");
        EXPECT_EQ(dlg.SizeEdit()->GetValue(), "12");
        dlg.Check("Recover RAW files:")->SetValue(false);
        wxCommandEvent click(wxEVT_CHECKBOX, dlg.Check("Recover RAW files:")->GetId());
        click.SetInt(0);
        dlg.Check("Recover RAW files:")->GetEventHandler()->ProcessEvent(click);
        EXPECT_FALSE(dlg.SizeEdit()->IsEnabled());
        EXPECT_FALSE(dlg.Tree()->IsEnabled());
        Pump(50);
        Screenshot(&dlg, "settings_raw_off");
        Click(dlg.CancelButton());
    }, 60000);
    EXPECT_EQ(result, 2);
    EXPECT_FALSE(dlg.Stored());
    EXPECT_EQ(options.RawFileTypes.Ids(), std::vector<std::uint32_t>{33});
    EXPECT_EQ(options.MaxRawFileSize, 777u);
}
