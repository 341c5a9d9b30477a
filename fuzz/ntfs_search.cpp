// The NTFS search controller over arbitrary bytes taken as a device: the first byte picks the
// chunk size, the rest is fed chunk by chunk (boot sectors, FILE records, index blocks, log
// pages, split across chunk borders anywhere); then the tree of every partition it kept is
// built from what it saw, and the clusters the tree uses are marked.
#include "fuzz/SpanDevice.h"
#include "filesystems/ntfs/NtfsFoundTreeBuilder.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "carving/records/RawFileInfo.h"

#include <algorithm>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + kSectorSize || size > 1024 * 1024 + 1)
        return 0;
    const std::uint32_t chunk = 1 + data[0] % 97;
    SpanDevice dev(data + 1, size - 1);
    CNTFSSearchController controller;
    controller.SetDevice(&dev);
    controller.SetSectorsPerStep(chunk);
    controller.BeginSearch();
    IntelligentSearchStats stats;
    for (std::uint64_t s = 0; s < dev.GetSectorCount(); s += chunk)
        controller.AnalyzeSectors(s, std::min<std::uint64_t>(chunk, dev.GetSectorCount() - s),
                                  &stats);
    controller.EndSearch();
    std::vector<CSearchedPartitionInfo*> found;
    controller.CollectSearchedPartitions(found);
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned(found.begin(), found.end());
    // Two carved files for the carving over unused clusters: one anywhere, one unsized.
    CRawFileList carved;
    for (std::uint64_t k = 0; k < 2; ++k) {
        auto* f = new CRawFileInfo();
        f->m_u64StartSector = (data[0] * 13 + k * 101) % (dev.GetSectorCount() + 1);
        f->m_u64Size = k ? 0 : 4096;
        f->m_u32FileType = 47;
        f->m_u32AnalyserType = 47;
        carved.Add(f);
    }
    for (std::size_t i = 0; i < owned.size() && i < 4; ++i) {
        CNtfsFoundTreeBuilder builder(&controller.GetMftRecords(), &controller.GetFileRecordRuns());
        builder.m_partition = owned[i].get();
        builder.m_device = &dev;
        builder.m_carved = &carved;
        builder.Run(); // on this thread; the public entry only adds a worker around it
        FileTreePtr root = std::move(builder.m_result);
        if (!root)
            continue;
        std::vector<std::uint64_t> bits;
        const std::uint64_t clusters = std::min<std::uint64_t>(dev.GetSectorCount(), 1u << 20);
        CreateNtfsClusterUseBitMap(root.get(), &bits, clusters);
    }
    return 0;
}
