#pragma once
// Properties of folders the program makes itself (such as the "Root" above the partitions of
// a scan): a plain in-memory record, filled once by its creator and never saved.
#include <cstdint>

#include "filesystems/FileProperties.h"

struct MyFilePropertiesRecord {
    char name[260] = {};
    std::uint32_t nameLength = 0;
    std::uint64_t size = 0;
    std::uint16_t attributes = 0;
    FileTime creationTime;
    FileTime lastWriteTime;
    FileTime lastAccessTime;
    std::uint8_t entryState = 0;
    std::uint8_t checkState = 0;
    std::uint32_t mark = 0;
    std::uint32_t validFields = 0;
};

class CMyFileProperties : public IFileProperties {
public:
    CMyFileProperties() = default;

    // Copies a whole record in.
    void SetRecord(const MyFilePropertiesRecord& record);
    const MyFilePropertiesRecord& GetRecord() const { return m_record; }
    // Convenience: the name (cut to 259 bytes) with its length, nothing else changed.
    void SetNameText(const char* name);

    std::uint16_t GetNameLength() const override;
    const char* GetName() const override { return m_record.name; }
    std::uint64_t GetFileSize() const override { return m_record.size; }
    std::uint16_t GetAttributes() const override { return m_record.attributes; }
    FileTime* GetCreationTime(FileTime* time) const override;
    FileTime* GetLastWriteTime(FileTime* time) const override;
    FileTime* GetLastAccessTime(FileTime* time) const override;
    std::uint8_t GetFileState() const override { return m_record.entryState; }
    std::uint8_t GetCheckState() const override { return m_record.checkState; }
    void SetCheckState(std::uint8_t state) override { m_record.checkState = state; }
    IDataRunList* GetDataRunList() const override { return nullptr; }
    std::uint32_t GetValidFields() const override { return m_record.validFields; }
    std::uint8_t GetMark() const override { return static_cast<std::uint8_t>(m_record.mark); }
    // Stores the mark; returns the previous one.
    int SetMark(std::uint8_t mark) override;
    // Nothing is kept in the scan state: writes and reads nothing, returns 0.
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_VIEW; }
    int Load(IRSData* section) override;

private:
    MyFilePropertiesRecord m_record;
};

// A new object with an empty record.
CMyFileProperties* CreateMyFileProperties();
// The program-made folder "Root": attributes FILEATTR_DIRECTORY, every other field 0.
CMyFileProperties* CreateProgramRootProperties(const char* name = "Root");
