#include "ui/views/PartitionLayoutModel.h"

#include "ui/controls/Formatting.h"

#include <algorithm>
#include <cstdio>

const int CPartitionLayoutModel::kSourceBitmaps[4] = {211, 358, 353, 212};

bool CPartitionLayoutModel::Add(const PartitionBlockDesc& block) {
    for (DiskBand& band : m_bands) {
        const bool refuses = std::any_of(band.blocks.begin(), band.blocks.end(),
                                         [&](const PartitionBlock& b) { return block.Overlaps(b.desc); });
        if (refuses)
            continue;
        band.blocks.push_back(PartitionBlock{block, {}});
        Position(band, band.blocks.back());
        return false;
    }
    DiskBand band;
    band.sectorCount = m_diskSectors;
    band.blocks.push_back(PartitionBlock{block, {}});
    m_bands.push_back(std::move(band));
    LayoutDisks(m_left, m_right);
    return true;
}

bool CPartitionLayoutModel::Remove(const PartitionBlockDesc& block) {
    for (auto band = m_bands.begin(); band != m_bands.end(); ++band) {
        auto it = std::find_if(band->blocks.begin(), band->blocks.end(),
                               [&](const PartitionBlock& b) { return b.desc.SameBlock(block); });
        if (it == band->blocks.end())
            continue;
        band->blocks.erase(it);
        if (band->blocks.empty()) {
            m_bands.erase(band);
            LayoutDisks(m_left, m_right);
            return true;
        }
    }
    return false;
}

void CPartitionLayoutModel::LayoutDisks(int left, int right) {
    m_left = left;
    m_right = right;
    int i = 0;
    for (DiskBand& band : m_bands) {
        band.rect = uigeo::Rect{left, kBandHeight * i, right, kBandHeight * i + kBandHeight};
        for (PartitionBlock& b : band.blocks)
            Position(band, b);
        ++i;
    }
}

int CPartitionLayoutModel::BlockCount() const {
    int n = 0;
    for (const DiskBand& band : m_bands)
        n += static_cast<int>(band.blocks.size());
    return n;
}

void CPartitionLayoutModel::Position(DiskBand& band, PartitionBlock& block) const {
    block.rect = PositionBlock(block.desc, band.rect, band.sectorCount);
}

uigeo::Rect CPartitionLayoutModel::PositionBlock(const PartitionBlockDesc& block, const uigeo::Rect& band,
                                                 std::uint64_t bandSectors) {
    const int w = std::max(0, band.right - band.left);
    // A source of unknown size (0 sectors) draws every block over the whole width; sectors past
    // the source's end are drawn at its end.
    auto x = [&](std::uint64_t sector) {
        if (bandSectors == 0)
            return 0;
        const double v = static_cast<double>(std::min(sector, bandSectors)) / static_cast<double>(bandSectors) * w;
        return static_cast<int>(v);
    };
    uigeo::Rect r{x(block.firstSector), band.top, bandSectors ? x(block.lastSector) : w, band.bottom};
    if (r.right < r.left)
        r.right = r.left;
    r.top += 3;
    r.bottom -= 3;
    // Blocks 5 pixels wide or more lose 3 pixels each side, but keep at least one pixel.
    if (r.Width() >= 5) {
        const int inset = std::min(3, (r.Width() - 1) / 2);
        r.left += inset;
        r.right -= inset;
    }
    return r;
}

PartitionBlockParts CPartitionLayoutModel::BlockParts(const uigeo::Rect& r) {
    PartitionBlockParts p;
    p.frame = r;
    p.titleStrip = uigeo::Rect{r.left + 4, r.top + 4, r.right - 4, r.top + 12};
    if (p.titleStrip.Width() <= 0)
        return p;
    p.detailed = true;
    p.body = uigeo::Rect{r.left + 4, r.top + 20, r.right - 4, r.bottom - 4};
    p.icon = uigeo::Rect{p.body.left + 4, p.body.top, std::min(p.body.left + 24, p.body.right), p.body.top + 22};
    if (p.icon.right < p.icon.left)
        p.icon.right = p.icon.left;
    const int i = std::min(p.body.left + 24, p.body.right);
    p.nameText = uigeo::Rect{i + 4, p.body.top + 4, p.body.right - 2, p.body.top + 20};
    p.detailText = uigeo::Rect{p.body.left + 4, p.body.top + 22, p.body.right - 2, p.body.bottom - 2};
    return p;
}

std::string CPartitionLayoutModel::BlockDetailText(const PartitionBlockDesc& block) {
    char rank[64];
    std::snprintf(rank, sizeof rank, "Rank: %.2f%%", block.rank * 100.0);
    return uifmt::FormatSectorsSize64(block.SectorCount()) + ", " + uifmt::GetFileSystemDisplayName(block.fileSystem) +
           ",\n" + rank;
}

void CPartitionLayoutModel::SetCaption(const LayoutSource& source) {
    const char* format = source.type == kLayoutSourceImage       ? "Partitions layout on the disk image \"%s\":"
                         : source.type == kLayoutSourcePartition ? "Partitions layout on the partition \"%s\":"
                                                                 : "Partitions layout on the disk \"%s\":";
    const std::string f(format);
    const std::size_t at = f.find("%s");
    m_caption = f.substr(0, at) + source.name + f.substr(at + 2);
    m_panelText = "Size: " + uifmt::FormatSectorsSize64(source.sectorCount);
    m_diskSectors = source.sectorCount;
    if (source.type < 4)
        m_panelBitmap = kSourceBitmaps[source.type];
}

LayoutFrameGeometry CPartitionLayoutModel::FrameLayout(int cx, int cy) const {
    LayoutFrameGeometry g;
    const int total = TotalHeight();
    const int h = m_bands.empty() ? 100 : total + 20;
    g.view = uigeo::MakeRect(kViewLeft, kViewTop, std::max(0, cx - 100), std::max(0, std::min(cy, h) - 20));
    g.panelHeight = m_bands.empty() ? 80 : total;
    return g;
}
