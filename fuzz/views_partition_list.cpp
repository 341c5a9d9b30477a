// The found-partition list and the layout picture fed with partition records as a damaged
// state file could restore them: any type, sectors near the top of the 64-bit range, sizes of
// 0 or more than the source, scores that are no number. Every box is ticked and unticked; the
// picture must end empty.
#include <cstring>
#include <memory>
#include <vector>

#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "ui/views/FoundPartitionList.h"

namespace {

struct Reader {
    const std::uint8_t* p;
    std::size_t n;
    template <class T> T Take() {
        T v{};
        const std::size_t k = std::min(sizeof(T), n);
        std::memcpy(&v, p, k);
        p += k;
        n -= k;
        return v;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    std::vector<CSearchedPartitionInfo*> list;
    const std::uint64_t diskSectors = in.Take<std::uint64_t>();
    const std::uint8_t limit = in.Take<std::uint8_t>();
    while (in.n > 0 && owned.size() < 300) {
        const std::uint8_t kind = in.Take<std::uint8_t>();
        std::unique_ptr<CSearchedPartitionInfo> p;
        if (kind % 3 == 0) {
            auto f = std::make_unique<CFATSearchedPartitionInfo>();
            f->m_u32EvidenceFlags = in.Take<std::uint32_t>();
            p = std::move(f);
        } else if (kind % 3 == 1) {
            auto t = std::make_unique<CSearchedNTFSPartitionInfo>();
            t->SetSectorCount(in.Take<std::uint64_t>());
            t->m_u64MftRecordSector = in.Take<std::uint64_t>();
            t->m_u32MftOnly = in.Take<std::uint8_t>();
            p = std::move(t);
        } else {
            p = std::make_unique<CSearchedPartitionInfo>();
        }
        p->m_fileSystemType = in.Take<std::uint8_t>() % 9;
        p->m_u64FirstSector = in.Take<std::uint64_t>();
        p->m_u64KeptFirstSector = in.Take<std::uint64_t>();
        if (p->GetKind() != SEARCHED_PARTITION_NTFS)
            p->m_u32SectorCount = in.Take<std::uint64_t>();
        p->m_relativeScore = in.Take<double>();
        p->m_u32Chosen = in.Take<std::uint8_t>() % 4;
        list.push_back(p.get());
        owned.push_back(std::move(p));
    }
    CModelFoundPartitionPane pane;
    pane.ShowSource(LayoutSource{"fuzz", diskSectors, static_cast<std::uint32_t>(limit % 6)});
    pane.PartitionLayout().LayoutDisks(0, 640);
    FillPartitionList(pane, list, limit % 5);
    CFoundPartitionListModel& rows = pane.PartitionList();
    for (int r = 0; r < rows.RowCount(); ++r) {
        if (!rows.IsRowChecked(r))
            rows.ToggleBox(r, 0, 0);
        for (int box = 0; box < 4; ++box)
            if (rows.ToggleBox(r, CFoundPartitionListModel::kOptionCell, box))
                ApplyPartitionOptionToggle(rows.GetPartitionAt(r), PartitionOptionToggle{r, 3, box, 1});
        rows.FormatSuggestion(rows.Record(r)->rank);
    }
    for (const DiskBand& band : pane.PartitionLayout().Bands())
        for (const PartitionBlock& b : band.blocks) {
            CPartitionLayoutModel::BlockParts(b.rect);
            CPartitionLayoutModel::BlockDetailText(b.desc);
        }
    pane.PartitionLayout().FrameLayout(640, 300);
    for (int r = 0; r < rows.RowCount(); ++r)
        rows.ToggleBox(r, 0, 0);
    // Every ticked block went away again.
    if (pane.PartitionLayout().BlockCount() != 0)
        __builtin_trap();
    return 0;
}
