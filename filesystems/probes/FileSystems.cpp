#include "filesystems/probes/FileSystems.h"

#include "filesystems/FileProperties.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/ext2/Ext2FileProperties.h"
#include "filesystems/ext2/Ext2SearchController.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"

#include <memory>

namespace {

template <typename Controller> IFileSystemSearchController* NewController() {
    return new Controller();
}

// ---- NTFS

FileTreePtr ScanNtfs(IStorageDevice* device, std::uint64_t firstSector, const std::uint8_t*,
                     IDIRBuildCallback* callback, bool) {
    auto params = std::make_unique<NtfsTreeBuildParams>();
    InitNtfsTreeBuildParams(params.get());
    return BuildNtfsFileTreeAt(device, firstSector, params.get(), callback);
}

constexpr std::uint32_t kNtfsTypes[] = {FILESYSTEM_NTFS};
constexpr FileSystemDescriptor kNtfs{
    "NTFS",
    kNtfsTypes,
    SEARCH_CONTROLLER_NTFS,
    SEARCHED_PARTITION_NTFS,
    FILEPROPS_NTFS,
    &NewController<CNTFSSearchController>,
    []() -> CSearchedPartitionInfo* { return new CSearchedNTFSPartitionInfo(); },
    []() -> IFileProperties* { return CreateNtfsFileProperties(); },
    &ScanNtfs,
    nullptr,
};

// ---- FAT12, FAT16, FAT32

FileTreePtr ScanFat(IStorageDevice* device, std::uint64_t firstSector, const std::uint8_t* sector,
                    IDIRBuildCallback* callback, bool takeAll) {
    CFATSearchedPartitionInfo partition;
    if (!InitFATSearchedPartitionInfo(partition, sector, kSectorSize, firstSector))
        return nullptr;
    // The advanced settings choose which FAT copies the scan may follow.
    const ScanOptions& options = GetScanOptions();
    partition.m_u32EvidenceFlags &= ~std::uint32_t(FATEVIDENCE_BOTH_FATS);
    if (options.UseFirstFatCopy)
        partition.m_u32EvidenceFlags |= FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_USE_FIRST_FAT;
    if (options.UseSecondFatCopy)
        partition.m_u32EvidenceFlags |= FATEVIDENCE_SECOND_FAT_SEEN | FATEVIDENCE_USE_SECOND_FAT;
    return BuildFatFileTree(callback, &partition, nullptr, device, takeAll ? 1 : 0);
}

constexpr std::uint32_t kFatTypes[] = {FILESYSTEM_FAT12, FILESYSTEM_FAT16, FILESYSTEM_FAT32};
constexpr FileSystemDescriptor kFat{
    "FAT",
    kFatTypes,
    SEARCH_CONTROLLER_FAT,
    SEARCHED_PARTITION_FAT,
    FILEPROPS_FAT,
    &NewController<CFATSearchController>,
    []() -> CSearchedPartitionInfo* { return CreateFATSearchedPartitionInfo(); },
    []() -> IFileProperties* { return CreateFATFileProperties(); },
    &ScanFat,
    nullptr,
};

// ---- EXT2, EXT3

FileTreePtr ScanExt2(IStorageDevice* device, IDIRBuildCallback* callback) {
    Ext2TreeBuildContext context;
    return BuildExt2FileTree(device, callback, &context);
}

constexpr std::uint32_t kExt2Types[] = {FILESYSTEM_EXT2, FILESYSTEM_EXT3};
constexpr FileSystemDescriptor kExt2{
    "EXT2",
    kExt2Types,
    SEARCH_CONTROLLER_EXT2,
    SEARCHED_PARTITION_EXT2,
    FILEPROPS_EXT2,
    &NewController<CEXT2SearchController>,
    []() -> CSearchedPartitionInfo* { return CreateExt2SearchedPartitionInfo(); },
    []() -> IFileProperties* { return CreateExt2FileProperties(); },
    nullptr,
    &ScanExt2,
};

constexpr const FileSystemDescriptor* kFileSystems[] = {&kNtfs, &kFat, &kExt2};

// Each kind and each type names one file system.
template <typename Key> constexpr bool Unique(Key key) {
    for (std::size_t i = 0; i < std::size(kFileSystems); ++i)
        for (std::size_t j = i + 1; j < std::size(kFileSystems); ++j)
            if (key(*kFileSystems[i]) == key(*kFileSystems[j]))
                return false;
    return true;
}
static_assert(Unique([](const FileSystemDescriptor& d) { return d.searchControllerKind; }));
static_assert(Unique([](const FileSystemDescriptor& d) { return d.searchedPartitionKind; }));
static_assert(Unique([](const FileSystemDescriptor& d) { return d.filePropertiesKind; }));
constexpr bool TypesUnique() {
    for (const FileSystemDescriptor* a : kFileSystems)
        for (const FileSystemDescriptor* b : kFileSystems)
            if (a != b)
                for (std::uint32_t x : a->types)
                    for (std::uint32_t y : b->types)
                        if (x == y)
                            return false;
    return true;
}
static_assert(TypesUnique());
// Nor do they take the kinds of what is not a file system's: the RAW search and its files, the
// plain found-partition record, the views' folders.
constexpr bool KindsOwn() {
    for (const FileSystemDescriptor* d : kFileSystems)
        if (d->searchControllerKind == SEARCH_CONTROLLER_RAW ||
            d->searchedPartitionKind == SEARCHED_PARTITION_BASE ||
            d->filePropertiesKind == FILEPROPS_RAW || d->filePropertiesKind == FILEPROPS_VIEW ||
            FILESYSTEM_RAW == d->types.front() || FILESYSTEM_UNKNOWN == d->types.front())
            return false;
    return true;
}
static_assert(KindsOwn());
// Each file system is told one way or the other.
constexpr bool ToldOneWay() {
    for (const FileSystemDescriptor* d : kFileSystems)
        if (!d->scanAtBootSector == !d->scanRecordedVolume)
            return false;
    return true;
}
static_assert(ToldOneWay());

template <typename Match> const FileSystemDescriptor* Find(Match match) {
    for (const FileSystemDescriptor* d : kFileSystems)
        if (match(*d))
            return d;
    return nullptr;
}

} // namespace

std::span<const FileSystemDescriptor* const> FileSystems() {
    return kFileSystems;
}

const FileSystemDescriptor* FindFileSystemByType(std::uint32_t fileSystemType) {
    return Find([&](const FileSystemDescriptor& d) {
        for (std::uint32_t t : d.types)
            if (t == fileSystemType)
                return true;
        return false;
    });
}

const FileSystemDescriptor* FindFileSystemBySearchController(std::uint32_t kind) {
    return Find([&](const FileSystemDescriptor& d) { return d.searchControllerKind == kind; });
}

const FileSystemDescriptor* FindFileSystemBySearchedPartition(std::uint32_t kind) {
    return Find([&](const FileSystemDescriptor& d) { return d.searchedPartitionKind == kind; });
}

const FileSystemDescriptor* FindFileSystemByFileProperties(std::uint32_t kind) {
    return Find([&](const FileSystemDescriptor& d) { return d.filePropertiesKind == kind; });
}
