#include "filesystems/ntfs/NtfsStructures.h"

#include "logging/Log.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <set>

// ---------------------------------------------------------------------------------------------
// Byte helpers.

std::uint16_t NtfsRd16(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t NtfsRd32(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint64_t NtfsRd64(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint64_t>(NtfsRd32(b)) | (static_cast<std::uint64_t>(NtfsRd32(b + 4)) << 32);
}

void NtfsWr16(void* p, std::uint16_t v) {
    auto* b = static_cast<std::uint8_t*>(p);
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = static_cast<std::uint8_t>(v >> 8);
}

std::string NtfsNameToNarrow(const void* utf16le, std::size_t units) {
    const auto* b = static_cast<const std::uint8_t*>(utf16le);
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = NtfsRd16(b + 2 * i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            std::uint32_t lo = NtfsRd16(b + 2 * (i + 1));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            out += '_';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

bool IsPowerOfTwoUpTo128(std::uint32_t n) {
    return n >= 1 && n <= 128 && (n & (n - 1)) == 0;
}

// a * b + c without wrapping; false on overflow.
bool MulAdd(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t* out) {
    std::uint64_t m;
    if (__builtin_mul_overflow(a, b, &m))
        return false;
    return !__builtin_add_overflow(m, c, out);
}

std::uint64_t ReadLe(const std::uint8_t* p, unsigned width) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

std::int64_t ReadLeSigned(const std::uint8_t* p, unsigned width) {
    std::uint64_t v = ReadLe(p, width);
    if (width < 8 && (p[width - 1] & 0x80))
        v |= ~std::uint64_t{0} << (8 * width);
    return static_cast<std::int64_t>(v);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Boot sector.

bool IsNtfsOemId(const void* sector512) {
    const auto* s = static_cast<const std::uint8_t*>(sector512);
    static const char kOem[] = "NTFS    ";
    for (int i = 0; i < 8; ++i) {
        std::uint8_t c = s[3 + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<std::uint8_t>(c - 'a' + 'A');
        if (c != static_cast<std::uint8_t>(kOem[i]))
            return false;
    }
    return true;
}

bool IsNTFSBootSector(const void* sector512) {
    const auto* s = static_cast<const std::uint8_t*>(sector512);
    if (!IsNtfsOemId(s))
        return false;
    if (NtfsRd16(s + 0x0B) != 512 || NtfsRd16(s + 0x0E) != 0)
        return false;
    if (!IsPowerOfTwoUpTo128(s[0x0D]))
        return false;
    for (int i = 0x10; i <= 0x14; ++i)
        if (s[i] != 0)
            return false;
    if (s[0x16] != 0 || s[0x17] != 0)
        return false;
    for (int i = 0x20; i <= 0x23; ++i)
        if (s[i] != 0)
            return false;
    return s[0x1FE] == 0x55 && s[0x1FF] == 0xAA;
}

bool CNTFSDBR::SetData(const void* sector512) {
    if (!IsNTFSBootSector(sector512))
        return false;
    std::memcpy(m_data, sector512, sizeof m_data);
    return true;
}

void CNTFSDBR::Clear() { std::memset(m_data, 0, sizeof m_data); }

std::uint32_t CNTFSDBR::GetFileRecordSize() const {
    auto c = static_cast<std::int8_t>(m_data[0x40]);
    if (c < 0)
        return -c <= 31 ? (std::uint32_t{1} << -c) : 0;
    if (c > 0)
        return static_cast<std::uint32_t>(c) * GetSectorsPerCluster() * GetBytesPerSector();
    return 1024;
}

bool CNTFSDBR::HasSupportedGeometry() const {
    return GetBytesPerSector() == kSectorSize && IsPowerOfTwoUpTo128(GetSectorsPerCluster()) &&
           GetFileRecordSize() == kNtfsRecordSize;
}

bool ReadNtfsBootSector(IStorageDevice& device, std::uint64_t sector, CNTFSDBR& out) {
    std::uint8_t buf[kSectorSize];
    if (!device.ReadSectors(buf, sector, 1))
        return false;
    return out.SetData(buf);
}

// ---------------------------------------------------------------------------------------------
// FILE records.

bool CheckFileRecordHeader(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x30)
        return false;
    if (NtfsRd32(rec) != 0x454C4946u)
        return false;
    std::uint32_t usaOffset = NtfsRd16(rec + 4);
    std::uint32_t usaCount = NtfsRd16(rec + 6);
    if (usaCount > 16 || (usaCount >= 1 && usaCount - 1 > len / kSectorSize))
        return false;
    if (usaOffset < 42 || usaOffset > 256)
        return false;
    return usaOffset + 2u * usaCount <= len;
}

namespace {
// Fix-up geometry shared by the three fix-up operations; false when it does not fit in `len`.
bool FixupGeometry(const std::uint8_t* rec, std::size_t len, std::uint32_t* usaOffset,
                   std::uint32_t* count) {
    if (!rec || len < 8)
        return false;
    *usaOffset = NtfsRd16(rec + 4);
    *count = NtfsRd16(rec + 6);
    if (*count <= 1)
        return true;
    return *usaOffset + 2ull * *count <= len && (*count - 1ull) * kSectorSize <= len;
}
} // namespace

bool VerifyFixups(const std::uint8_t* rec, std::size_t len) {
    std::uint32_t off, count;
    if (!FixupGeometry(rec, len, &off, &count))
        return false;
    if (count <= 1)
        return true;
    std::uint16_t usn = NtfsRd16(rec + off);
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        if (NtfsRd16(rec + (i + 1) * kSectorSize - 2) != usn)
            return false;
    return true;
}

bool ApplyFixups(std::uint8_t* rec, std::size_t len) {
    if (!VerifyFixups(rec, len))
        return false;
    std::uint32_t off = NtfsRd16(rec + 4), count = NtfsRd16(rec + 6);
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        std::memcpy(rec + (i + 1) * kSectorSize - 2, rec + off + 2 * (i + 1), 2);
    return true;
}

void UndoFixups(std::uint8_t* rec, std::size_t len) {
    std::uint32_t off, count;
    if (!FixupGeometry(rec, len, &off, &count) || count <= 1)
        return;
    for (std::uint32_t i = 0; i + 1 < count; ++i) {
        std::uint8_t* end = rec + (i + 1) * kSectorSize - 2;
        std::memcpy(rec + off + 2 * (i + 1), end, 2);
        std::memcpy(end, rec + off, 2);
    }
}

namespace {
// Calls fn(attr, bytesLeft) for each attribute until the end marker, a 0 length, an attribute
// running past `len`, or fn returning false.
template <typename Fn>
void WalkAttributes(const std::uint8_t* rec, std::size_t len, Fn fn) {
    if (!rec || len < 0x18)
        return;
    std::size_t off = NtfsRd16(rec + 0x14);
    while (off < len - 8) {
        std::uint32_t type = NtfsRd32(rec + off);
        if (type == kNtfsAttrEnd)
            return;
        std::uint32_t alen = NtfsRd32(rec + off + 4);
        if (alen == 0 || alen > len - off)
            return;
        if (!fn(rec + off, len - off))
            return;
        off += alen;
    }
}
} // namespace

bool ValidateFileRecord(std::uint8_t* rec, std::size_t len) {
    if (!CheckFileRecordHeader(rec, len))
        return false;
    bool applied = ApplyFixups(rec, len);
    bool ok = true;
    std::size_t off = NtfsRd16(rec + 0x14);
    while (off < len - 8) {
        const std::uint8_t* a = rec + off;
        std::uint32_t type = NtfsRd32(a);
        if (type == kNtfsAttrEnd)
            break;
        std::uint32_t alen = NtfsRd32(a + 4);
        if (alen == 0)
            break;
        if (!ValidateAttribute(a, len - off)) {
            ok = false;
            break;
        }
        if (type == kNtfsAttrFileName) {
            NtfsFileNameView fn;
            if (!ReadFileNameAttr(a, fn) || !IsValidNtfsName(fn.name, fn.nameLength)) {
                ok = false;
                break;
            }
        }
        off += alen;
    }
    if (applied)
        UndoFixups(rec, len);
    return ok;
}

std::uint16_t GetRecordFlags(const std::uint8_t* rec) { return NtfsRd16(rec + 0x16); }

bool IsExtensionRecord(const std::uint8_t* rec, std::size_t len) {
    return rec && len >= 0x28 && NtfsRd64(rec + 0x20) != 0;
}

std::int64_t GetHeaderRecordNumber(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x30)
        return -1;
    if (NtfsRd16(rec + 4) < 48 || NtfsRd16(rec + 0x2A) != 0)
        return -1;
    return NtfsRd32(rec + 0x2C);
}

const std::uint8_t* FindAttribute(const std::uint8_t* rec, std::size_t len, std::uint32_t type,
                                  int n) {
    const std::uint8_t* found = nullptr;
    WalkAttributes(rec, len, [&](const std::uint8_t* a, std::size_t left) {
        if (NtfsRd32(a) == type && ValidateAttribute(a, left) && n-- == 0) {
            found = a;
            return false;
        }
        return true;
    });
    return found;
}

int CountAttributes(const std::uint8_t* rec, std::size_t len, std::uint32_t type) {
    int count = 0;
    WalkAttributes(rec, len, [&](const std::uint8_t* a, std::size_t left) {
        if (NtfsRd32(a) == type && ValidateAttribute(a, left))
            ++count;
        return true;
    });
    return count;
}

bool ValidateAttribute(const std::uint8_t* attr, std::size_t bytesLeft) {
    if (!attr || bytesLeft <= 15)
        return false;
    std::uint32_t alen = NtfsRd32(attr + 4);
    if (alen > bytesLeft)
        return false;
    std::uint32_t type = NtfsRd32(attr);
    if (attr[8] != 0) {
        if (alen < 0x40)
            return false;
        std::uint32_t po = AttrPairsOffset(attr);
        if (po > alen)
            return false;
        if (type == kNtfsAttrData && !ValidateMappingPairs(attr + po, alen - po))
            return false;
        if (type == kNtfsAttrFileName)
            return false; // names are always resident
        return true;
    }
    if (alen < 0x18)
        return false;
    std::uint64_t vo = AttrValueOffset(attr), vl = AttrValueLength(attr);
    if (vo + vl > alen)
        return false;
    if (type == kNtfsAttrFileName) {
        if (vl < 0x42)
            return false;
        std::uint8_t units = attr[vo + 0x40];
        if (0x42u + 2u * units > vl)
            return false;
    }
    return true;
}

bool ValidateMappingPairs(const std::uint8_t* pairs, std::size_t len) {
    std::size_t pos = 0;
    while (pos < len) {
        std::uint8_t h = pairs[pos];
        if (h == 0)
            return true;
        unsigned cw = h & 0x0F, ow = h >> 4;
        if (cw == 0 || cw > 8 || ow > 8)
            return false;
        pos += 1 + cw + ow;
        if (pos > len)
            return false;
    }
    return false;
}

bool IsValidNtfsName(const void* utf16le, std::size_t units) {
    const auto* b = static_cast<const std::uint8_t*>(utf16le);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint16_t c = NtfsRd16(b + 2 * i);
        if (c == 0)
            break;
        switch (c) {
        case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
            return false;
        default:
            break;
        }
    }
    return true;
}

bool HasIndexAllocation(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x18 || !(GetRecordFlags(rec) & kNtfsRecordDirectory))
        return false;
    const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrIndexAllocation, 0);
    return a && AttrNonResident(a);
}

bool ReadFileNameAttr(const std::uint8_t* attr, NtfsFileNameView& out) {
    if (!attr || AttrNonResident(attr) || AttrType(attr) != kNtfsAttrFileName)
        return false;
    std::uint32_t vl = AttrValueLength(attr);
    if (vl < 0x42)
        return false;
    const std::uint8_t* v = AttrValue(attr);
    if (0x42u + 2u * v[0x40] > vl)
        return false;
    out.parent = NtfsRd64(v) & 0x0000FFFFFFFFFFFFull;
    out.creationTime = NtfsRd64(v + 0x08);
    out.realSize = NtfsRd64(v + 0x30);
    out.flags = NtfsRd32(v + 0x38);
    out.nameLength = v[0x40];
    out.nameSpace = std::min<std::uint8_t>(v[0x41], 4);
    out.name = v + 0x42;
    return true;
}

bool ReadStdInfoAttr(const std::uint8_t* attr, NtfsStdInfoView& out) {
    if (!attr || AttrNonResident(attr) || AttrType(attr) != kNtfsAttrStandardInformation)
        return false;
    if (AttrLength(attr) < AttrValueOffset(attr) + 40u || AttrValueLength(attr) < 0x24)
        return false;
    const std::uint8_t* v = AttrValue(attr);
    out.creationTime = NtfsRd64(v);
    out.lastWriteTime = NtfsRd64(v + 0x08);
    out.lastAccessTime = NtfsRd64(v + 0x18);
    out.fileAttributes = NtfsRd32(v + 0x20);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Runs and extents.

void DecodeDataRuns(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out) {
    std::size_t pos = 0;
    std::uint64_t vcn = 0, lcn = 0;
    while (pos < len) {
        std::uint8_t h = pairs[pos];
        if (h == 0)
            break;
        unsigned cw = h & 0x0F, ow = h >> 4;
        if (cw > 8 || ow > 8 || pos + 1 + cw + ow > len)
            break;
        std::uint64_t count = ReadLe(pairs + pos + 1, cw);
        if (ow) {
            lcn += static_cast<std::uint64_t>(ReadLeSigned(pairs + pos + 1 + cw, ow));
            out.push_back({static_cast<std::int64_t>(lcn), vcn, count});
        } else {
            out.push_back({-1, vcn, count});
        }
        vcn += count;
        pos += 1 + cw + ow;
    }
}

bool CollectAttributeRuns(const std::uint8_t* attr, std::size_t bytesLeft, NtfsExtentList& out,
                          std::uint64_t* lowestVcn, std::uint64_t* dataSize) {
    if (!ValidateAttribute(attr, bytesLeft) || !AttrNonResident(attr) || AttrNameLength(attr) != 0)
        return false;
    std::uint32_t po = AttrPairsOffset(attr), alen = AttrLength(attr);
    if (!ValidateMappingPairs(attr + po, alen - po))
        return false;
    NtfsExtentList runs;
    DecodeDataRuns(attr + po, alen - po, runs);
    std::uint64_t low = AttrLowestVcn(attr);
    for (auto& e : runs) {
        e.vcn += low;
        out.push_back(e);
    }
    if (lowestVcn)
        *lowestVcn = low;
    if (dataSize)
        *dataSize = AttrDataSize(attr);
    return true;
}

std::uint64_t SumRunCounts(const std::uint8_t* pairs, std::size_t len) {
    NtfsExtentList runs;
    DecodeDataRuns(pairs, len, runs);
    return GetTotalClusters(runs);
}

void SortExtents(NtfsExtentList& extents) {
    std::stable_sort(extents.begin(), extents.end(),
                     [](const NtfsExtent& a, const NtfsExtent& b) { return a.vcn < b.vcn; });
}

bool CollectDataRuns(const std::uint8_t* rec, std::size_t len, NtfsExtentList& out,
                     bool checkSizes, std::uint64_t* dataSize) {
    for (int i = 0;; ++i) {
        const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrData, i);
        if (!a)
            break;
        if (static_cast<std::int32_t>(AttrLength(a)) <= 0)
            return false;
        if (AttrNameLength(a) != 0)
            continue;
        if (!AttrNonResident(a))
            return false;
        std::size_t left = len - static_cast<std::size_t>(a - rec);
        std::uint32_t po = AttrPairsOffset(a);
        if (checkSizes && !(AttrFlags(a) & kNtfsAttrFlagCompressed)) {
            std::uint64_t span = AttrHighestVcn(a) - AttrLowestVcn(a) + 1;
            if (SumRunCounts(a + po, AttrLength(a) - po) != span)
                return false;
        }
        std::uint64_t low = 0, size = 0;
        if (CollectAttributeRuns(a, left, out, &low, &size) && low == 0 && dataSize)
            *dataSize = size;
    }
    SortExtents(out);
    return true;
}

std::int64_t MapVcnToLcn(const NtfsExtentList& extents, std::uint64_t vcn) {
    for (const auto& e : extents) {
        if (vcn >= e.vcn && vcn - e.vcn < e.count) {
            std::uint64_t lcn;
            if (e.lcn < 0 || __builtin_add_overflow(static_cast<std::uint64_t>(e.lcn), vcn - e.vcn, &lcn) ||
                lcn > static_cast<std::uint64_t>(INT64_MAX))
                return -1;
            return static_cast<std::int64_t>(lcn);
        }
    }
    return -1;
}

std::int64_t MapLcnToVcn(const NtfsExtentList& extents, std::uint64_t lcn) {
    for (const auto& e : extents) {
        if (e.lcn < 0)
            continue;
        auto start = static_cast<std::uint64_t>(e.lcn);
        if (lcn >= start && lcn - start < e.count)
            return static_cast<std::int64_t>(e.vcn + (lcn - start));
    }
    return -1;
}

std::uint64_t GetTotalClusters(const NtfsExtentList& extents) {
    std::uint64_t total = 0;
    for (const auto& e : extents)
        total += e.count;
    return total;
}

std::int64_t MftRecordToSector(std::uint64_t record, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft) {
    if (sectorsPerCluster == 0 || sectorsPerRecord == 0)
        return -1;
    std::uint64_t total;
    if (__builtin_mul_overflow(record, std::uint64_t{sectorsPerRecord}, &total))
        return -1;
    std::int64_t lcn = MapVcnToLcn(mft, total / sectorsPerCluster);
    if (lcn < 0)
        return -1;
    std::uint64_t sector;
    if (!MulAdd(static_cast<std::uint64_t>(lcn), sectorsPerCluster, partitionFirst, &sector) ||
        __builtin_add_overflow(sector, total % sectorsPerCluster, &sector) ||
        sector > static_cast<std::uint64_t>(INT64_MAX))
        return -1;
    return static_cast<std::int64_t>(sector);
}

std::int64_t MftSectorToRecord(std::uint64_t sector, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft) {
    if (sectorsPerCluster == 0 || sectorsPerRecord == 0 || sector < partitionFirst)
        return -1;
    std::uint64_t rel = sector - partitionFirst;
    std::int64_t vcn = MapLcnToVcn(mft, rel / sectorsPerCluster);
    if (vcn < 0)
        return -1;
    std::uint64_t index;
    if (!MulAdd(static_cast<std::uint64_t>(vcn), sectorsPerCluster, rel % sectorsPerCluster, &index))
        return -1;
    if (index % sectorsPerRecord != 0)
        return -1;
    return static_cast<std::int64_t>(index / sectorsPerRecord);
}

std::vector<std::uint8_t> SaveExtentList(const NtfsExtentList& extents) {
    std::vector<std::uint8_t> out(8 + 24 * extents.size());
    auto put = [&](std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(0, extents.size());
    for (std::size_t i = 0; i < extents.size(); ++i) {
        put(8 + 24 * i, static_cast<std::uint64_t>(extents[i].lcn));
        put(16 + 24 * i, extents[i].count);
        put(24 + 24 * i, extents[i].vcn);
    }
    return out;
}

bool LoadExtentList(const std::uint8_t* bytes, std::size_t len, NtfsExtentList& out,
                    std::size_t* consumed) {
    if (len < 8)
        return false;
    std::uint64_t n = NtfsRd64(bytes);
    if (n > (len - 8) / 24)
        return false;
    out.clear();
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint8_t* p = bytes + 8 + 24 * i;
        out.push_back({static_cast<std::int64_t>(NtfsRd64(p)), NtfsRd64(p + 16), NtfsRd64(p + 8)});
    }
    if (consumed)
        *consumed = 8 + 24 * n;
    return true;
}

std::uint32_t RoundClusterSectors(std::uint64_t n) {
    if (n > 128)
        return 0;
    if (n > 64)
        return 128;
    if (n > 32)
        return 64;
    if (n > 16)
        return 32;
    if (n > 8)
        return 16;
    if (n > 4)
        return 8;
    if (n > 2)
        return 4;
    return static_cast<std::uint32_t>(n);
}

std::uint32_t EstimateSectorsPerCluster(std::uint64_t bytes, std::uint64_t clusters) {
    if (clusters == 0)
        return 0;
    unsigned __int128 d = static_cast<unsigned __int128>(clusters) * kSectorSize;
    unsigned __int128 q = (bytes + d - 1) / d;
    return q > 128 ? 0 : RoundClusterSectors(static_cast<std::uint64_t>(q));
}

bool EstimateClusterSizeFromMft(const std::uint8_t* rec, std::size_t len, std::uint32_t* estimate) {
    NtfsExtentList runs;
    std::uint64_t size = 0;
    if (!CollectDataRuns(rec, len, runs, true, &size))
        return false;
    if (estimate)
        *estimate = EstimateSectorsPerCluster(size, GetTotalClusters(runs));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Attribute lists and extension records.

NtfsExtensionList ParseAttributeListValue(const std::uint8_t* value, std::size_t len) {
    NtfsExtensionList out;
    std::set<std::uint64_t> seen;
    std::size_t pos = 0;
    while (pos + kNtfsMinAttributeListEntry <= len) {
        const std::uint8_t* e = value + pos;
        if (NtfsRd32(e) == 0)
            break;
        std::uint16_t elen = NtfsRd16(e + 4);
        if (elen < kNtfsMinAttributeListEntry)
            break;
        std::uint64_t record = NtfsRd32(e + 16) | (static_cast<std::uint64_t>(NtfsRd16(e + 20)) << 32);
        if (seen.insert(record).second)
            out.push_back({-1, record});
        pos += elen;
    }
    return out;
}

NtfsExtensionList ReadAttributeListEntries(std::uint8_t* rec, std::size_t len,
                                           std::uint64_t partitionFirst,
                                           std::uint32_t sectorsPerCluster, IStorageDevice* device) {
    NtfsExtensionList out;
    if (!ValidateFileRecord(rec, len))
        return out;
    bool applied = ApplyFixups(rec, len);
    const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrAttributeList, 0);
    if (a && !AttrNonResident(a)) {
        out = ParseAttributeListValue(AttrValue(a), AttrValueLength(a));
    } else if (a && device && IsPowerOfTwoUpTo128(sectorsPerCluster)) {
        std::uint64_t allocated = AttrAllocatedSize(a), initialized = AttrInitializedSize(a);
        std::uint32_t po = AttrPairsOffset(a), alen = AttrLength(a);
        if (initialized != 0 && initialized <= allocated && po < alen &&
            ValidateMappingPairs(a + po, alen - po)) {
            std::uint64_t capped = std::min<std::uint64_t>(allocated, kNtfsMaxAttributeListBytes);
            std::uint64_t bufSectors = (capped + kSectorSize - 1) / kSectorSize;
            std::vector<std::uint8_t> buf(bufSectors * kSectorSize, 0);
            NtfsExtentList runs;
            DecodeDataRuns(a + po, alen - po, runs);
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

void ResolveExtensionRecords(NtfsExtensionList& entries, std::uint64_t baseSector,
                             std::uint32_t sectorsPerRecord, std::uint32_t sectorsPerCluster,
                             std::uint64_t partitionFirst, const NtfsExtentList& mft) {
    NtfsExtensionList kept;
    for (auto e : entries) {
        e.sector = MftRecordToSector(e.record, sectorsPerRecord, sectorsPerCluster, partitionFirst, mft);
        if (e.sector < 0 || static_cast<std::uint64_t>(e.sector) == baseSector)
            continue;
        kept.push_back(e);
    }
    entries.swap(kept);
}

MftRecordView::~MftRecordView() { Release(); }

bool MftRecordView::Attach(std::uint8_t* rec, std::size_t len, std::int64_t sector,
                           IStorageDevice* device) {
    Release();
    if (!ValidateFileRecord(rec, len))
        return false;
    m_rec = rec;
    m_len = len;
    m_sector = sector;
    m_device = device;
    m_fixupsApplied = ApplyFixups(rec, len);
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
}

MftRecordView::AttrRef MftRecordView::FindAttributeEx(std::uint32_t type, int n) {
    AttrRef ref;
    if (!m_rec || n < 0)
        return ref;
    int inBase = CountAttributes(m_rec, m_len, type);
    if (n < inBase) {
        ref.attr = FindAttribute(m_rec, m_len, type, n);
        if (ref.attr) {
            ref.offset = static_cast<std::uint32_t>(ref.attr - m_rec);
            ref.bytesLeft = m_len - ref.offset;
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
                std::uint64_t base = NtfsRd64(ext.bytes.data() + 0x20) & 0x0000FFFFFFFFFFFFull;
                ext.valid = m_baseRecord < 0 || base == static_cast<std::uint64_t>(m_baseRecord);
            }
        }
        if (!ext.valid)
            continue;
        int c = CountAttributes(ext.bytes.data(), ext.bytes.size(), type);
        if (k < c) {
            ref.attr = FindAttribute(ext.bytes.data(), ext.bytes.size(), type, k);
            if (ref.attr) {
                ref.offset = static_cast<std::uint32_t>(ref.attr - ext.bytes.data());
                ref.bytesLeft = ext.bytes.size() - ref.offset;
                ref.sector = m_extensions[i].sector;
            }
            return ref;
        }
        k -= c;
    }
    return ref;
}

// ---------------------------------------------------------------------------------------------
// System files.

const NtfsSystemFile NtfsSystemFiles[15] = {
    {0, "$MFT"},     {1, "$MFTMirr"}, {2, "$LogFile"}, {3, "$Volume"}, {4, "$AttrDef"},
    {5, "."},        {6, "$Bitmap"},  {7, "$Boot"},    {8, "$BadClus"}, {9, "$Secure"},
    {10, "$UpCase"}, {11, "$Extend"}, {32, "$Quota"},  {33, "$ObjId"},  {34, "$Reparse"},
};

namespace {
bool FirstNameEquals(const std::uint8_t* rec, std::size_t len, const char* name) {
    const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrFileName, 0);
    NtfsFileNameView fn;
    if (!a || !ReadFileNameAttr(a, fn))
        return false;
    std::size_t n = std::strlen(name);
    if (fn.nameLength != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (NtfsRd16(fn.name + 2 * i) != static_cast<std::uint8_t>(name[i]))
            return false;
    return true;
}

bool HasHiddenSystemInfo(const std::uint8_t* rec, std::size_t len) {
    const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrStandardInformation, 0);
    NtfsStdInfoView si;
    return a && ReadStdInfoAttr(a, si) && (si.fileAttributes & 0x06) == 0x06;
}
} // namespace

int FindSystemFileNumber(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x30 || IsExtensionRecord(rec, len))
        return -1;
    for (const auto& f : NtfsSystemFiles)
        if (FirstNameEquals(rec, len, f.name))
            return static_cast<int>(f.record);
    return -1;
}

bool HasSystemFileName(const std::uint8_t* rec, std::size_t len, const char* name) {
    return rec && HasHiddenSystemInfo(rec, len) && FirstNameEquals(rec, len, name);
}

bool IsSystemFileRecord(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < kNtfsRecordSize)
        return false;
    return FindSystemFileNumber(rec, len) != -1 && HasHiddenSystemInfo(rec, len);
}

