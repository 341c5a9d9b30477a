#pragma once
// The metadata of one entry of the found-file tree, in one interface for every file system,
// with its bit masks, and the process-wide scan options.
#include <cstdint>
#include <vector>

#include "filesystems/TreeArena.h"

class IDataRunList;
class IRSData;

// A point in time as 100-nanosecond intervals since 1601-01-01 00:00 UTC (the unit NTFS keeps
// on disk). 0 means "not known".
struct FileTime {
    std::uint64_t ticks = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// File attribute bits (u16, the values Windows file attributes use).
enum FileAttributeBits : std::uint16_t {
    FILEATTR_READONLY = 0x01,
    FILEATTR_HIDDEN = 0x02,
    FILEATTR_SYSTEM = 0x04,
    FILEATTR_DIRECTORY = 0x10,
    FILEATTR_ARCHIVE = 0x20,
    FILEATTR_ENCRYPTED = 0x40,
    FILEATTR_COMPRESSED = 0x800,
};

// Why an entry holds less data than its own header claims.
enum class ClaimCut : std::uint8_t {
    None,
    DeviceEnd, // the device ends before the data does
    SizeLimit, // the largest carved file size of the scan options (Settings) is smaller
};

// The size an entry claims and why its data stops short of it.
struct ClaimedSize {
    std::uint64_t bytes = 0; // 0 when not cut
    ClaimCut cut = ClaimCut::None;
};

// Which values of an IFileProperties mean something (u32).
enum ValidFieldBits : std::uint32_t {
    VALIDFIELD_NAME = 0x01,
    VALIDFIELD_SIZE = 0x02,
    VALIDFIELD_ATTRIBUTES = 0x04,
    VALIDFIELD_CREATION_TIME = 0x08,
    VALIDFIELD_LAST_WRITE_TIME = 0x10,
    VALIDFIELD_LAST_ACCESS_TIME = 0x20,
    VALIDFIELD_STATE = 0x40,
    VALIDFIELD_EXTRA_80 = 0x80,    // set by the RAW properties, read by nobody
    VALIDFIELD_EXTRA_100 = 0x100,  // set by the RAW properties, read by nobody
    VALIDFIELDS_FILESYSTEM = 0xFF, // NTFS, FAT and EXT2 properties
    VALIDFIELDS_RAW = 0x1C7,       // RAW properties: no times
};

// Entry state (8-bit).
enum FileEntryState : std::uint8_t {
    FILESTATE_LIVE = 0,
    FILESTATE_DELETED = 1,
    FILESTATE_CROSS_LINK = 0x04,     // bit beside 0x01: a deleted file whose clusters another file holds
    FILESTATE_LOST_FILES_FOLDER = 8, // synthetic lost-files folder of the NTFS builders
    FILESTATE_FAT_MADE_FOLDER = 9,   // folder made by the FAT builders
    FILESTATE_RAW_MADE_FOLDER = 16,  // folder made by the RAW file tree
};

// Check state (8-bit view state).
enum FileCheckState : std::uint8_t {
    CHECKSTATE_UNCHECKED = 0,
    CHECKSTATE_PARTIAL = 1, // folders only
    CHECKSTATE_CHECKED = 2,
};

// What IFileProperties::GetFileSystemKind answers; the scan-state store keys on it.
enum FilePropertiesKind : std::uint32_t {
    FILEPROPS_NTFS = 0,
    FILEPROPS_FAT = 1,
    FILEPROPS_EXT2 = 2,
    FILEPROPS_RAW = 3,
    FILEPROPS_VIEW = 4, // the views' own properties of program-made folders
};

// How a recovery copies an entry's data (IFileProperties::GetDataLayout).
enum class FileDataLayout : std::uint8_t {
    // Data kept inside the entry's own record, read through its node.
    Resident,
    // Clusters of plain runs; a run starting at -1 is sparse (a hole on the target).
    Runs,
    // Compression units of 16 clusters over the runs (FILEATTR_COMPRESSED).
    Compressed,
    // Runs where a run starting at cluster 0 is a hole as well; no EFS stream goes in front.
    SparseRuns,
    // A symbolic link's text inside the entry's record: one sector at the run list's only run,
    // the text at its resident offset.
    LinkText,
};

class IFileProperties {
public:
    IFileProperties() = default;
    IFileProperties(const IFileProperties&) = delete;
    IFileProperties& operator=(const IFileProperties&) = delete;
    virtual ~IFileProperties();

