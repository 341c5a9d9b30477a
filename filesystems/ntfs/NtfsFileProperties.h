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

// The working record properties are filled from.
struct NtfsFileInfo {
    std::string name;
    std::uint64_t size = 0;
    std::uint16_t attributes = 0;
    FileTime creationTime;
    FileTime lastWriteTime;
    FileTime lastAccessTime;
    std::uint8_t state = FILESTATE_LIVE;
    std::uint64_t recordSector = 0;
    std::unique_ptr<RunListRecord> runRecord;
};

class CNTFSFileProperties : public IFileProperties {
public:
    CNTFSFileProperties() = default;
    ~CNTFSFileProperties() override = default;

    std::uint16_t GetNameLength() const override { return static_cast<std::uint16_t>(m_name.size()); }
    const char* GetName() const override { return m_name.c_str(); }
    std::uint64_t GetFileSize() const override { return m_size; }
    std::uint16_t GetAttributes() const override { return m_attributes; }
    FileTime* GetCreationTime(FileTime* time) const override { *time = m_creationTime; return time; }
    FileTime* GetLastWriteTime(FileTime* time) const override { *time = m_lastWriteTime; return time; }
    FileTime* GetLastAccessTime(FileTime* time) const override { *time = m_lastAccessTime; return time; }
    std::uint8_t GetFileState() const override { return m_state; }
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
    const RunListRecord* GetRunListRecord() const { return m_runRecord.get(); }
    // Extension records of the file's MFT record; null when there are none.
    const NtfsExtensionList* GetExtensionRecords() const { return m_extensions.get(); }
    void SetExtensionRecords(const NtfsExtensionList& list);
    void SetFileSize(std::uint64_t size) { m_size = size; }

private:
    friend void FillNtfsFileProperties(NtfsFileInfo& info, CNTFSFileProperties* props);
    friend CNTFSFileProperties* MakeNtfsSyntheticFolder(const std::string& name, std::uint8_t state);

    std::string m_name;
    std::uint64_t m_size = 0;
    std::uint16_t m_attributes = 0;
    FileTime m_creationTime;
    FileTime m_lastWriteTime;
    FileTime m_lastAccessTime;
    std::uint8_t m_state = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    std::uint64_t m_recordSector = 0;
    std::unique_ptr<RunListRecord> m_runRecord;
    std::unique_ptr<NtfsExtensionList> m_extensions;
};

CNTFSFileProperties* CreateNtfsFileProperties();
// Moves name and run record out of `info` into the properties and copies the other values.
void FillNtfsFileProperties(NtfsFileInfo& info, CNTFSFileProperties* props);
// The properties of one parsed record (its extension records attached), or null when it has
// no usable name. *parentRef receives the parent folder's record number when one is known
// (it is left alone otherwise).
CNTFSFileProperties* CreateNtfsFilePropertiesFromRecord(MftRecordView* record, std::uint64_t recordSector,
                                                        std::int64_t* parentRef);
// An unknown size becomes the clusters of a non-resident run list times the cluster size.
void FixNtfsFileSize(CNTFSFileProperties* props, std::uint32_t sectorsPerCluster);

CNTFSFileProperties* MakeNtfsSyntheticFolder(const std::string& name, std::uint8_t state);
// "%d NTFS" with partitionIndex + 1, state live.
CNTFSFileProperties* MakeNtfsRootProperties(int partitionIndex);
// "LostFiles%d": the counter belongs to one tree build; it grows by one before each use, so the
// first folder of a build that starts it at 0 is "LostFiles1". State 8.
CNTFSFileProperties* MakeLostFilesFolder(int* counter);
