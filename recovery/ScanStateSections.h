#pragma once
// What goes into each section of a scan-state store file and how it is read back: the
// wizard's controller chain, the search controllers with their findings, the searched
// partitions, the file tree, the lost-partition search's found partitions and the identity of
// the scanned disk or volume. (The carved-file list has its own routines beside its records:
// SaveFoundFileList / LoadFoundFileList.)
//
// Save routines write through IRSData::Write and let store failures pass. Load routines read
// items one by one (a count from the file never sizes an allocation, so a damaged count ends
// in the store's short read), refuse unknown kinds and impossible values with a
// CRSException (RSERR_BAD_HEADER) instead of guessing where the next record starts, free what
// they built, log "RS Exception:%d" and throw the exception on.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "carving/partition/FoundPartitionInfo.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/StoreSection.h"
#include "storage/VolumeEnumeration.h"

class CFileNode;
class CFileSystemNode;
class CRawFileList;
class IDIRBuildCallback;
class IFileProperties;
class IStorageDevice;

// {6EAE44F1-5CA7-49F8-BD8D-7126D446AACA}
constexpr RSGuid kControllerChainSection{
    0x6EAE44F1, 0x5CA7, 0x49F8, {0xBD, 0x8D, 0x71, 0x26, 0xD4, 0x46, 0xAA, 0xCA}};
// {409B6394-F681-4E88-A20F-5D635782ED75}
constexpr RSGuid kSearchControllersSection{
    0x409B6394, 0xF681, 0x4E88, {0xA2, 0x0F, 0x5D, 0x63, 0x57, 0x82, 0xED, 0x75}};
// {9332EB72-887D-4145-937D-C3C918EA09FE}
constexpr RSGuid kSearchedPartitionsSection{
    0x9332EB72, 0x887D, 0x4145, {0x93, 0x7D, 0xC3, 0xC9, 0x18, 0xEA, 0x09, 0xFE}};
// {D208F26C-078C-4E34-9D71-D91F535F7B57}
constexpr RSGuid kFileTreeSection{
    0xD208F26C, 0x078C, 0x4E34, {0x9D, 0x71, 0xD9, 0x1F, 0x53, 0x5F, 0x7B, 0x57}};
// {7DC06525-638A-4A8C-B7D1-6419641247DB}
constexpr RSGuid kFoundPartitionsSection{
    0x7DC06525, 0x638A, 0x4A8C, {0xB7, 0xD1, 0x64, 0x19, 0x64, 0x12, 0x47, 0xDB}};
// {B072A676-0548-468B-BA9E-91093A63B517}
constexpr RSGuid kDiskIdentitySection{
    0xB072A676, 0x0548, 0x468B, {0xBA, 0x9E, 0x91, 0x09, 0x3A, 0x63, 0xB5, 0x17}};
// {94F5F416-4317-4567-AE44-15B3214ED998}
constexpr RSGuid kVolumeIdentitySection{
    0x94F5F416, 0x4317, 0x4567, {0xAE, 0x44, 0x15, 0xB3, 0x21, 0x4E, 0xD9, 0x98}};

// ---------------------------------------------------------------------------------------------
// Controller chain: u32 count, then count x u32 controller type, first step to current one.

enum WizardControllerType : std::uint32_t {
    WIZARD_COMPLETE_RECOVERY_PARTITION = 0,
    WIZARD_COMPLETE_RECOVERY_SCAN_PARTITION = 1,
    WIZARD_LOST_RECOVERY_DISK = 2,
    WIZARD_LOST_RECOVERY_PARTITION = 3,
    WIZARD_LOST_RECOVERY_SCAN_PARTITION = 4,
    WIZARD_FILE_SELECT = 5,
    WIZARD_NOT_PERSISTED = 6,
};

// Opens, writes and closes the chain section; types 6 and above are left out. 1.
int SaveControllerChain(IRSData* store, const std::vector<std::uint32_t>& types);
// Opens the chain section and reads the types into `out` (cleared first), leaving out those
// above `limit` (the restore limit of the file's stage). A type above 5 is no controller and
// fails the load. 1.
int RecreateControllerChain(IRSData* store, std::uint32_t limit, std::vector<std::uint32_t>& out);

// ---------------------------------------------------------------------------------------------
// Search controllers: u64 count; per controller u32 kind, then its own SaveState bytes.

using SearchControllerList = std::vector<std::unique_ptr<IFileSystemSearchController>>;

// An empty controller of `kind` (0 NTFS, 1 FAT, 2 RAW, 3 EXT2) for loading; null for a kind
// this build cannot make.
std::unique_ptr<IFileSystemSearchController> CreateSearchControllerByKind(std::uint32_t kind);

