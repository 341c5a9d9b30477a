#pragma once
// The reader above the NTFS parsers: it fetches sectors from a device and hands the bytes to
// them (boot sector, non-resident attribute lists, extension records, the volume label).
#include "filesystems/ntfs/NtfsAttributeList.h"
#include "filesystems/ntfs/NtfsBootSector.h"
#include "filesystems/ntfs/NtfsFileRecord.h"
#include "filesystems/ntfs/NtfsSystemFiles.h"
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

bool ReadNtfsBootSector(IStorageDevice& device, std::uint64_t sector, CNTFSDBR& out);

// Entries of the first $ATTRIBUTE_LIST (distinct record numbers, sector -1); empty when none.
// Sectors of a non-resident list that cannot be read are left zero and logged.
NtfsExtensionList ReadAttributeListEntries(std::uint8_t* rec, std::size_t len,
                                           std::uint64_t partitionFirst,
                                           std::uint32_t sectorsPerCluster, IStorageDevice* device);
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
        NtfsAttributeView attr;      // empty when there is no such attribute
        std::uint32_t offset = 0;    // offset of the attribute in its record
        std::int64_t sector = -1;    // sector of the record holding it
    };
    // The n-th attribute of `type` over the base record, then the extension records in order.
    AttrRef FindAttributeEx(std::uint32_t type, int n);
    // The n-th attribute of `type` in the base record alone (FindAttribute on it, from the list
    // of attributes made when it was attached).
    NtfsAttributeView FindBaseAttribute(std::uint32_t type, int n) const;

private:
    int CountBaseAttributes(std::uint32_t type) const;

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
    NtfsAttributeIndex m_attributes; // of the base record
};


// Reads the label from $Volume, record 3 of the $MFT that starts at `mftSector`, whose records
// are `recordSize` bytes (whole sectors); true with the label written.
bool ReadNtfsVolumeRecordLabel(IStorageDevice& device, std::uint64_t mftSector,
                               std::uint32_t recordSize, char label[80]);
// Reads record 3 through the boot sector's $MFT position; 1 with the label written, else 0.
int ReadNtfsVolumeLabel(IStorageDevice& device, std::uint64_t partitionFirst, const CNTFSDBR& dbr,
                        char label[80]);
