#include "filesystems/ntfs/NtfsVolumeReader.h"

#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsInternal.h"
#include "logging/Log.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstring>

using ntfs_detail::IsPowerOfTwoUpTo128;
using ntfs_detail::MulAdd;

bool ReadNtfsBootSector(IStorageDevice& device, std::uint64_t sector, CNTFSDBR& out) {
    std::uint8_t buf[kSectorSize];
    if (!device.ReadSectors(buf, sector, 1))
        return false;
    return out.SetData(buf);
}

NtfsExtensionList ReadAttributeListEntries(std::uint8_t* rec, std::size_t len,
                                           std::uint64_t partitionFirst,
                                           std::uint32_t sectorsPerCluster, IStorageDevice* device) {
    NtfsExtensionList out;
    if (!ValidateFileRecord(rec, len))
        return out;
    bool applied = ApplyFixups(rec, len);
    const NtfsAttributeView a = FindAttribute(rec, len, kNtfsAttrAttributeList, 0);
    if (a && !a.NonResident()) {
        const ByteSpan value = a.Value();
        out = ParseAttributeListValue(value.data(), value.size());
    } else if (a && device && IsPowerOfTwoUpTo128(sectorsPerCluster)) {
        std::uint64_t allocated = a.AllocatedSize(), initialized = a.InitializedSize();
        const ByteSpan pairs = a.MappingPairs();
        NtfsExtentList runs;
        if (initialized != 0 && initialized <= allocated && a.PairsOffset() < a.Length() &&
            DecodeMappingPairs(pairs.data(), pairs.size(), runs)) {
            std::uint64_t capped = std::min<std::uint64_t>(allocated, kNtfsMaxAttributeListBytes);
            std::uint64_t bufSectors = (capped + kSectorSize - 1) / kSectorSize;
            std::vector<std::uint8_t> buf(bufSectors * kSectorSize, 0);
            std::uint64_t at = 0; // sectors filled so far
            unsigned failed = 0;
            for (const auto& r : runs) {
                std::uint64_t n;
                if (__builtin_mul_overflow(r.count, std::uint64_t{sectorsPerCluster}, &n) ||
                    n > bufSectors - at)
                    break;
                std::uint64_t start;
                if (r.lcn >= 0 &&
                    MulAdd(static_cast<std::uint64_t>(r.lcn), sectorsPerCluster, partitionFirst, &start) &&
                    !device->ReadSectors(buf.data() + at * kSectorSize, start, n)) {
                    std::memset(buf.data() + at * kSectorSize, 0, n * kSectorSize);
                    ++failed;
                }
                at += n;
            }
            if (failed)
                LogWarning("NTFS: %u unreadable piece(s) of an attribute list left empty", failed);
            out = ParseAttributeListValue(buf.data(), std::min<std::uint64_t>(initialized, at * kSectorSize));
        }
    }
    if (applied)
        UndoFixups(rec, len);
    return out;
}

MftRecordView::~MftRecordView() { Release(); }

bool MftRecordView::Attach(std::uint8_t* rec, std::size_t len, std::int64_t sector,
                           IStorageDevice* device) {
    Release();
    if (!ValidateAndFixFileRecord(rec, len, &m_fixupsApplied, &m_attributes))
        return false;
    m_rec = rec;
    m_len = len;
    m_sector = sector;
    m_device = device;
    return true;
}

void MftRecordView::Release() {
    if (m_rec && m_fixupsApplied)
        UndoFixups(m_rec, m_len);
    m_rec = nullptr;
    m_len = 0;
    m_sector = -1;
    m_fixupsApplied = false;
    m_baseRecord = -1;
    m_extensions.clear();
    m_loaded.clear();
    m_attributes.Clear();
}

