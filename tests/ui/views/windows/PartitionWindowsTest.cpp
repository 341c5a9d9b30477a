// The found-partition list with its layout picture as windows: rows from partition records,
// the best one ticked with its block drawn, ticking by clicks, option boxes told to the page,
// bands added and removed, a disk of more than 2 TiB, each with a screenshot.
#include <gtest/gtest.h>

#include <memory>

#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/views/wx/PartitionListCtrl.h"

using namespace uitest;

namespace {

struct Partitions {
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    std::vector<CSearchedPartitionInfo*> list;

    CFATSearchedPartitionInfo* Fat(std::uint32_t type, std::uint64_t first, std::uint64_t count, double score) {
        auto p = std::make_unique<CFATSearchedPartitionInfo>();
        p->m_fileSystemType = type;
        p->m_u64KeptFirstSector = first;
        p->m_u64FirstSector = first + 64;
        p->m_u32SectorCount = count;
        p->m_relativeScore = score;
        p->m_u32EvidenceFlags = 0x3C0 | 0x004;
        p->m_u64EvidenceA = 12;
        p->m_u64EvidenceB = 140;
        auto* raw = p.get();
        list.push_back(raw);
        owned.push_back(std::move(p));
        return raw;
    }
    CSearchedNTFSPartitionInfo* Ntfs(std::uint64_t first, std::uint64_t count, double score) {
        auto p = std::make_unique<CSearchedNTFSPartitionInfo>();
        p->m_fileSystemType = FILESYSTEM_NTFS;
        p->m_u64FirstSector = first;
        p->SetSectorCount(count);
        p->m_relativeScore = score;
        p->m_u64MftRecordSector = first + 64;
        p->m_u64EvidenceA = 30;
        p->m_u64EvidenceB = 410;
        auto* raw = p.get();
        list.push_back(raw);
        owned.push_back(std::move(p));
        return raw;
    }
};

// The client point of a row's box in a cell.
wxPoint BoxPoint(CMultipleChoosePartitionListCtrl* ctrl, int row, int cell, int box) {
    CExtendListCtrl* grid = ctrl->List();
    grid->Model().LayoutAll([&](const std::string& s) {
        wxClientDC dc(grid);
        dc.SetFont(ui::PixelFont(14));
        return dc.GetTextExtent(ui::FromUtf8(s)).x;
    });
    const uigeo::Rect r = grid->Model().Row(row)->cells[static_cast<std::size_t>(cell)].desc.items[box].checkRect;
    return grid->ContentToClient({r.left + 4, r.top + 4});
}

} // namespace

