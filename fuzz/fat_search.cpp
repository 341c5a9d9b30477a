// The FAT search controller over arbitrary bytes taken as a device: every sector through the
// deep-scan chunks, then the complete tree of each partition it found (and of a partition
// record read from the input's first bytes, whatever its fields say), with carving over the
// unused clusters.
#include "fuzz/SpanDevice.h"
#include "carving/records/FoundFileEntry.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatSearchController.h"

#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512)
        return 0;
    SpanDevice dev(data, size);
    // A few carved files at sectors the input names: they confirm names and are carved over
    // the unused clusters of each tree.
    CRawFileList carved;
    for (int i = 0; i < 3; ++i) {
        auto* r = new CRawFileInfo;
        r->m_u64StartSector = (data[1 + i] | (data[4 + i] << 8)) % (size / 512 + 1);
        r->m_u64Size = 1 + data[7 + i] * 100u;
        r->m_u32FileType = LookupExtensionType(i == 0 ? u"JPG" : u"PNG", 3);
        carved.Add(r);
    }
    CFATSearchController controller;
    controller.SetResultSink(&carved);
    controller.SetDevice(&dev);
    // Small chunks, so that chunk borders fall inside the input.
    const std::uint32_t step = 1 + data[0] % 8;
    controller.SetSectorsPerStep(step);
    controller.BeginSearch();
    IntelligentSearchStats stats;
    const std::uint64_t total = dev.GetSectorCount();
    for (std::uint64_t first = 0; first < total; first += step)
        controller.AnalyzeSectors(first, std::min<std::uint64_t>(step, total - first), &stats);
    controller.EndSearch();
    std::vector<CSearchedPartitionInfo*> found;
    controller.CollectSearchedPartitions(found);

    // A record whose fields come from the input: the build must cope with any of them.
    auto forged = std::make_unique<CFATSearchedPartitionInfo>();
    std::uint8_t f[40] = {};
    std::memcpy(f, data + 472, sizeof f);
    forged->m_fileSystemType = f[0] % 4;
    forged->m_sectorsPerCluster = f[1];
    std::memcpy(&forged->m_u64FirstSector, f + 2, 2);
    std::memcpy(&forged->m_u64KeptFirstSector, f + 4, 2);
    std::memcpy(&forged->m_u32SectorCount, f + 6, 4);
    std::memcpy(&forged->m_u16ReservedSectors, f + 10, 2);
    std::memcpy(&forged->m_u32SectorsPerFat, f + 12, 4);
    std::memcpy(&forged->m_u32Root, f + 16, 4);
    std::memcpy(&forged->m_u32EvidenceFlags, f + 20, 4);
    found.push_back(forged.release());

    std::uint32_t index = 0;
    for (CSearchedPartitionInfo* p : found) {
        if (index < 4) // a few trees per input keep each run short
            controller.BuildDirectoryTree(p, &dev, index, nullptr); // the handle frees the tree
        ++index;
        delete p;
    }
    return 0;
}
