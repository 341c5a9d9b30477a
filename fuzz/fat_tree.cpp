// The FAT quick scan over arbitrary bytes taken as a volume: boot sector, FATs and the whole
// directory walk, in Deleted File Recovery and take-all modes.
#include "fuzz/SpanDevice.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatTreeBuilder.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512)
        return 0;
    SpanDevice dev(data, size);
    for (bool takeAll : {false, true}) {
        CFATSearchedPartitionInfo part;
        part.m_u32EvidenceFlags = FATEVIDENCE_ANY_BOOT | FATEVIDENCE_BOTH_FATS;
        FatQuickBuildTree(&part, &dev, nullptr, takeAll); // the handle frees the tree
    }
    return 0;
}