TEST(PartitionListWindow, ListAndLayoutFollowTheBoxes) {
    HostFrame host(wxSize(760, 460));
    auto* pane = new CLostPartitionCtrlContainer(host.panel(), wxID_ANY);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane, 1, wxEXPAND);
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    // The picture's pane keeps its fixed height of 100.
    EXPECT_EQ(pane->Splitter()->SecondPaneSize(), 100);

    const std::uint64_t disk = 4u * 1024 * 1024 * 2; // 4 GiB
    Partitions parts;
    parts.Ntfs(2048, 2u * 1024 * 1024 * 2 - 2048, 1.0);
    parts.Fat(FILESYSTEM_FAT32, 2u * 1024 * 1024 * 2, 1024u * 1024 * 2, 0.62);
    parts.Fat(FILESYSTEM_FAT16, 2u * 1024 * 1024 * 2 + 4096, 256u * 1024 * 2, 0.31);
    parts.Ntfs(3u * 1024 * 1024 * 2, 1024u * 1024 * 2, 0.12);
    std::vector<PartitionOptionToggle> toggles;
    pane->PartitionList().SetOptionNotify([&](const PartitionOptionToggle& t) { toggles.push_back(t); });
    pane->ShowSource(LayoutSource{"ST4000DM004 (sdb)", disk, kLayoutSourceDisk});
    FillPartitionList(*pane, parts.list, 1);
    Pump(100);

    CFoundPartitionListModel& list = pane->PartitionList();
    ASSERT_EQ(list.RowCount(), 4);
    EXPECT_EQ(list.IsRowChecked(0), 1); // the best one, ticked with its block drawn
    EXPECT_EQ(pane->PartitionLayout().BlockCount(), 1);
    EXPECT_EQ(pane->LayoutFrame()->View()->GetSize().y, 80);
    EXPECT_EQ(pane->PartitionLayout().Caption(), "Partitions layout on the disk \"ST4000DM004 (sdb)\":");

    // Ticking the FAT32 row by a click: it touches the NTFS partition, so it shares its band.
    ClickAt(pane->ListCtrl()->List(), BoxPoint(pane->ListCtrl(), 1, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return list.IsRowChecked(1) == 1; }));
    EXPECT_EQ(pane->PartitionLayout().Bands().size(), 1u);
    // The FAT16 row lies inside the FAT32 one: a second band, and the view grows.
    ClickAt(pane->ListCtrl()->List(), BoxPoint(pane->ListCtrl(), 2, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return pane->PartitionLayout().Bands().size() == 2u; }));
    EXPECT_EQ(pane->PartitionLayout().TotalHeight(), 160);
    EXPECT_TRUE(toggles.empty());
    // An option box goes to the page: the FAT32 row's "FAT2".
    ClickAt(pane->ListCtrl()->List(), BoxPoint(pane->ListCtrl(), 1, 3, 1));
    ASSERT_TRUE(PumpUntil([&] { return toggles.size() == 1u; }));
    EXPECT_EQ(toggles[0].row, 1);
    EXPECT_EQ(toggles[0].cell, 3);
    EXPECT_EQ(toggles[0].box, 1);
    EXPECT_EQ(toggles[0].ticked, 0);
    EXPECT_TRUE(ApplyPartitionOptionToggle(list.GetPartitionAt(1), toggles[0]));
    EXPECT_EQ(static_cast<CFATSearchedPartitionInfo*>(parts.list[1])->m_u32EvidenceFlags & 0x200, 0u);
    // Make the picture's pane taller so that both bands show.
    pane->Splitter()->layout.fixedSize = 200;
    pane->SetSize(pane->GetSize() + wxSize(0, 1));
    pane->LayoutFrame()->RecalcLayout();
    Pump(200);
    Screenshot(host.frame(), "partition_list_and_layout");

    // A right click selects the row and tells the page (for its Properties menu).
    int rightButtons = 0;
    host.panel()->Bind(EVT_UI_NOTIFY, [&](wxCommandEvent& e) {
        if (e.GetId() == uires::kMsgGridRightButton)
            ++rightButtons;
    });
    pane->SetNotifyWindow(host.panel());
    const GridRow* row3 = pane->ListCtrl()->List()->Model().Row(3);
    ClickAt(pane->ListCtrl()->List(), pane->ListCtrl()->List()->ContentToClient({200, row3->top + 5}),
            wxMOUSE_BTN_RIGHT);
    ASSERT_TRUE(PumpUntil([&] { return rightButtons == 1; }));
    EXPECT_EQ(pane->GetSelectedPartition(), parts.list[3]);
    // Unticking the FAT16 row removes its band.
    ClickAt(pane->ListCtrl()->List(), BoxPoint(pane->ListCtrl(), 2, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return pane->PartitionLayout().Bands().size() == 1u; }));
    EXPECT_EQ(pane->PartitionLayout().BlockCount(), 2);
    // Emptying the list for another source clears the picture.
    pane->ShowSource(LayoutSource{"disk.img", disk, kLayoutSourceImage});
    EXPECT_EQ(pane->PartitionLayout().BlockCount(), 0);
    list.DeleteAllPartitions();
    EXPECT_EQ(list.RowCount(), 0);
}

TEST(PartitionListWindow, DiskAboveTwoTebibytes) {
    HostFrame host(wxSize(760, 360));
    auto* pane = new CLostPartitionCtrlContainer(host.panel(), wxID_ANY);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane, 1, wxEXPAND);
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    const std::uint64_t tib = std::uint64_t{1} << 31;
    Partitions parts;
    parts.Ntfs(2048, 3 * tib, 1.0);
    parts.Ntfs(2048 + 3 * tib, 2 * tib, 0.7);
    pane->ShowSource(LayoutSource{"big.img", 6 * tib, kLayoutSourceImage});
    FillPartitionList(*pane, parts.list, 4);
    pane->PartitionList().ToggleBox(0, 0, 0);
    pane->PartitionList().ToggleBox(1, 0, 0);
    pane->RefreshPane();
    Pump(200);
    EXPECT_EQ(pane->PartitionLayout().PanelText(), "Size: 6144.00 GB");
    ASSERT_EQ(pane->PartitionLayout().Bands().size(), 1u);
    const auto& blocks = pane->PartitionLayout().Bands()[0].blocks;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_LT(blocks[0].rect.right, blocks[1].rect.left);
    const int w = pane->LayoutFrame()->View()->GetClientSize().x;
    EXPECT_NEAR(blocks[1].rect.right, w * 5 / 6, 5);
    EXPECT_EQ(pane->PartitionList().Grid().Row(0)->cells[1].desc.items[0].text, "3072.00 GB");
    Screenshot(host.frame(), "partition_layout_large_disk");
}
