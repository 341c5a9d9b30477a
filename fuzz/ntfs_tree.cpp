// The NTFS quick scan over arbitrary bytes taken as a whole volume: boot sector, the $MFT record
// and its runs, every record the runs reach, the attribute lists and the linking of the tree.
// The build runs on the calling thread here (the public entry only adds a worker around it).
#include "fuzz/SpanDevice.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSectorSize || size > 1024 * 1024)
        return 0;
    SpanDevice dev(data, size);
    CNTFSDBR boot;
    if (!ReadNtfsBootSector(dev, 0, boot) || !boot.HasSupportedGeometry())
        return 0;
    CNullDirBuildCallback callback;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    params.volume.m_u32SectorCount = dev.GetSectorCount() - 1;
    params.volume.m_u64FirstSector = 0;
    params.volume.m_sectorsPerCluster = boot.GetSectorsPerCluster();
    params.volume.m_fileSystemType = FILESYSTEM_NTFS;
    params.device = &dev;
    params.callback = &callback;
    FileTreePtr root = BuildNtfsDirectoryTree(&params, &params.volume, &callback);
    if (root) {
        std::vector<CFileNode*> nodes;
        CollectTreeNodes(root.get(), nodes);
        for (CFileNode* n : nodes)
            if (n->m_pProperties) {
                std::unique_ptr<IDataRunList> runs(n->m_pProperties->GetDataRunList());
            }
    }
    return 0;
}
