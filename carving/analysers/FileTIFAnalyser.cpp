#include "carving/analysers/FileTIFAnalyser.h"

#include "carving/analysers/AnalyserCalls.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {

const std::uint8_t kLittle[4] = {'I', 'I', 0x2A, 0x00};
const std::uint8_t kBig[4] = {'M', 'M', 0x00, 0x2A};

constexpr std::uint32_t kMaxEntries = 512;         // entries of one directory
constexpr std::size_t kMaxDirectories = 4096;      // directories of one file (pages, sub-images)
constexpr std::uint64_t kMaxPieces = 1u << 20;     // strips or tiles of one directory
constexpr std::size_t kValueChunk = 4096;          // table values read at a time

constexpr std::uint16_t kTagStripOffsets = 273, kTagStripByteCounts = 279;
constexpr std::uint16_t kTagTileOffsets = 324, kTagTileByteCounts = 325;
constexpr std::uint16_t kTagSubIfds = 330, kTagExifIfd = 34665, kTagGpsIfd = 34853;

std::uint64_t TypeSize(std::uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE ASCII SBYTE UNDEFINED
    case 3: case 8: return 2;                  // SHORT SSHORT
    case 4: case 9: case 11: case 13: return 4; // LONG SLONG FLOAT IFD
    case 5: case 10: case 12: return 8;        // RATIONAL SRATIONAL DOUBLE
    default: return 0;                         // unknown types are skipped, as readers do
    }
}

// One directory entry: tag, type, count and the raw 4-byte value field.
struct Entry {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    std::uint8_t value[4] = {};
};

class TiffWalk {
public:
    TiffWalk(IStorageDevice* device, std::uint64_t firstSector, bool bigEndian, std::uint64_t limit)
        : m_reader(device, firstSector), m_big(bigEndian), m_limit(limit) {}

    const RawFileReader& Reader() const { return m_reader; }

    std::uint16_t U16(const std::uint8_t* p) const {
        return m_big ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(const std::uint8_t* p) const {
        return m_big ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]
                     : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }

    // Walks the directory at `offset`. Adds to *end the end of everything it places (itself,
    // values stored out of line, strips, tiles) and appends the directories it links to.
    // False when the directory is damaged or cannot be read.
    bool Directory(std::uint64_t offset, std::uint64_t* end, bool* hasData,
                   std::vector<std::uint64_t>* next) {
        if (offset < 8 || offset > m_limit)
            return false;
        ByteSpan head = m_reader.Read(offset, 2);
        if (head.empty())
            return false;
        const std::uint32_t n = U16(head.data());
        if (n == 0 || n > kMaxEntries)
            return false;
        std::vector<Entry> entries(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            ByteSpan e = m_reader.Read(offset + 2 + 12ull * i, 12);
            if (e.empty())
                return false;
            entries[i].tag = U16(e.data());
            entries[i].type = U16(e.data() + 2);
            entries[i].count = U32(e.data() + 4);
            std::memcpy(entries[i].value, e.data() + 8, 4);
        }
        const std::uint64_t linkAt = offset + 2 + 12ull * n;
        ByteSpan link = m_reader.Read(linkAt, 4);
        if (link.empty())
            return false;
        std::uint64_t last = linkAt + 4;

        const Entry *stripOffsets = nullptr, *stripCounts = nullptr;
        const Entry *tileOffsets = nullptr, *tileCounts = nullptr;
        for (const Entry& e : entries) {
            const std::uint64_t bytes = TypeSize(e.type) * e.count;
            // Values stored out of line; one that would reach past the cap is a damaged entry
            // (readers skip what they do not know) and does not stretch the file.
            if (bytes > 4 && U32(e.value) + bytes <= m_limit)
                last = std::max(last, U32(e.value) + bytes);
            switch (e.tag) {
            case kTagStripOffsets: stripOffsets = &e; break;
            case kTagStripByteCounts: stripCounts = &e; break;
            case kTagTileOffsets: tileOffsets = &e; break;
            case kTagTileByteCounts: tileCounts = &e; break;
            case kTagExifIfd:
            case kTagGpsIfd:
            case kTagSubIfds:
                // Links of an unusual type are passed over; they do not spoil the directory.
                Values(e, 0, std::min<std::uint64_t>(e.count, 64), [&](std::uint64_t, std::uint32_t v) {
                    if (v)
                        next->push_back(v);
                });
                break;
            default:
                break;
            }
        }
        if (stripOffsets || stripCounts) {
            if (!Pieces(stripOffsets, stripCounts, &last))
                return false;
            *hasData = true;
        }
        if (tileOffsets || tileCounts) {
            if (!Pieces(tileOffsets, tileCounts, &last))
                return false;
            *hasData = true;
        }
        *end = std::max(*end, last);
        if (const std::uint32_t following = U32(link.data()))
            next->push_back(following);
        return true;
    }

private:
    // Calls f(index, value) for values [first, first + count) of a SHORT or LONG entry, from the
    // entry itself when they fit in it, otherwise from the table its value field points to.
    template <typename F>
    bool Values(const Entry& e, std::uint64_t first, std::uint64_t count, F&& f) {
        const std::uint64_t size = e.type == 3 ? 2 : e.type == 4 || e.type == 13 ? 4 : 0;
        if (size == 0 || first + count > e.count)
            return false;
        const std::uint64_t bytes = size * e.count;
        if (bytes > m_limit)
            return false;
        const auto decode = [&](const std::uint8_t* p) {
            return size == 2 ? std::uint32_t(U16(p)) : U32(p);
        };
        if (bytes <= 4) {
            for (std::uint64_t i = first; i < first + count; ++i)
                f(i, decode(e.value + size * i));
            return true;
        }
        const std::uint64_t table = U32(e.value);
        std::uint64_t i = first;
        while (i < first + count) {
            ByteSpan s = m_reader.Read(table + size * i);
            if (s.size() < size)
                return false;
            const std::uint64_t here = std::min<std::uint64_t>(s.size() / size, first + count - i);
            for (std::uint64_t k = 0; k < here; ++k, ++i)
                f(i, decode(s.data() + size * k));
        }
        return true;
    }

