#pragma once
// Properties of one file or folder found in an NTFS MFT record, and of the folders an NTFS tree
// makes itself (the partition's root and the lost-files folders). The data runs are kept as a
// serialised run record, so a large tree holds no live run lists.
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <cstdint>
#include <memory>
#include <string>

// Sizes with the top bit set mean "unknown".
constexpr std::uint64_t kNtfsUnknownSize = std::uint64_t{1} << 63;
inline bool IsUnknownNtfsSize(std::uint64_t size) { return (size >> 63) != 0; }

// An entry's name and run record are kept in one block after it (in a tree build's arena when
// it was made by one), so an entry costs one small object and one small block.
class CNTFSFileProperties : public IFileProperties {
public:
    CNTFSFileProperties() = default;
    ~CNTFSFileProperties() override;

    std::uint16_t GetNameLength() const override { return m_nameLength; }
    const char* GetName() const override { return m_text ? m_text : ""; }
    std::uint64_t GetFileSize() const override { return m_size; }
    std::uint16_t GetAttributes() const override { return m_attributes; }
    FileTime* GetCreationTime(FileTime* time) const override { *time = m_creationTime; return time; }
    FileTime* GetLastWriteTime(FileTime* time) const override { *time = m_lastWriteTime; return time; }
    FileTime* GetLastAccessTime(FileTime* time) const override { *time = m_lastAccessTime; return time; }
    std::uint8_t GetFileState() const override { return m_state; }
    void AddFileState(std::uint8_t bits) override { m_state = static_cast<std::uint8_t>(m_state | bits); }
    std::uint8_t GetCheckState() const override { return m_checkState; }
    void SetCheckState(std::uint8_t state) override { m_checkState = state; }
    IDataRunList* GetDataRunList() const override;
    std::uint32_t GetValidFields() const override { return VALIDFIELDS_FILESYSTEM; }
    std::uint8_t GetMark() const override { return m_mark; }
    int SetMark(std::uint8_t mark) override;
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_NTFS; }
    int Load(IRSData* section) override;

    std::uint64_t GetRecordSector() const { return m_recordSector; }
    // The $LogFile sequence number of the record's last change (its header's), 0 when the
    // record carries none; a record changed later has a larger one. Known while a tree is
    // built: the scan-state store does not keep it.
    std::uint64_t GetLogSequenceNumber() const { return m_lsn; }
    // A copy of the run record (resident offset and mapping pairs); null when there is none.
    std::unique_ptr<RunListRecord> GetRunListRecord() const;
    bool HasRunListRecord() const { return m_hasRunRecord; }
    // Extension records of the file's MFT record; null when there are none.
    const NtfsExtensionList* GetExtensionRecords() const { return m_extensions.get(); }
    void SetExtensionRecords(const NtfsExtensionList& list);
    void SetFileSize(std::uint64_t size) { m_size = size; }

private:
    friend CNTFSFileProperties* CreateNtfsFilePropertiesFromRecord(MftRecordView*, std::uint64_t, std::int64_t*,
                                                                   CTreeArena*);
    friend CNTFSFileProperties* MakeNtfsSyntheticFolder(const std::string& name, std::uint8_t state);

    // Replaces name and run record (none without `hasRuns`), in `arena` or on the heap.
    void SetText(const char* name, std::size_t nameLength, bool hasRuns, const std::uint8_t* runs,
                 std::size_t runBytes, CTreeArena* arena);
    void FreeText();
    const std::uint8_t* RunBytes() const {
        return reinterpret_cast<const std::uint8_t*>(m_text) + m_nameLength + 1;
    }

    std::uint64_t m_size = 0;
    FileTime m_creationTime;
    FileTime m_lastWriteTime;
    FileTime m_lastAccessTime;
    std::uint64_t m_recordSector = 0;
    std::uint64_t m_lsn = 0;
    char* m_text = nullptr; // the name, its terminator, then the run record's bytes; owned
    std::unique_ptr<NtfsExtensionList> m_extensions;
    std::uint32_t m_runBytes = 0;
    std::uint16_t m_attributes = 0;
    std::uint16_t m_nameLength = 0;
    std::uint16_t m_residentOffset = 0;
    std::uint8_t m_state = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    bool m_hasRunRecord = false;
};

CNTFSFileProperties* CreateNtfsFileProperties();
// The properties of one parsed record (its extension records attached), or null when it has
// no usable name. *parentRef receives the parent folder's record number when one is known
// (it is left alone otherwise). With an arena the properties live in it.
CNTFSFileProperties* CreateNtfsFilePropertiesFromRecord(MftRecordView* record, std::uint64_t recordSector,
                                                        std::int64_t* parentRef, CTreeArena* arena = nullptr);
// An unknown size becomes the clusters of a non-resident run list times the cluster size.
void FixNtfsFileSize(CNTFSFileProperties* props, std::uint32_t sectorsPerCluster);

CNTFSFileProperties* MakeNtfsSyntheticFolder(const std::string& name, std::uint8_t state);
// "%d NTFS" with partitionIndex + 1, state live.
CNTFSFileProperties* MakeNtfsRootProperties(int partitionIndex);
// "LostFiles%d": the counter belongs to one tree build; it grows by one before each use, so the
// first folder of a build that starts it at 0 is "LostFiles1". State 8.
CNTFSFileProperties* MakeLostFilesFolder(int* counter);
