#include "carving/records/FoundFileEntry.h"

#include "carving/records/RawFileInfo.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileSystemSearchController.h"

#include <map>
#include <string>
#include <type_traits>

namespace {

// Keys compare without regard to ASCII case; the built-in extensions are ASCII.
struct NoCaseLess {
    static char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; }
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t x = Fold(a[i]), y = Fold(b[i]);
            if (x != y)
                return x < y;
        }
        return a.size() < b.size();
    }
};

using ExtensionTypeMap = std::map<std::u16string, std::uint16_t, NoCaseLess>;

const ExtensionTypeMap& TypeMap() {
    static const ExtensionTypeMap map = [] {
        ExtensionTypeMap m;
        for (std::uint32_t id = 1; id <= kBuiltInRawTypeCount; ++id) {
            std::u16string key;
            for (const char* p = GetRawFileTypeExtension(id); *p; ++p)
                key.push_back(static_cast<unsigned char>(*p));
            m.emplace(std::move(key), static_cast<std::uint16_t>(id));
        }
        return m;
    }();
    return map;
}

template <typename Char>
int ExtensionOf(char16_t* out, const Char* name, std::size_t length, std::size_t* extLength) {
    if (!name || !out || !extLength || length <= 2)
        return 0;
    std::size_t dot = length;
    for (std::size_t i = length; i-- > 0;)
        if (name[i] == Char('.')) {
            dot = i;
            break;
        }
    if (dot == length || dot == 0 || length - dot - 1 > kMaxRawExtensionLength)
        return 0;
    const std::size_t n = length - dot - 1;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char16_t>(
            static_cast<std::make_unsigned_t<Char>>(name[dot + 1 + i]));
    *extLength = n;
    return 1;
}

bool Negative(std::uint64_t v) { return static_cast<std::int64_t>(v) < 0; }

} // namespace

void BuildExtensionTypeMap() { (void)TypeMap(); }

std::uint16_t LookupExtensionType(const char16_t* extension, std::size_t length) {
    if (!extension || length == 0 || length > kMaxRawExtensionLength)
        return 0;
    const ExtensionTypeMap& m = TypeMap();
    auto it = m.find(std::u16string(extension, length));
    return it == m.end() ? 0 : it->second;
}

int GetNameExtension(char16_t* out, const char* name, std::size_t length,
                     std::size_t* extensionLength) {
    return ExtensionOf(out, name, length, extensionLength);
}

int GetWideNameExtension(char16_t* out, const char16_t* name, std::size_t length,
                         std::size_t* extensionLength) {
    return ExtensionOf(out, name, length, extensionLength);
}

namespace {

int SetEntry(FoundFileEntry& e, const char16_t* ext, std::size_t extLength,
             std::uint64_t firstCluster, std::uint64_t entrySector) {
    const std::uint16_t type = LookupExtensionType(ext, extLength);
    if (type == 0 || Negative(firstCluster) || Negative(entrySector))
        return 0;
    e.type = type;
    e.firstCluster = firstCluster;
    e.entrySector = entrySector;
    return 1;
}

} // namespace

int FoundFileEntry::SetFromName(const char* name, std::uint8_t length, std::uint64_t cluster,
                                std::uint64_t sector) {
    char16_t ext[kMaxRawExtensionLength];
    std::size_t n = 0;
    if (!GetNameExtension(ext, name, length, &n))
        return 0;
    return SetEntry(*this, ext, n, cluster, sector);
}

int FoundFileEntry::SetFromWideName(const char16_t* name, std::size_t length,
                                    std::uint64_t cluster, std::uint64_t sector) {
    char16_t ext[kMaxRawExtensionLength];
    std::size_t n = 0;
    if (!GetWideNameExtension(ext, name, length, &n))
        return 0;
    return SetEntry(*this, ext, n, cluster, sector);
}

void FoundFileEntryList::AddFromName(const char* name, std::uint8_t length,
                                     std::uint64_t firstCluster, std::uint64_t entrySector) {
    FoundFileEntry e;
    if (e.SetFromName(name, length, firstCluster, entrySector))
        m_entries.push_back(e);
}

std::uint64_t CountEntriesConfirmedBySignature(const FoundFileEntryList& entries,
                                               const CRawFileList* carved,
                                               CSearchedPartitionInfo* partition) {
    if (!carved || !partition)
        return 0;
    const std::uint64_t s = partition->m_u64FirstSector;
    std::uint64_t e = 0;
    if (__builtin_add_overflow(s, partition->m_u32SectorCount, &e))
        e = ~0ull;
    const std::uint64_t c = partition->m_sectorsPerCluster;
    std::uint64_t added = 0;
    for (const FoundFileEntry& entry : entries.Entries()) {
        if (entry.entrySector < s)
            continue;
        if (entry.entrySector >= e)
            break;
        std::uint64_t offset = 0, f = 0;
        if (__builtin_mul_overflow(entry.firstCluster, c, &offset) ||
            __builtin_add_overflow(s, offset, &f) || f >= e)
            continue;
        const CRawFileInfo* r = carved->FindAtSector(f);
        if (r && r->m_u32FileType == entry.type)
            ++added;
    }
    partition->m_u64EvidenceB += added;
    return added;
}
