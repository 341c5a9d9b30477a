#pragma once
// A file or folder found in a FAT directory: its properties record, filled from one or more
// directory entries (long names included), saved to and loaded from the scan-state store, and
// the data runs of its cluster chain.
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IFATTable;

class CFATFileProperties : public IFileProperties {
public:
    CFATFileProperties() = default;
    ~CFATFileProperties() override;

    void SetName(const char* text);
    void SetName(const std::string& text) { SetName(text.c_str()); }

    std::uint16_t GetNameLength() const override {
        return static_cast<std::uint16_t>(m_name.size());
    }
    const char* GetName() const override { return m_name.c_str(); }
    std::uint64_t GetFileSize() const override { return m_u64Size; }
    std::uint16_t GetAttributes() const override { return m_u16Attributes; }
    FileTime* GetCreationTime(FileTime* time) const override;
    FileTime* GetLastWriteTime(FileTime* time) const override;
    FileTime* GetLastAccessTime(FileTime* time) const override;
    std::uint8_t GetFileState() const override { return m_state; }
    void AddFileState(std::uint8_t bits) override { m_state = static_cast<std::uint8_t>(m_state | bits); }
    std::uint8_t GetCheckState() const override { return m_checkState; }
    void SetCheckState(std::uint8_t state) override { m_checkState = state; }
    // A list decoded from the run record (kind 2, FAT cluster runs); null without a record.
    IDataRunList* GetDataRunList() const override;
    std::uint32_t GetValidFields() const override { return VALIDFIELDS_FILESYSTEM; }
    std::uint8_t GetMark() const override { return m_mark; }
    int SetMark(std::uint8_t mark) override {
        m_mark = mark;
        return 1;
    }
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_FAT; }
    int Load(IRSData* section) override;

    std::string m_name; // UTF-8
    std::uint64_t m_u64Size = 0;
    std::uint16_t m_u16Attributes = 0;
    FileTime m_creationTime;
    FileTime m_lastWriteTime;
    FileTime m_lastAccessTime;
    std::uint8_t m_state = 0; // bit 0x01 deleted, bit 0x08 folder made by a builder
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    std::uint32_t m_u32FirstCluster = 0;
    std::uint32_t m_u32ParentCluster = 0;
    std::unique_ptr<RunListRecord> m_runRecord; // null for folders and files without runs
};

// A new record with every field zero; null when memory runs out. With an arena the record lives
// in it.
CFATFileProperties* CreateFATFileProperties(CTreeArena* arena = nullptr);
// DOS date and time to a FileTime (taken as they are, no time-zone adjustment); 0 when the
// date or time is not a real one.
FileTime ConvertFatDateTime(std::uint16_t date, std::uint16_t time);
// Properties from one short entry with the given name: size, attributes, times and the
// deleted state. First cluster, parent cluster and runs are left to the caller.
CFATFileProperties* CreateFATFilePropertiesFromEntry(const std::string& name,
                                                     const std::uint8_t* entry, CTreeArena* arena = nullptr);
// Properties of the first short entry in `entries` (long-name entries followed by their short
// entry), named by the joined long name when it is a valid file name, else by the 8.3 name.
// Null when no short entry lies within `length` bytes.
CFATFileProperties* CreateFATFilePropertiesFromEntries(const std::uint8_t* entries,
                                                       std::size_t length, CTreeArena* arena = nullptr);

// What building a run list needs of a directory scan.
struct FatRunSource {
    const IFATTable* fat = nullptr;      // may be null (no usable FAT)
    std::uint32_t sectorsPerCluster = 1;
    std::uint64_t clusterCount = 0;      // data clusters: valid clusters are 2 .. count + 1
    std::vector<bool>* clusterUse = nullptr; // one bit per data cluster (cluster - 2); may be null
};

// The runs of a file's data in clusters (start = cluster - 2). A deleted file (with a FAT) is
// rebuilt from the free clusters that follow its first cluster; a live file follows its
// chain. Null when the runs would leave the data area. A file of size 0 gets an empty list.
std::unique_ptr<CFATDataRunList> BuildFatDataRunList(const FatRunSource& source,
                                                     std::uint32_t firstCluster,
                                                     std::uint64_t size, bool deleted);
