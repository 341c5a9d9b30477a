#pragma once
// File names that the NTFS and FAT search controllers meet during a deep scan, kept when their
// extension is one of the built-in carving types, and the count of those whose first sector
// holds a carved file of the same type: evidence that a found partition's position and
// cluster size are right.
#include <cstddef>
#include <cstdint>
#include <vector>

class CRawFileList;
class CSearchedPartitionInfo;

struct FoundFileEntry {
    std::uint32_t type = 0;                 // file-type id 1 to 68 (a u16 value)
    std::uint64_t firstCluster = ~0ull;     // counted from the partition's first sector
    std::uint64_t entrySector = ~0ull;      // sector that held the name's entry or record

    void Init() { *this = FoundFileEntry(); }
    // 1 and the fields set when the name has a known extension and both numbers are not
    // negative as signed values; otherwise 0 and the entry unchanged.
    int SetFromName(const char* name, std::uint8_t length, std::uint64_t firstCluster,
                    std::uint64_t entrySector);
    // The same for a UTF-16 name of `length` characters.
    int SetFromWideName(const char16_t* name, std::size_t length, std::uint64_t firstCluster,
                        std::uint64_t entrySector);
};

class FoundFileEntryList {
public:
    // Appends an entry for the name when SetFromName accepts it.
    void AddFromName(const char* name, std::uint8_t length, std::uint64_t firstCluster,
                     std::uint64_t entrySector);
    void Append(const FoundFileEntry& entry) { m_entries.push_back(entry); }
    void Clear() { m_entries.clear(); }
    std::size_t Size() const { return m_entries.size(); }
    const std::vector<FoundFileEntry>& Entries() const { return m_entries; }

private:
    std::vector<FoundFileEntry> m_entries;
};

// The extension of a name (the text after the last '.', which must not be the first character,
// 0 to 4 characters) widened into `out` (at least 4 characters); 1 or 0. Names of fewer than
// 3 characters have none.
int GetNameExtension(char16_t* out, const char* name, std::size_t length,
                     std::size_t* extensionLength);
int GetWideNameExtension(char16_t* out, const char16_t* name, std::size_t length,
                         std::size_t* extensionLength);
// The built-in id of an extension (1 to 4 characters, any case), or 0.
std::uint16_t LookupExtensionType(const char16_t* extension, std::size_t length);
// Builds the process-wide map (done on first use anyway).
void BuildExtensionTypeMap();

// Adds to the partition record's evidence count every entry inside the partition whose file
// starts exactly where a carved file of the same type starts. Entries are in ascending sector
// order: the first entry at or past the partition's end ends the walk. Returns the number
// added.
std::uint64_t CountEntriesConfirmedBySignature(const FoundFileEntryList& entries,
                                               const CRawFileList* carved,
                                               CSearchedPartitionInfo* partition);
