#pragma once
// The properties of a carved file, or of a folder of the "Raw Files" tree: name, size, one run
// of sectors on the device the search was given.
#include <cstdint>
#include <memory>
#include <string>

#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"

class CRawFileInfo;

class CRAWFileProperties : public IFileProperties {
public:
    CRAWFileProperties() = default;
    ~CRAWFileProperties() override;

    // Stores a copy of `text` (cut to 254 bytes, so the saved length with its terminator fits
    // in one byte).
    void SetName(const char* text);
    // Size from the record; one run {start sector, size rounded up to sectors}.
    void SetExtent(const CRawFileInfo& record);
    void SetExtent(std::uint64_t startSector, std::uint64_t size);
    // The device ended before the file: its size stops at the device's end, and its header
    // claims more. Such a file is written up to there but is not the whole file.
    bool IsCutAtDeviceEnd() const { return m_u64ClaimedSize > m_u64Size; }

    std::uint16_t GetNameLength() const override { return static_cast<std::uint16_t>(m_name.size()); }
    const char* GetName() const override { return m_name.c_str(); }
    std::uint64_t GetFileSize() const override { return m_u64Size; }
    std::uint16_t GetAttributes() const override { return m_u16Attributes; }
    FileTime* GetCreationTime(FileTime* time) const override;
    FileTime* GetLastWriteTime(FileTime* time) const override;
    FileTime* GetLastAccessTime(FileTime* time) const override;
    std::uint8_t GetFileState() const override { return m_state; }
    std::uint8_t GetCheckState() const override { return m_checkState; }
    void SetCheckState(std::uint8_t state) override { m_checkState = state; }
    IDataRunList* GetDataRunList() const override;
    std::uint64_t GetClaimedSizeWhenCut() const override { return IsCutAtDeviceEnd() ? m_u64ClaimedSize : 0; }
    std::uint32_t GetValidFields() const override { return VALIDFIELDS_RAW; }
    std::uint8_t GetMark() const override { return m_mark; }
    int SetMark(std::uint8_t mark) override {
        m_mark = mark;
        return 1;
    }
    // u8 name length with terminator, the name and its NUL, u64 size, u16 attributes, u8 entry
    // state, u32 mapping-pair length, the mapping pairs, u16 resident offset. A file cut at the
    // device's end stores the size it claims: fitting the loaded tree to its device (which
    // cuts every carved size to the device) tells the cut again from it.
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_RAW; }
    int Load(IRSData* section) override;

    std::string m_name;
    std::uint64_t m_u64Size = 0;
    // What the file's header claims when that is more than the device holds from its start
    // (IsCutAtDeviceEnd); 0 otherwise.
    std::uint64_t m_u64ClaimedSize = 0;
    std::uint16_t m_u16Attributes = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    std::uint8_t m_state = 0;
    std::unique_ptr<RunListRecord> m_runRecord;
};

CRAWFileProperties* CreateRAWFileProperties();
