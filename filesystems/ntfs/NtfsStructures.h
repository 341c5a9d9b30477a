#pragma once
// NTFS on-disk structures as this system reads them: the boot sector, MFT file records with
// their update-sequence fix-ups, attributes, mapping pairs decoded into extents, attribute lists
// and the system-file table. Every parser takes a byte span and its size; nothing throws and
// every value read from disk is checked before it indexes, allocates or loops.
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Limits of what this reader supports.
constexpr std::uint32_t kNtfsRecordSize = 1024;         // an MFT record is handled as 2 sectors
constexpr std::uint32_t kNtfsSectorsPerRecord = kNtfsRecordSize / kSectorSize;
constexpr std::uint32_t kNtfsMaxSectorsPerCluster = 128; // 64 KiB clusters
constexpr std::uint32_t kNtfsMaxAttributeListBytes = 256 * 1024;
constexpr std::uint32_t kNtfsMinAttributeListEntry = 0x1A;

// Attribute types.
constexpr std::uint32_t kNtfsAttrStandardInformation = 0x10;
constexpr std::uint32_t kNtfsAttrAttributeList = 0x20;
constexpr std::uint32_t kNtfsAttrFileName = 0x30;
constexpr std::uint32_t kNtfsAttrVolumeName = 0x60;
constexpr std::uint32_t kNtfsAttrData = 0x80;
constexpr std::uint32_t kNtfsAttrIndexAllocation = 0xA0;
constexpr std::uint32_t kNtfsAttrLoggedUtilityStream = 0x100;
constexpr std::uint32_t kNtfsAttrEnd = 0xFFFFFFFFu;

// Record header flags, attribute flags, $FILE_NAME flags.
constexpr std::uint16_t kNtfsRecordInUse = 0x01;
constexpr std::uint16_t kNtfsRecordDirectory = 0x02;
constexpr std::uint16_t kNtfsAttrFlagCompressed = 0x0001;
constexpr std::uint16_t kNtfsAttrFlagEncrypted = 0x4000;
constexpr std::uint32_t kNtfsFileNameFlagDirectory = 0x10000000u;

// The record number of the root folder.
constexpr std::uint64_t kNtfsRootRecord = 5;

// ---------------------------------------------------------------------------------------------
// Little-endian loads and stores that tolerate any alignment.
std::uint16_t NtfsRd16(const void* p);
std::uint32_t NtfsRd32(const void* p);
std::uint64_t NtfsRd64(const void* p);
void NtfsWr16(void* p, std::uint16_t v);

// UTF-16LE (unaligned bytes, `units` code units) to UTF-8; unpaired surrogates become '_'.
std::string NtfsNameToNarrow(const void* utf16le, std::size_t units);

// ---------------------------------------------------------------------------------------------
// Boot sector.
bool IsNtfsOemId(const void* sector512);
bool IsNTFSBootSector(const void* sector512);

class CNTFSDBR {
public:
    CNTFSDBR() { Clear(); }
    // Copies the sector in when IsNTFSBootSector accepts it.
    bool SetData(const void* sector512);
    void Clear();
    const std::uint8_t* Data() const { return m_data; }

    std::uint16_t GetBytesPerSector() const { return NtfsRd16(m_data + 0x0B); }
    std::uint8_t GetSectorsPerCluster() const { return m_data[0x0D]; }
    std::uint64_t GetTotalSectors() const { return NtfsRd64(m_data + 0x28); }
    std::uint64_t GetMftCluster() const { return NtfsRd64(m_data + 0x30); }
    std::uint64_t GetMftMirrorCluster() const { return NtfsRd64(m_data + 0x38); }
    std::uint64_t GetSerialNumber() const { return NtfsRd64(m_data + 0x48); }
    // Bytes of one FILE record as the boot sector gives it (0 when the field is out of range).
    std::uint32_t GetFileRecordSize() const;
    // True when the record size is the one this reader handles and the cluster size is sane.
    bool HasSupportedGeometry() const;

private:
    std::uint8_t m_data[512];
};

bool ReadNtfsBootSector(IStorageDevice& device, std::uint64_t sector, CNTFSDBR& out);

// ---------------------------------------------------------------------------------------------
// FILE records. `rec` is the record's bytes, `len` how many of them are valid.
bool CheckFileRecordHeader(const std::uint8_t* rec, std::size_t len);
bool VerifyFixups(const std::uint8_t* rec, std::size_t len);
bool ApplyFixups(std::uint8_t* rec, std::size_t len);
void UndoFixups(std::uint8_t* rec, std::size_t len);
// Header check, then every attribute (with fix-ups applied when they verify); the bytes are as
// before when it returns.
bool ValidateFileRecord(std::uint8_t* rec, std::size_t len);

std::uint16_t GetRecordFlags(const std::uint8_t* rec);
bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len);
// The record number stored in the header, or -1 when the header does not carry one.
std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len);