    // A plain `new` takes the heap, `new (arena)` a build's arena (filesystems/TreeArena.h; the
    // heap for a null arena); `delete` frees either.
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void* operator new(std::size_t size, CTreeArena* arena) { return AllocateTreeStorage(arena, size); }
    static void operator delete(void* p, std::size_t size) noexcept { FreeTreeObject(p, size); }
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return ::operator new(size, std::nothrow);
    }
    static void operator delete(void* p, CTreeArena*) noexcept { FreeTreeObject(p, 0); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept { FreeTreeObject(p, 0); }

    // Length of the name in bytes, without the terminator.
    virtual std::uint16_t GetNameLength() const = 0;
    // 0-terminated narrow (UTF-8) name, owned by the properties.
    virtual const char* GetName() const = 0;
    virtual std::uint64_t GetFileSize() const = 0;
    virtual std::uint16_t GetAttributes() const = 0;
    // Each writes the time to *time and returns time.
    virtual FileTime* GetCreationTime(FileTime* time) const = 0;
    virtual FileTime* GetLastWriteTime(FileTime* time) const = 0;
    virtual FileTime* GetLastAccessTime(FileTime* time) const = 0;
    virtual std::uint8_t GetFileState() const = 0;
    // Adds state bits (FILESTATE_CROSS_LINK) to a file-system entry; the RAW and view
    // properties have no such state and keep theirs.
    virtual void AddFileState(std::uint8_t bits) { (void)bits; }
    virtual std::uint8_t GetCheckState() const = 0;
    virtual void SetCheckState(std::uint8_t state) = 0;
    // A new run list for the entry's data, which the caller deletes; null when there is none.
    virtual IDataRunList* GetDataRunList() const = 0;
    // How the data of `runs` (the entry's run list, null when there is none) is copied out:
    // resident data when the list says so, compression units for a compressed entry, plain
    // runs otherwise.
    virtual FileDataLayout GetDataLayout(const IDataRunList* runs) const;
    // Why the entry has no data to recover at all (a text for the log, the name follows), or
    // null when it has.
    virtual const char* GetNoDataReason() const { return nullptr; }
    // What the entry's own header claims when its data was cut short of it (the entry is then
    // written up to the cut and does not count as recovered); no cut otherwise.
    virtual ClaimedSize GetClaimedSizeWhenCut() const { return {}; }
    virtual std::uint32_t GetValidFields() const = 0;
    virtual std::uint8_t GetMark() const = 0;
    virtual int SetMark(std::uint8_t mark) = 0;
    // Writes the entry's record into an open scan-state section; 1 on success.
    virtual int Save(IRSData* section) const = 0;
    virtual std::uint32_t GetFileSystemKind() const = 0;
    // Reads what Save wrote and clears the check state and the mark; 1 on success.
    virtual int Load(IRSData* section) = 0;
};

// File-type ids the RAW search looks for, in the order of insertion.
class RawTypeList {
public:
    std::uint32_t Size() const { return static_cast<std::uint32_t>(m_ids.size()); }
    void Add(std::uint32_t id) { m_ids.push_back(id); }
    void Clear() { m_ids.clear(); }
    std::uint32_t operator[](std::uint32_t index) const { return m_ids[index]; }
    const std::vector<std::uint32_t>& Ids() const { return m_ids; }

private:
    std::vector<std::uint32_t> m_ids;
};

// Process-wide scan switches (u32: 0 off, non-zero on). Read by the scanners when a scan
// starts, edited by the settings pages while no scan runs.
struct ScanOptions {
    std::uint32_t UseBootRecords = 1;
    std::uint32_t UsePartitionTables = 0;
    std::uint32_t ExtensiveVolumesSearch = 0;
    std::uint32_t CheckFatDateField = 1;
    std::uint32_t CheckFatTimeField = 1;
    std::uint32_t FatThirdCheck = 1;
    std::uint32_t UseFirstFatCopy = 1;
    std::uint32_t UseSecondFatCopy = 1;
    std::uint32_t UseNtfsVolumeSize = 1;
    std::uint32_t UseMftFile = 1;
    std::uint32_t ShowMftOnlyFiles = 0;
    std::uint32_t RecoverRawFiles = 1;
    std::uint32_t RecoverRawFilesOnly = 0;
    std::uint64_t MaxRawFileSize = 50000000;
    RawTypeList RawFileTypes; // ids 1 to 68 after SetDefaults

    ScanOptions() { SetDefaults(); }
    // Every field back to its default (the type list holds 1, 2, ... 68).
    void SetDefaults();
};

constexpr std::uint32_t kBuiltInRawTypeCount = 68;

// The process-wide options; built with the defaults on first use.
ScanOptions& GetScanOptions();
