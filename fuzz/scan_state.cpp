// Reads arbitrary bytes as a saved scan state: every section's loader in turn (controller
// chain, search controllers, carved files, searched partitions, file tree, found partitions,
// disk and volume identity). Every failure must be a store exception; nothing may crash, leak
// or allocate by a count taken from the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"
#include "storage/StorageDevice.h"

namespace {

class ZeroDevice : public IStorageDevice {
public:
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (first >= kSectors || count > kSectors - first)
            return 0;
        std::memset(buffer, 0, static_cast<std::size_t>(count) * 512);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return kSectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    static constexpr std::uint64_t kSectors = 64;
};

bool ZeroIdentity(IStorageDevice*, std::uint8_t* identity) {
    std::memset(identity, 0, kDiskIdentitySize);
    return true;
}

template <typename F> void Try(CRSDataEx& store, const std::vector<std::uint8_t>& bytes, F&& f) {
    // A store error is sticky until the next open: each loader gets a fresh one.
    if (!store.OpenBuffer(bytes.data(), bytes.size()))
        return;
    try {
        f();
    } catch (const IRSException&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> copy(data, data + size);
    static CRSDataEx store(RSDATA_READ); // its 512 KiB buffer is made once
    ZeroDevice disk;
    Try(store, copy, [&] {
        std::vector<std::uint32_t> chain;
        RecreateControllerChain(&store, 5, chain);
    });
    Try(store, copy, [&] {
        SearchControllerList controllers;
        LoadSearchControllers(&store, controllers);
    });
    // What the restore keeps is fitted to the device: nothing starts past its end, no carved
    // size runs past it, every score lies within [0, 1].
    const std::uint64_t sectors = disk.GetSectorCount();
    Try(store, copy, [&] {
        auto files = LoadFoundFileList(&store);
        FitCarvedFilesToDevice(*files, sectors, 1 << 20);
        for (const CRawFileInfo* r : files->Records())
            if (r->m_u64StartSector >= sectors || r->m_u64Size > (sectors - r->m_u64StartSector) * 512)
                __builtin_trap();
    });
    Try(store, copy, [&] {
        SearchedPartitionList partitions;
        LoadSearchedPartitions(&store, partitions);
        FitSearchedPartitionsToDevice(partitions, sectors);
        for (const auto& p : partitions)
            if (p->m_u64FirstSector >= sectors || !(p->m_relativeScore >= 0.0 && p->m_relativeScore <= 1.0))
                __builtin_trap();
    });
    Try(store, copy, [&] {
        FileTreePtr tree = LoadFileTree(&store, nullptr);
        FitFileTreeToDevice(tree.get(), sectors, 1 << 20);
    });
    Try(store, copy, [&] {
        FoundPartitionList list;
        FoundPartitionInfo* selected = nullptr;
        LoadFoundPartitionList(&store, list, &selected, &disk);
        for (const auto& p : list)
            if (p->u64FirstSector >= sectors || p->u64SectorCount > sectors - p->u64FirstSector)
                __builtin_trap();
    });
    Try(store, copy, [&] {
        DiskRecordList list;
        auto r = std::make_unique<DiskRecord>();
        r->pDevice = &disk;
        list.push_back(std::move(r));
        FindStoredDevice(&store, list, ZeroIdentity);
    });
    Try(store, copy, [&] {
        VolumeList volumes, images;
        volumes.push_back(std::make_unique<VolumeRecord>());
        volumes.back()->members[0] = {0, 64, &disk};
        FindStoredVolume(&store, volumes, images, ZeroIdentity);
    });
    return 0;
}