bool ReadNtfsVolumeName(std::uint8_t* rec, std::size_t len, char out[80]) {
    if (!rec || len < kSectorSize)
        return false;
    len = std::min<std::size_t>(len, kNtfsMaxVolumeRecordSize);
    if (!ValidateFileRecord(rec, len))
        return false;
    bool applied = ApplyFixups(rec, len);
    bool ok = false;
    if (HasSystemFileName(rec, len, "$Volume")) {
        const std::uint8_t* a = FindAttribute(rec, len, kNtfsAttrVolumeName, 0);
        if (a && !AttrNonResident(a)) {
            std::string name = NtfsNameToNarrow(AttrValue(a), AttrValueLength(a) / 2);
            std::size_t n = std::min<std::size_t>(name.size(), 79);
            while (n > 0 && n < name.size() && (static_cast<std::uint8_t>(name[n]) & 0xC0) == 0x80)
                --n; // never cut a character in half
            std::memcpy(out, name.data(), n);
            out[n] = 0;
            ok = true;
        }
    }
    if (applied)
        UndoFixups(rec, len);
    return ok;
}

int ReadNtfsVolumeLabel(IStorageDevice& device, std::uint64_t partitionFirst, const CNTFSDBR& dbr,
                        char label[80]) {
    if (!dbr.HasSupportedGeometry())
        return 0;
    const std::uint32_t recordSize = dbr.GetFileRecordSize();
    const std::uint32_t sectors = recordSize / kSectorSize;
    std::uint64_t sector;
    if (!MulAdd(dbr.GetMftCluster(), dbr.GetSectorsPerCluster(), partitionFirst, &sector) ||
        __builtin_add_overflow(sector, std::uint64_t{3} * sectors, &sector))
        return 0;
    std::vector<std::uint8_t> buf(2 * recordSize, 0);
    if (!device.ReadSectors(buf.data(), sector, sectors))
        return 0;
    return ReadNtfsVolumeName(buf.data(), recordSize, label) ? 1 : 0;
}
