#include "filesystems/ntfs/NtfsAttributeData.h"

#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <cstring>
#include <limits>
#include <vector>

namespace {

// The file's base record, read and attached with its extension records.
class CFileRecord {
public:
    bool Read(IStorageDevice* device, CFileNode* node) {
        if (!device || !node)
            return false;
        const auto* props = dynamic_cast<const CNTFSFileProperties*>(node->m_pProperties.get());
        if (!props || (props->GetAttributes() & FILEATTR_DIRECTORY))
            return false;
        m_bytes.assign(kNtfsRecordSize, 0);
        if (device->ReadSectors(m_bytes.data(), props->GetRecordSector(), kNtfsSectorsPerRecord) != 1)
            return false;
        if (!m_view.Attach(m_bytes.data(), m_bytes.size(), static_cast<std::int64_t>(props->GetRecordSector()),
                           device))
            return false;
        if (const NtfsExtensionList* ext = props->GetExtensionRecords())
            m_view.SetExtensions(*ext);
        return true;
    }
    MftRecordView& View() { return m_view; }

private:
    std::vector<std::uint8_t> m_bytes;
    MftRecordView m_view; // declared after the bytes it points into
};

} // namespace

int ReadResidentFileData(IStorageDevice* device, CFileNode* node, std::uint64_t* length,
                         std::uint8_t* buffer) {
    if (!length || !buffer)
        return 0;
    *length = 0;
    CFileRecord record;
    if (!record.Read(device, node))
        return 0;
    int result = 0;
    ForEachFileDataAttribute(
        [&](std::uint32_t type, int i) { return record.View().FindAttributeEx(type, i); },
        [&](const MftRecordView::AttrRef& ref) {
            // The first unnamed $DATA decides: it must hold the data itself.
            if (ref.attr.NonResident())
                return false;
            const ByteSpan value = ref.attr.Value();
            const std::size_t n = value.size();
            if (n > kNtfsMaxResidentData)
                return false;
            std::memcpy(buffer, value.data(), n);
            *length = n;
            result = 1;
            return false;
        });
    return result;
}

int ReadAttributeData(std::uint8_t* buffer, CFileNode* node, IStorageDevice* device,
                      std::uint64_t* length) {
    if (!length || !buffer)
        return 0;
    *length = 0;
    CFileRecord record;
    if (!record.Read(device, node))
        return 0;
    const auto ref = record.View().FindAttributeEx(kNtfsAttrLoggedUtilityStream, 0);
    if (!ref.attr)
        return 0;
    std::uint64_t size = 0;
    if (!ref.attr.NonResident()) {
        const ByteSpan value = ref.attr.Value();
        size = value.size();
        if (size > kNtfsMaxEfsStream)
            return 0;
        std::memcpy(buffer, value.data(), static_cast<std::size_t>(size));
    } else {
        size = ref.attr.DataSize();
        std::uint64_t firstSector = 0;
        std::uint32_t spc = 0;
        if (size > kNtfsMaxEfsStream || !node->GetFileSystemInfo(&firstSector, &spc) || spc == 0 ||
            spc > kNtfsMaxSectorsPerCluster)
            return 0;
        const ByteSpan pairs = ref.attr.MappingPairs();
        NtfsExtentList extents;
        if (!DecodeMappingPairs(pairs.data(), pairs.size(), extents))
            return 0; // a damaged run list is never read as far as it happens to decode
        std::vector<std::uint8_t> bytes(kNtfsMaxEfsStream);
        const std::uint64_t clusterBytes = std::uint64_t(spc) * kSectorSize;
        std::uint64_t have = 0;
        for (const NtfsExtent& e : extents) {
            if (have >= size)
                break;
            // Only whole runs that fit; a sparse run, a run past the limit or a failed read ends it.
            if (e.lcn < 0 || e.count > (bytes.size() - have) / clusterBytes ||
                static_cast<std::uint64_t>(e.lcn) > (std::numeric_limits<std::uint64_t>::max() - firstSector) / spc)
                return 0;
            const std::uint64_t sectors = e.count * spc;
            const std::uint64_t first = firstSector + static_cast<std::uint64_t>(e.lcn) * spc;
            if (device->ReadSectors(bytes.data() + have, first, sectors) != 1)
                return 0;
            have += sectors * kSectorSize;
        }
        if (have < size)
            return 0;
        std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(size));
    }
    const ByteSpan stream(buffer, static_cast<std::size_t>(size));
    if (size < 8 || stream.u32(0) != size || stream.u32(4) != 0)
        return 0;
    *length = size;
    return 1;
}
