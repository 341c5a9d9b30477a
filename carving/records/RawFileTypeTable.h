#pragma once
// The file types that carving knows: 68 built-in ids with their extensions and descriptions,
// and the user-defined ids 1000 to 1999 that script signatures are given as their extensions
// are first met. Ids 69 to 999 are empty.
#include <cstdint>

#include "filesystems/FileProperties.h"

constexpr std::uint32_t kRawFileTypeTableSize = 2000;
constexpr std::uint32_t kFirstUserFileType = 1000;
constexpr std::uint32_t kLastUserFileType = 1999;
constexpr std::uint32_t kUserFileTypeSlots = kLastUserFileType - kFirstUserFileType + 1;
constexpr std::uint32_t kMaxRawExtensionLength = 4; // built-in extensions

// Built-in ids the code refers to by name.
enum RawFileTypeId : std::uint32_t {
    RAWTYPE_RAW = 0,
    RAWTYPE_DLL = 20,
    RAWTYPE_EXE = 26,
    RAWTYPE_PNG = 47,
    RAWTYPE_ZIP = 68,
};

inline bool IsUserFileType(std::uint32_t id) {
    return id >= kFirstUserFileType && id <= kLastUserFileType;
}

// Upper-case extension of a type ("JPG"); "" for an empty slot or an id outside the table.
// A user-defined extension is kept whole, whatever its length. The text stays valid for the
// life of the process.
const char* GetRawFileTypeExtension(std::uint32_t id);
// Description of a built-in type (ids 0 to 68); "" for every other id.
const char* GetRawFileTypeDescription(std::uint32_t id);

// The user-defined id of `extension` (compared without regard to case): the slot that already
// holds it, or the next empty slot, which then keeps it for the rest of the process. 0 when the
// extension is empty or every user-defined slot is taken by another extension.
std::uint32_t FindOrAddUserFileType(const char* extension);
// Number of user-defined slots taken.
std::uint32_t GetUserFileTypeCount();
// Empties every user-defined slot. For tests only: ids handed out stay in records.
void ClearUserFileTypesForTesting();
