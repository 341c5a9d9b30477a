#include "carving/analysers/FileICOAnalyser.h"

namespace {
constexpr std::uint32_t kMaxImages = 16;
constexpr std::uint32_t kMaxImageField = 0xA00000;   // image bytes and offset of one entry
constexpr std::uint64_t kMaxTotal = 0x100000;        // the whole file
constexpr std::size_t kDirectory = 6, kEntrySize = 16;
} // namespace

int FileICOAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    const std::uint16_t kind = s.u16(2); // 1 icon, 2 cursor
    if (s.u16(0) != 0 || (kind != 1 && kind != 2))
        return 0;
    const std::uint32_t count = s.u16(4);
    if (count < 1 || count > kMaxImages)
        return 0;
    // A width or height byte of 0 stands for 256 pixels (what icons with a 256-px PNG image
    // hold). Every image has bytes and lies behind the directory, inside the file.
    const std::uint64_t imagesAt = kDirectory + kEntrySize * count;
    std::uint64_t total = kDirectory;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t e = kDirectory + kEntrySize * i;
        if (s.u8(e + 3) != 0 || s.u16(e + 6) > 256)
            return 0;
        const std::uint32_t bytes = s.u32(e + 8), offset = s.u32(e + 12);
        if (bytes == 0 || bytes > kMaxImageField || offset < imagesAt || offset > kMaxImageField)
            return 0;
        total += kEntrySize + bytes;
    }
    if (total > kMaxTotal)
        return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t e = kDirectory + kEntrySize * i;
        if (std::uint64_t(s.u32(e + 12)) + s.u32(e + 8) > total)
            return 0;
    }
    record->m_u32FileType = kind == 1 ? kTypeId : kCursorTypeId;
    record->m_u64Size = total;
    return 1;
}
