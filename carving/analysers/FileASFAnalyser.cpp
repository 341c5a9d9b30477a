#include "carving/analysers/FileASFAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

const std::uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::uint8_t kDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// The objects that may follow the data object at top level: the simple index (one per video
// stream), the index, the media object index and the timecode index.
const std::uint8_t kIndexObjects[4][16] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49,
     0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4,
     0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F,
     0x0C},
};
constexpr std::uint64_t kObjectHead = 24; // GUID, u64 size
constexpr int kMaxObjects = 1000;

bool IsIndexObject(const std::uint8_t* guid) {
    for (const auto& g : kIndexObjects)
        if (std::memcmp(guid, g, 16) == 0)
            return true;
    return false;
}

} // namespace

int FileASFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kHeaderObject, sizeof(kHeaderObject)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = 0;
    return 1;
}

// The header object, the data object, then any index objects; each object's whole head (GUID
// and 64-bit size) is read, and a size smaller than that head or one that would overflow ends
// the walk.
int FileASFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    for (int k = 0; k < kMaxObjects; ++k) {
        ByteSpan head = reader.Read(x, kObjectHead);
        if (head.empty()) {
            if (k < 2 || reader.IsWindow())
                return 0;
            break; // the device ends behind the data object or an index
        }
        const std::uint8_t* guid = head.data();
        const bool expected = k == 0   ? std::memcmp(guid, kHeaderObject, 16) == 0
                              : k == 1 ? std::memcmp(guid, kDataObject, 16) == 0
                                       : IsIndexObject(guid);
        if (!expected) {
            if (k < 2)
                return 0;
            break; // the file ends behind the data object or its last index
        }
        const std::uint64_t size = head.u64(16);
        if (size < kObjectHead) {
            if (k < 2)
                return 0;
            break;
        }
        if (size > limit || x + size > limit) {
            x = size > ~0ull - x ? ~0ull : x + size;
            break;
        }
        x += size;
    }
    record->m_u64Size = x;
    return 1;
}
