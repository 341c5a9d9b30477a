#include "carving/analysers/FileRIFFAnalyser.h"

#include <cstring>
#include <strings.h>

namespace {

bool Is(const std::uint8_t* p, const char* text) {
    return strncasecmp(reinterpret_cast<const char*>(p), text, 4) == 0;
}

// The file-type id of the RIFF form at 8, told by the form and the four bytes at 12.
std::uint32_t FormType(const std::uint8_t* s) {
    const std::uint8_t* form = s + 8;
    const std::uint8_t* next = s + 12;
    if (Is(form, "WAVE") && Is(next, "fmt "))
        return 63; // WAV
    if (Is(form, "AVI ") && Is(next, "LIST"))
        return 8; // AVI
    if (Is(form, "ACON") && (Is(next, "LIST") || Is(next, "anih")))
        return 4; // ANI
    if (std::memcmp(form, "CMX1", 4) == 0 &&
        std::memcmp(s + 20, "{Corel Binary Meta File}", 24) == 0)
        return 14; // CMX
    if (Is(form, "CARC") && Is(next, "vrsn"))
        return 13; // CLK
    if (Is(form, "CSL2") && Is(next, "vrsn"))
        return 17; // CSL
    static const char* const kCdrForms[] = {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"};
    for (const char* f : kCdrForms)
        if (Is(form, f) && Is(next, "vrsn"))
            return 11; // CDR
    return FileRIFFAnalyser::kTypeId;
}

} // namespace

int FileRIFFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "RIFF", 4) != 0)
        return 0;
    const ByteSpan s(sector, kSectorSize);
    record->m_u32FileType = FormType(sector);
    // The chunk size counts what follows its eight-byte head; 64 bits, so that a size near
    // 4 GiB does not wrap to a few bytes.
    record->m_u64Size = std::uint64_t(s.u32(4)) + 8;
    return 1;
}
