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
    // The file's header claims `claimed` bytes, more than its size, which `why` cut it to.
    // Such a file is written up to its size but is not the whole file. ClaimCut::None, or a
    // claim no larger than the size, clears the mark.
    void SetClaimedSize(std::uint64_t claimed, ClaimCut why);
    ClaimCut GetCut() const { return m_u64ClaimedSize > m_u64Size ? m_cut : ClaimCut::None; }
    // The device ended before the file: its size stops at the device's end.
    bool IsCutAtDeviceEnd() const { return GetCut() == ClaimCut::DeviceEnd; }
    // The largest carved file size (ScanOptions.MaxRawFileSize) is smaller than the file: its
    // size stops there, and a larger setting gives more of it.
    bool IsCutAtSizeLimit() const { return GetCut() == ClaimCut::SizeLimit; }

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
    ClaimedSize GetClaimedSizeWhenCut() const override;
    std::uint32_t GetValidFields() const override { return VALIDFIELDS_RAW; }
    std::uint8_t GetMark() const override { return m_mark; }
    int SetMark(std::uint8_t mark) override {
        m_mark = mark;
        return 1;
    }
    // u8 name length with terminator, the name and its NUL, u64 size, u16 attributes, u8 entry
    // state, u32 mapping-pair length, the mapping pairs, u16 resident offset. A cut file
    // stores the size it claims: fitting the loaded tree to its device and to the largest
    // carved size (FitFileTreeToDevice, through FitCarvedSize) tells the cut and its reason
    // again from it.
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_RAW; }
    int Load(IRSData* section) override;

    std::string m_name;
    std::uint64_t m_u64Size = 0;
    // What the file's header claims when the file was cut (GetCut); 0 otherwise.
    std::uint64_t m_u64ClaimedSize = 0;
    ClaimCut m_cut = ClaimCut::None;
    std::uint16_t m_u16Attributes = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    std::uint8_t m_state = 0;
    std::unique_ptr<RunListRecord> m_runRecord;
};

CRAWFileProperties* CreateRAWFileProperties();

// The size of a carved file whose header (or a walk of its structure) claims `claimed` bytes
// from `startSector`, and why it is cut: it holds no more than the device from there
// (`deviceSectors`; 0 when the device cannot tell its size) and no more than `cap`
// (ScanOptions.MaxRawFileSize). When both would cut it at the same size, the device's end is
// the reason: a larger setting would not give more.
struct CarvedSizeFit {
    std::uint64_t size = 0;
    ClaimCut cut = ClaimCut::None;
};
CarvedSizeFit FitCarvedSize(std::uint64_t claimed, std::uint64_t startSector, std::uint64_t deviceSectors,
                            std::uint64_t cap);