// Attribute walk. FindAttribute returns the n-th (from 0) attribute of `type` or null; the walk
// stops at the end marker, at a length of 0 and at any attribute that runs past `len`.
const std::uint8_t* FindAttribute(const std::uint8_t* rec, std::size_t len, std::uint32_t type,
                                  int n);
int CountAttributes(const std::uint8_t* rec, std::size_t len, std::uint32_t type);

bool ValidateAttribute(const std::uint8_t* attr, std::size_t bytesLeft);
bool ValidateMappingPairs(const std::uint8_t* pairs, std::size_t len);
bool IsValidNtfsName(const void* utf16le, std::size_t units);
bool HasIndexAllocation(const std::uint8_t* rec, std::size_t len);

// Attribute header accessors (the attribute must have passed ValidateAttribute).
inline std::uint32_t AttrType(const std::uint8_t* a) { return NtfsRd32(a); }
inline std::uint32_t AttrLength(const std::uint8_t* a) { return NtfsRd32(a + 4); }
inline bool AttrNonResident(const std::uint8_t* a) { return a[8] != 0; }
inline std::uint8_t AttrNameLength(const std::uint8_t* a) { return a[9]; }
inline std::uint16_t AttrFlags(const std::uint8_t* a) { return NtfsRd16(a + 0x0C); }
inline std::uint32_t AttrValueLength(const std::uint8_t* a) { return NtfsRd32(a + 0x10); }
inline std::uint16_t AttrValueOffset(const std::uint8_t* a) { return NtfsRd16(a + 0x14); }
inline const std::uint8_t* AttrValue(const std::uint8_t* a) { return a + AttrValueOffset(a); }
inline std::uint64_t AttrLowestVcn(const std::uint8_t* a) { return NtfsRd64(a + 0x10); }
inline std::uint64_t AttrHighestVcn(const std::uint8_t* a) { return NtfsRd64(a + 0x18); }
inline std::uint16_t AttrPairsOffset(const std::uint8_t* a) { return NtfsRd16(a + 0x20); }
inline std::uint64_t AttrAllocatedSize(const std::uint8_t* a) { return NtfsRd64(a + 0x28); }
inline std::uint64_t AttrDataSize(const std::uint8_t* a) { return NtfsRd64(a + 0x30); }
inline std::uint64_t AttrInitializedSize(const std::uint8_t* a) { return NtfsRd64(a + 0x38); }

// $FILE_NAME value fields (resident attribute that passed ValidateAttribute).
struct NtfsFileNameView {
    std::uint64_t parent = 0;       // low 48 bits of the parent reference
    std::uint64_t creationTime = 0;
    std::uint64_t realSize = 0;
    std::uint32_t flags = 0;
    std::uint8_t nameLength = 0;    // UTF-16 units
    std::uint8_t nameSpace = 0;     // 0 POSIX, 1 Win32, 2 DOS, 3 Win32&DOS (above 4 read as 4)
    const std::uint8_t* name = nullptr;
};
bool ReadFileNameAttr(const std::uint8_t* attr, NtfsFileNameView& out);

// $STANDARD_INFORMATION fields; false when the attribute is too short to hold them.
struct NtfsStdInfoView {
    std::uint64_t creationTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint32_t fileAttributes = 0;
};
bool ReadStdInfoAttr(const std::uint8_t* attr, NtfsStdInfoView& out);

// ---------------------------------------------------------------------------------------------
// Runs and extents.
struct NtfsExtent {
    std::int64_t lcn;    // -1 for a sparse run
    std::uint64_t vcn;   // first cluster of the run in the attribute
    std::uint64_t count; // clusters
};
using NtfsExtentList = std::vector<NtfsExtent>;

void DecodeDataRuns(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out);
// Unnamed, valid, non-resident attribute only; extents get the attribute's lowest VCN added.
bool CollectAttributeRuns(const std::uint8_t* attr, std::size_t bytesLeft, NtfsExtentList& out,
                          std::uint64_t* lowestVcn, std::uint64_t* dataSize);
std::uint64_t SumRunCounts(const std::uint8_t* pairs, std::size_t len);
bool CollectDataRuns(const std::uint8_t* rec, std::size_t len, NtfsExtentList& out, bool checkSizes,
                     std::uint64_t* dataSize);
void SortExtents(NtfsExtentList& extents);

std::int64_t MapVcnToLcn(const NtfsExtentList& extents, std::uint64_t vcn);
std::int64_t MapLcnToVcn(const NtfsExtentList& extents, std::uint64_t lcn);
std::uint64_t GetTotalClusters(const NtfsExtentList& extents);

std::int64_t MftRecordToSector(std::uint64_t record, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft);
std::int64_t MftSectorToRecord(std::uint64_t sector, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft);

// Saved form: u64 count, then per extent u64 LCN, u64 count, u64 VCN.
std::vector<std::uint8_t> SaveExtentList(const NtfsExtentList& extents);
bool LoadExtentList(const std::uint8_t* bytes, std::size_t len, NtfsExtentList& out,
                    std::size_t* consumed = nullptr);

