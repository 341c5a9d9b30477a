// The FAT quick scan over arbitrary bytes taken as a volume: boot sector, FATs and the whole
// directory walk, in Deleted File Recovery and take-all modes.
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatTreeBuilder.h"

#include <cstring>
#include <vector>

namespace {

class SpanDevice : public IStorageDevice {
public:
    SpanDevice(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {
        m_bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize);
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        std::uint64_t total = GetSectorCount();
        if (first >= total || count > total - first)
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * kSectorSize, count * kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_bytes.size() / kSectorSize; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512)
        return 0;
    SpanDevice dev(data, size);
    for (bool takeAll : {false, true}) {
        CFATSearchedPartitionInfo part;
        part.m_u32EvidenceFlags = 0xF | 0x3C0;
        CFileSystemNode* root = FatQuickBuildTree(&part, &dev, nullptr, takeAll);
        DeleteTreeAndProperties(root);
    }
    return 0;
}