int SaveSearchControllers(IRSData* store, const std::vector<IFileSystemSearchController*>& list);
// Appends the loaded controllers to `list`. A kind that cannot be made fails the load: the
// controllers this call added are removed and the exception passes on. 1.
int LoadSearchControllers(IRSData* store, SearchControllerList& list);

// ---------------------------------------------------------------------------------------------
// Searched partitions: u64 count; per record u32 kind, then its Save bytes.

using SearchedPartitionList = std::vector<std::unique_ptr<CSearchedPartitionInfo>>;

// An empty record of `kind` (0 NTFS, 1 FAT, 2 EXT2, 3 base); null for a kind this build
// cannot make.
std::unique_ptr<CSearchedPartitionInfo> CreateSearchedPartitionInfoByKind(std::uint32_t kind);

int SaveSearchedPartitions(IRSData* store, const std::vector<CSearchedPartitionInfo*>& list);
// Clears `list`, then fills it; an unknown kind fails the load (list left empty). 1.
int LoadSearchedPartitions(IRSData* store, SearchedPartitionList& list);

// ---------------------------------------------------------------------------------------------
// File tree and file properties.

// u32 GetFileSystemKind, then the properties' own record. The views' program-made folders
// (kind 4, which keep nothing themselves) get a record written here: u16 name length, the
// name, u64 size, u16 attributes, u8 entry state, u32 valid fields.
int SaveFileProperties(IRSData* store, const IFileProperties* properties);
// Reads what SaveFileProperties wrote; an unknown kind fails the load. Owned by the caller.
std::unique_ptr<IFileProperties> LoadFileProperties(IRSData* store);

// Opens, writes and closes the file-tree section: u32 1, the root's folder record and
// properties; then, per folder in breadth-first order from the root, one entry per child
// (u32 1 folder node / 0 file node, the node's record, its properties), last sibling first,
// and u32 0xFFFFFFFF. A child without properties is left out with its subtree. `progress`
// (may be null) gets positions 40 to 90. 1.
int SaveFileTree(IRSData* store, CFileSystemNode* root, IDIRBuildCallback* progress);
// Opens the file-tree section and rebuilds the tree (sibling order as before the save); every
// node owns its properties. A leading marker other than 1 gives null. A store failure
// or a bad record frees the partial tree and passes on.
FileTreePtr LoadFileTree(IRSData* store, IDIRBuildCallback* progress);

// ---------------------------------------------------------------------------------------------
// Found partitions of the lost-partition search: u32 count; per record u64 start, u64 size,
// the label's first 40 bytes, u32 FileSystemType, u64 window first sector, u64 window sector
// count; u32 index of the selected record (0xFFFFFFFF none).

using FoundPartitionList = std::vector<std::unique_ptr<FoundPartitionInfo>>;
constexpr std::uint32_t kFoundPartitionLabelBytes = 40;
constexpr std::uint32_t kNoSelection = 0xFFFFFFFF;

void SaveFoundPartitionRecord(IRSData* store, const FoundPartitionInfo& record);
// Reads one record and gives it a new window over `device` (none when `device` is null).
std::unique_ptr<FoundPartitionInfo> LoadFoundPartitionRecord(IRSData* store,
                                                             IStorageDevice* device);
// Opens, writes and closes the section; `selected` is stored as its position in `list`
// (0xFFFFFFFF when it is not there).
int SaveFoundPartitionList(IRSData* store, const std::vector<const FoundPartitionInfo*>& list,
                           const FoundPartitionInfo* selected);
// Clears `list` and fills it; `*selected` becomes the stored entry or null. With a device, the
// entries are then fitted to it (FitFoundPartitionsToDevice). 1.
int LoadFoundPartitionList(IRSData* store, FoundPartitionList& list, FoundPartitionInfo** selected,
                           IStorageDevice* device);

// ---------------------------------------------------------------------------------------------
// A restored state checked against the device it describes (`deviceSectors` long): what starts
// at or past the device's end is dropped with a log line, sizes are cut to what the device
// holds from their start, scores kept within [0, 1]. Each returns how many entries it dropped.

// Carved files: sizes also cut to `maxFileSize` (the scan options' MaxRawFileSize); a record
// keeps the size it claims beside the cut one (CRawFileInfo::m_u64ClaimedSize).
std::size_t FitCarvedFilesToDevice(CRawFileList& list, std::uint64_t deviceSectors,
                                   std::uint64_t maxFileSize);
// Partitions of the deep scan: the relative score within [0, 1] (not a number: 0).
std::size_t FitSearchedPartitionsToDevice(SearchedPartitionList& list, std::uint64_t deviceSectors);
// Partitions of the lost-partition search: the partition and its window end at the device's
// end; `*selected` (may be null) becomes null when its entry is dropped.
std::size_t FitFoundPartitionsToDevice(FoundPartitionList& list, FoundPartitionInfo** selected,
                                       std::uint64_t deviceSectors);