// Cluster-size estimate.
std::uint32_t RoundClusterSectors(std::uint64_t n);
std::uint32_t EstimateSectorsPerCluster(std::uint64_t bytes, std::uint64_t clusters);
bool EstimateClusterSizeFromMft(const std::uint8_t* rec, std::size_t len, std::uint32_t* estimate);

// ---------------------------------------------------------------------------------------------
// Attribute lists and extension records.
struct NtfsExtensionRef {
    std::int64_t sector;  // -1 while unresolved
    std::uint64_t record;
};
using NtfsExtensionList = std::vector<NtfsExtensionRef>;

// Entries of the first $ATTRIBUTE_LIST (distinct record numbers, sector -1); empty when none.
// Sectors of a non-resident list that cannot be read are left zero and logged.
NtfsExtensionList ReadAttributeListEntries(std::uint8_t* rec, std::size_t len,
                                           std::uint64_t partitionFirst,
                                           std::uint32_t sectorsPerCluster, IStorageDevice* device);
// Parses a list value (entries of at least 0x1A bytes); used by ReadAttributeListEntries.
NtfsExtensionList ParseAttributeListValue(const std::uint8_t* value, std::size_t len);
void ResolveExtensionRecords(NtfsExtensionList& entries, std::uint64_t baseSector,
                             std::uint32_t sectorsPerRecord, std::uint32_t sectorsPerCluster,
                             std::uint64_t partitionFirst, const NtfsExtentList& mft);

// A parsed record: validated, fix-ups applied for its lifetime, with its extension records.
class MftRecordView {
public:
    MftRecordView() = default;
    ~MftRecordView();
    MftRecordView(const MftRecordView&) = delete;
    MftRecordView& operator=(const MftRecordView&) = delete;

    // Validates and applies fix-ups to `rec` (which must outlive the view). False when invalid.
    bool Attach(std::uint8_t* rec, std::size_t len, std::int64_t sector, IStorageDevice* device);
    // Attaches extension records (resolved sectors) read on first use.
    void SetExtensions(NtfsExtensionList extensions) { m_extensions = std::move(extensions); }
    // When the base record's number is known, an extension record is used only when it names
    // that record as its base (a reused slot of a deleted file's extension is ignored).
    void SetBaseRecordNumber(std::int64_t record) { m_baseRecord = record; }
    const NtfsExtensionList& Extensions() const { return m_extensions; }
    void Release();

    bool IsValid() const { return m_rec != nullptr; }
    const std::uint8_t* Record() const { return m_rec; }
    std::size_t Length() const { return m_len; }
    std::int64_t Sector() const { return m_sector; }

    struct AttrRef {
        const std::uint8_t* attr = nullptr;
        std::size_t bytesLeft = 0;   // bytes from the attribute to the end of its record
        std::uint32_t offset = 0;    // offset of the attribute in its record
        std::int64_t sector = -1;    // sector of the record holding it
    };
    // The n-th attribute of `type` over the base record, then the extension records in order.
    AttrRef FindAttributeEx(std::uint32_t type, int n);

private:
    struct Extension {
        bool loaded = false;
        bool valid = false;
        std::vector<std::uint8_t> bytes;
    };
    std::uint8_t* m_rec = nullptr;
    std::size_t m_len = 0;
    std::int64_t m_sector = -1;
    IStorageDevice* m_device = nullptr;
    bool m_fixupsApplied = false;
    std::int64_t m_baseRecord = -1;
    NtfsExtensionList m_extensions;
    std::vector<Extension> m_loaded;
};

// ---------------------------------------------------------------------------------------------
// System files.
struct NtfsSystemFile {
    std::uint32_t record;
    const char* name;
};
extern const NtfsSystemFile NtfsSystemFiles[15];

// Record number of the system file whose name the first $FILE_NAME has, or -1 (base records only).
int FindSystemFileNumber(const std::uint8_t* rec, std::size_t len);
// Hidden+system in $STANDARD_INFORMATION and the first $FILE_NAME equal to `name`.
bool HasSystemFileName(const std::uint8_t* rec, std::size_t len, const char* name);
bool IsSystemFileRecord(const std::uint8_t* rec, std::size_t len);

// Name of a "$Volume" record into `out` (at most 80 bytes with the terminator). `len` is the
// record size (512 bytes and up; only the first kNtfsMaxVolumeRecordSize bytes are looked at).
constexpr std::size_t kNtfsMaxVolumeRecordSize = 4096;
bool ReadNtfsVolumeName(std::uint8_t* rec, std::size_t len, char out[80]);
// Reads record 3 through the boot sector's $MFT position; 1 with the label written, else 0.
int ReadNtfsVolumeLabel(IStorageDevice& device, std::uint64_t partitionFirst, const CNTFSDBR& dbr,
                        char label[80]);