NtfsAttributeView MftRecordView::FindBaseAttribute(std::uint32_t type, int n) const {
    if (!m_rec || n < 0)
        return NtfsAttributeView();
    if (!m_attributes.Complete())
        return FindAttribute(m_rec, m_len, type, n);
    // Every listed attribute passed ValidateAttribute when the record was attached.
    for (std::uint32_t i = 0; i < m_attributes.Count(); ++i)
        if (m_attributes.Type(i) == type && n-- == 0)
            return m_attributes.At(m_rec, m_len, i);
    return NtfsAttributeView();
}

int MftRecordView::CountBaseAttributes(std::uint32_t type) const {
    if (!m_attributes.Complete())
        return CountAttributes(m_rec, m_len, type);
    int count = 0;
    for (std::uint32_t i = 0; i < m_attributes.Count(); ++i)
        count += m_attributes.Type(i) == type;
    return count;
}

MftRecordView::AttrRef MftRecordView::FindAttributeEx(std::uint32_t type, int n) {
    AttrRef ref;
    if (!m_rec || n < 0)
        return ref;
    const int inBase = m_extensions.empty() ? n + 1 : CountBaseAttributes(type);
    if (n < inBase) {
        ref.attr = FindBaseAttribute(type, n);
        if (ref.attr) {
            ref.offset = static_cast<std::uint32_t>(ref.attr.Data() - m_rec);
            ref.sector = m_sector;
        }
        return ref;
    }
    int k = n - inBase;
    if (m_loaded.size() < m_extensions.size())
        m_loaded.resize(m_extensions.size());
    for (std::size_t i = 0; i < m_extensions.size(); ++i) {
        Extension& ext = m_loaded[i];
        if (!ext.loaded) {
            ext.loaded = true;
            ext.bytes.assign(kNtfsRecordSize, 0);
            if (m_device && m_extensions[i].sector >= 0 &&
                m_device->ReadSectors(ext.bytes.data(), static_cast<std::uint64_t>(m_extensions[i].sector),
                                      kNtfsSectorsPerRecord) &&
                ValidateFileRecord(ext.bytes.data(), ext.bytes.size())) {
                ApplyFixups(ext.bytes.data(), ext.bytes.size());
                const std::uint64_t base =
                    NtfsRecordNumber(ByteSpan(ext.bytes.data(), ext.bytes.size()).u64(0x20));
                ext.valid = m_baseRecord < 0 || base == static_cast<std::uint64_t>(m_baseRecord);
            }
        }
        if (!ext.valid)
            continue;
        int c = CountAttributes(ext.bytes.data(), ext.bytes.size(), type);
        if (k < c) {
            ref.attr = FindAttribute(ext.bytes.data(), ext.bytes.size(), type, k);
            if (ref.attr) {
                ref.offset = static_cast<std::uint32_t>(ref.attr.Data() - ext.bytes.data());
                ref.sector = m_extensions[i].sector;
            }
            return ref;
        }
        k -= c;
    }
    return ref;
}

bool ReadNtfsVolumeRecordLabel(IStorageDevice& device, std::uint64_t mftSector,
                               std::uint32_t recordSize, char label[80]) {
    if (recordSize == 0 || recordSize % kSectorSize != 0)
        return false;
    const std::uint32_t sectors = recordSize / kSectorSize;
    std::uint64_t sector;
    if (__builtin_add_overflow(mftSector, std::uint64_t{3} * sectors, &sector) ||
        sector > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    std::vector<std::uint8_t> rec(recordSize, 0);
    if (!device.ReadSectors(rec.data(), sector, sectors))
        return false;
    return ReadNtfsVolumeName(rec.data(), rec.size(), label);
}

int ReadNtfsVolumeLabel(IStorageDevice& device, std::uint64_t partitionFirst, const CNTFSDBR& dbr,
                        char label[80]) {
    if (!dbr.HasSupportedGeometry())
        return 0;
    std::uint64_t mftSector;
    if (!MulAdd(dbr.GetMftCluster(), dbr.GetSectorsPerCluster(), partitionFirst, &mftSector))
        return 0;
    return ReadNtfsVolumeRecordLabel(device, mftSector, dbr.GetFileRecordSize(), label) ? 1 : 0;
}
