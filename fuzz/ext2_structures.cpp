// The EXT2/EXT3 reader over arbitrary bytes taken as a volume: the superblock check, the
// volume probe, the whole tree build (superblock, group tables, inode walk, block maps,
// directories, names and run lists) and the sector-by-sector search with the trees of the
// partitions it finds.
#include "fuzz/SpanDevice.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2SearchController.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/ext2/Ext2Volume.h"

#include <exception>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2048)
        return 0;
    Ext2SuperBlockSummary summary;
    CheckExt2SuperBlock(ByteSpan(data + 1024, 1024), &summary);
    SpanDevice dev(data, size);
    { CExt2Volume probe(&dev, 0); }
    try {
        CExt2FileSystem fs(&dev, 2);
        Ext2TreeBuildContext context;
        BuildExt2Tree(&context, &fs, nullptr, 1); // the handle frees the tree
    } catch (const std::exception&) {
    }
    CEXT2SearchController controller;
    controller.SetDevice(&dev);
    controller.BeginSearch();
    controller.AnalyzeSectors(0, dev.GetSectorCount(), nullptr);
    controller.EndSearch();
    std::vector<CSearchedPartitionInfo*> found;
    controller.CollectSearchedPartitions(found);
    for (CSearchedPartitionInfo* p : found) {
        // The search build runs on a worker thread; one is enough per input.
        if (p == found.front())
            controller.BuildDirectoryTree(p, &dev, 0, nullptr); // the handle frees the tree
        delete p;
    }
    return 0;
}