// Carved files of a restored tree, as FitCarvedFilesToDevice; a file whose size the device
// or `maxFileSize` cuts is marked cut, at the device's end or at the largest carved size. The tree's counters are counted again. The other entries lie inside their partitions, whose reads the partition bounds.
std::size_t FitFileTreeToDevice(CFileSystemNode* root, std::uint64_t deviceSectors,
                                std::uint64_t maxFileSize);

// ---------------------------------------------------------------------------------------------
// Device identity.

// One item of the lost-partition disk list (548 bytes in the file). Disk form (kind 0): the
// disk, its heads per cylinder, the USB flag and the row text. Image form (kind 1): the image
// device, its heads per cylinder, the image id, display name, sector count and ".edi" path.
constexpr std::uint32_t kDiskRecordSize = 548;
constexpr std::uint32_t kVolumeRecordSize = 1277;
constexpr std::uint32_t kDiskRecordTextSize = 528;
constexpr std::uint32_t kDiskIdentitySize = 1816; // DiskDescriptor (1304) + sector 0 (512)

enum DiskRecordKind : std::uint32_t {
    DISKRECORD_DISK = 0,
    DISKRECORD_IMAGE = 1,
};

struct DiskRecord {
    std::uint32_t kind = DISKRECORD_DISK;
    IStorageDevice* pDevice = nullptr; // the disk or image device; not owned unless ownedDevice
    std::uint32_t headsPerCylinder = 0;
    std::uint32_t isUsb = 0;               // disk form
    std::uint32_t imageId = 0;             // image form
    char szText[kDiskRecordTextSize] = {}; // disk form: row text
    char szDisplayName[260] = {};          // image form
    std::uint64_t u64SectorCount = 0;      // image form
    char szImagePath[260] = {};            // image form
    // The image device FindStoredDevice opened again; pDevice points at it.
    std::unique_ptr<IStorageDevice> ownedDevice;
};

using DiskRecordList = std::vector<std::unique_ptr<DiskRecord>>;

// The 548 and 1277 bytes of the records, field by field; pointer slots are written as zero
// and come back null. Reading refuses a form other than 0 and 1 and keeps every text
// 0-terminated.
void EncodeDiskRecord(const DiskRecord& record, std::uint8_t out[kDiskRecordSize]);
bool DecodeDiskRecord(const std::uint8_t in[kDiskRecordSize], DiskRecord* record);
void EncodeVolumeRecord(const VolumeRecord& record, std::uint8_t out[kVolumeRecordSize]);
bool DecodeVolumeRecord(const std::uint8_t in[kVolumeRecordSize], VolumeRecord* record);

// The 1816 identity bytes of a disk: its descriptor, then sector 0 with the partition table
// (bytes 446-509) zeroed, so re-partitioning keeps the identity. False when the disk cannot
// be read.
using DiskIdentityReader = std::function<bool(IStorageDevice* disk, std::uint8_t* identity)>;
// The reader used by default: CDiskDevice::QueryDeviceDescriptor (zeros for another device)
// and sector 0 of the device.
bool BuildDeviceDescriptor(IStorageDevice* disk, std::uint8_t identity[kDiskIdentitySize]);

// Opens, writes and closes the disk-identity section: the record, and for a disk its
// identity. 1.
int StoreDeviceIdentity(const DiskRecord& record, IRSData* store,
                        const DiskIdentityReader& identity = BuildDeviceDescriptor);
// The stored disk or image among `list`: an image by its path (opened again and appended to
// the list when absent and its slice files are there); a disk by its identity. A disk
// identity that more than one listed disk gives is ambiguous and finds nothing. Null when
// not found.
DiskRecord* FindStoredDevice(IRSData* store, DiskRecordList& list,
                             const DiskIdentityReader& identity = BuildDeviceDescriptor);

// Writes, into the open volume-identity section after the record, one identity per member
// disk (a member table with all 32 entries used counts as none). 1.
int WriteVolumeDiskIdentities(const VolumeRecord& record, IRSData* store,
                              const DiskIdentityReader& identity = BuildDeviceDescriptor);
// Opens, writes and closes the volume-identity section: the 1277-byte record, then
// WriteVolumeDiskIdentities. 1.
int StoreVolumeIdentity(const VolumeRecord& record, IRSData* store,
                        const DiskIdentityReader& identity = BuildDeviceDescriptor);
// Opens the volume-identity section: the record and its member identities. A volume record
// is looked for in `volumes` (not images): same floppy and USB flags, drive letter, kind, file
// system, member extents and member disks; more than one match is ambiguous and finds
// nothing. An image record is looked for in `images` by its path; when absent the image is
// opened again and a record that owns the image device is appended to `images`. Null when not
// found.
VolumeRecord* FindStoredVolume(IRSData* store, const VolumeList& volumes, VolumeList& images,
                               const DiskIdentityReader& identity = BuildDeviceDescriptor);