    // Strips or tiles: the end of the furthest one. Both tables must be there and list the
    // same number of pieces; a piece without an offset has nowhere to end.
    bool Pieces(const Entry* offsets, const Entry* counts, std::uint64_t* last) {
        if (!offsets || !counts || offsets->count != counts->count || counts->count == 0 ||
            counts->count > kMaxPieces)
            return false;
        // Read both tables a chunk at a time, so that tables far apart cost one device read per
        // chunk and not one per value.
        std::vector<std::uint32_t> where(std::min<std::uint64_t>(counts->count, kValueChunk));
        for (std::uint64_t first = 0; first < counts->count; first += kValueChunk) {
            const std::uint64_t n = std::min<std::uint64_t>(kValueChunk, counts->count - first);
            if (!Values(*offsets, first, n, [&](std::uint64_t i, std::uint32_t v) { where[i - first] = v; }))
                return false;
            if (!Values(*counts, first, n, [&](std::uint64_t i, std::uint32_t v) {
                    if (v)
                        *last = std::max(*last, std::uint64_t(where[i - first]) + v);
                }))
                return false;
        }
        return true;
    }

    RawFileReader m_reader;
    bool m_big;
    std::uint64_t m_limit;
};

} // namespace

int FileTIFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kLittle, 4) != 0 && std::memcmp(sector, kBig, 4) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileTIFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    return GuardedCall(kAnalyserSizeSite, kTypeId, [&]() -> int {
        RawFileReader probe(device, record->m_u64StartSector);
        ByteSpan head = probe.Read(0, 8);
        if (head.empty())
            return 0;
        const bool little = head.matches(0, kLittle, 4), big = head.matches(0, kBig, 4);
        if (!little && !big)
            return 1;
        TiffWalk walk(device, record->m_u64StartSector, big, GetScanOptions().MaxRawFileSize);
        const std::uint32_t first = walk.U32(head.data() + 4);

        // The first directory must be sound and place image data; the directories it links to
        // (further pages, sub-images, Exif) extend the file while they are sound.
        std::vector<std::uint64_t> pending{first};
        std::set<std::uint64_t> seen;
        std::uint64_t end = 8;
        bool hasData = false;
        for (std::size_t k = 0; k < pending.size() && seen.size() < kMaxDirectories; ++k) {
            const std::uint64_t at = pending[k];
            if (!seen.insert(at).second)
                continue; // a chain that loops
            std::uint64_t dirEnd = end;
            bool dirData = false;
            std::vector<std::uint64_t> links;
            const bool ok = walk.Directory(at, &dirEnd, &dirData, &links);
            if (k == 0 && (!ok || !dirData)) {
                record->m_u64Size = 0;
                return 1;
            }
            if (!ok) {
                // In the RAW search's ring an unreadable directory may simply lie outside the
                // window: leave the file to be sized on the device.
                if (walk.Reader().IsWindow())
                    return 0;
                continue;
            }
            end = dirEnd;
            hasData = hasData || dirData;
            if (pending.size() < 4 * kMaxDirectories)
                pending.insert(pending.end(), links.begin(), links.end());
        }
        record->m_u64Size = hasData ? end : 0;
        return 1;
    }, 0);
}
