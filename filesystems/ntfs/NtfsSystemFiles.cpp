#include "filesystems/ntfs/NtfsSystemFiles.h"

#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsFileRecord.h"

#include <algorithm>
#include <cstring>
#include <string>

const NtfsSystemFile NtfsSystemFiles[15] = {
    {0, "$MFT"},     {1, "$MFTMirr"}, {2, "$LogFile"}, {3, "$Volume"}, {4, "$AttrDef"},
    {5, "."},        {6, "$Bitmap"},  {7, "$Boot"},    {8, "$BadClus"}, {9, "$Secure"},
    {10, "$UpCase"}, {11, "$Extend"}, {32, "$Quota"},  {33, "$ObjId"},  {34, "$Reparse"},
};

namespace {
// The first $FILE_NAME's name, or false when the record has none.
bool FirstName(const std::uint8_t* rec, std::size_t len, NtfsFileNameView& fn) {
    return ReadFileNameAttr(FindAttribute(rec, len, kNtfsAttrFileName, 0), fn);
}

bool NameEquals(const NtfsFileNameView& fn, const char* name) {
    const std::size_t n = std::strlen(name);
    if (fn.nameLength != n)
        return false;
    const ByteSpan units(fn.name, 2 * n);
    for (std::size_t i = 0; i < n; ++i)
        if (units.u16(2 * i) != static_cast<std::uint8_t>(name[i]))
            return false;
    return true;
}

// Every system-file name begins with '$' or is "."; most records are thrown out on their first
// character.
int SystemFileNumberOfName(const NtfsFileNameView& fn) {
    if (fn.nameLength == 0)
        return -1;
    const std::uint16_t c = ByteSpan(fn.name, 2).u16(0);
    if (c != '$' && c != '.')
        return -1;
    for (const auto& f : NtfsSystemFiles)
        if (NameEquals(fn, f.name))
            return static_cast<int>(f.record);
    return -1;
}

bool HasHiddenSystemInfo(const std::uint8_t* rec, std::size_t len) {
    NtfsStdInfoView si;
    return ReadStdInfoAttr(FindAttribute(rec, len, kNtfsAttrStandardInformation, 0), si) &&
           (si.fileAttributes & 0x06) == 0x06;
}
} // namespace

int FindSystemFileNumber(const std::uint8_t* rec, std::size_t len) {
    if (!rec || len < 0x30 || IsExtensionRecord(rec, len))
        return -1;
    NtfsFileNameView fn;
    return FirstName(rec, len, fn) ? SystemFileNumberOfName(fn) : -1;
}

bool HasSystemFileName(const std::uint8_t* rec, std::size_t len, const char* name) {
    NtfsFileNameView fn;
    return rec && HasHiddenSystemInfo(rec, len) && FirstName(rec, len, fn) && NameEquals(fn, name);
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
        const NtfsAttributeView a = FindAttribute(rec, len, kNtfsAttrVolumeName, 0);
        if (a && !a.NonResident()) {
            const ByteSpan value = a.Value();
            std::string name = NtfsNameToNarrow(value.data(), value.size() / 2);
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
