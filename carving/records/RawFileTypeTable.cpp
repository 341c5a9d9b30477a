#include "carving/records/RawFileTypeTable.h"

#include <array>
#include <cctype>
#include <mutex>
#include <string>

namespace {

struct BuiltInType {
    const char* extension;
    const char* description;
};

constexpr BuiltInType kBuiltIn[kBuiltInRawTypeCount + 1] = {
    {"Raw", "Raw"},
    {"3DS", "3DS file"},
    {"3GP", "3GP Multimedia file"},
    {"ADP", "Access Project file"},
    {"ANI", "ANI file"},
    {"AI", "Adobe Illustrator file"},
    {"ASF", "Audio Streaming Format file"},
    {"AU", "AU file"},
    {"AVI", "Audio Video Interleave file"},
    {"BMP", "Bitmap file"},
    {"CAB", "Cabinet file"},
    {"CDR", "COREL Darw file"},
    {"CHM", "CHM file"},
    {"CLK", "Corel Draw Corel RAVE Image file"},
    {"CMX", "Corel Draw Vector Image file"},
    {"CPT", "Corel Photo Paint Image file"},
    {"CRW", "Canon Raw graphics file"},
    {"CSL", "CSL file"},
    {"CUR", "Cursor file"},
    {"DBX", "Outlook Express Email file"},
    {"DLL", "DLL file"},
    {"DOC", "Microsoft Word Document"},
    {"DWG", "AutoCAD Drawing file"},
    {"DXF", "AutoCad DX File"},
    {"EMF", "Enhanced Metafile"},
    {"EPS", "Encapsulated Postscript file"},
    {"EXE", "EXE file"},
    {"FH11", "Freehand 10 file"},
    {"GIF", "GIF graphics file"},
    {"GZ", "GZIP compression file"},
    {"HLP", "Help file"},
    {"HTM", "HTML Documents file"},
    {"ICO", "Icon file"},
    {"JPG", "JPEG Graphics file"},
    {"LZH", "LZH compression file"},
    {"MAX", "3d Studio Max file"},
    {"MID", "Musical Instrument Digital Interface file"},
    {"MDB", "Access Database file"},
    {"MNY", "Microsoft Money file"},
    {"MOF", "MOF file"},
    {"MOV", "MOV Multimedia file"},
    {"MP3", "MP3 Music file"},
    {"MP4", "MP4 Multimedia file"},
    {"MPP", "Microsoft Project file"},
    {"OLE", "Compound file"},
    {"ONE", "Microsoft OneNote file"},
    {"PDF", "Adobe Portable Document"},
    {"PNG", "Portable Network Graphic file"},
    {"PPT", "Microsoft PowerPoint Presentation file"},
    {"PUB", "Microsoft Publisher Document"},
    {"PSD", "Adobe Photoshop file"},
    {"PSP", "Paint Shop Pro file"},
    {"PST", "Outlook Email file"},
    {"QPW", "QuattroPro 7 File"},
    {"RAR", "RAR compression file"},
    {"RIFF", "RIFF Multimedia file"},
    {"RTF", "Rich Text Document"},
    {"SHW", "Corel Presentation File"},
    {"SWF", "ShockWave Flash file"},
    {"TAR", "TAR archive file"},
    {"TIF", "Tagged Image File"},
    {"TTF", "True Type Font file"},
    {"VSD", "Microsoft Visio Drawing"},
    {"WAV", "WAVE Multimedia file"},
    {"WPD", "WordPerfect file"},
    {"WPG", "WordPerfect Documents and Graphics v8"},
    {"WMF", "WMF Multimedia file"},
    {"XLS", "Microsoft Excel XML Documents"},
    {"ZIP", "Zip compression file"},
};

// User-defined slots. A slot, once filled, never changes, so the texts handed out stay valid.
struct UserTypes {
    std::mutex lock;
    std::array<std::string, kUserFileTypeSlots> extensions;
    std::uint32_t used = 0;
};

UserTypes& Users() {
    static UserTypes* users = new UserTypes(); // lives until exit; texts are handed out
    return *users;
}

bool EqualNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

} // namespace

const char* GetRawFileTypeExtension(std::uint32_t id) {
    if (id <= kBuiltInRawTypeCount)
        return kBuiltIn[id].extension;
    if (IsUserFileType(id)) {
        UserTypes& u = Users();
        std::lock_guard<std::mutex> guard(u.lock);
        const std::uint32_t slot = id - kFirstUserFileType;
        return slot < u.used ? u.extensions[slot].c_str() : "";
    }
    return "";
}

const char* GetRawFileTypeDescription(std::uint32_t id) {
    return id <= kBuiltInRawTypeCount ? kBuiltIn[id].description : "";
}

std::uint32_t FindOrAddUserFileType(const char* extension) {
    if (!extension || !*extension)
        return 0;
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    for (std::uint32_t slot = 0; slot < u.used; ++slot)
        if (EqualNoCase(u.extensions[slot], extension))
            return kFirstUserFileType + slot;
    if (u.used == kUserFileTypeSlots)
        return 0;
    std::string upper(extension);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    u.extensions[u.used] = std::move(upper);
    return kFirstUserFileType + u.used++;
}

std::uint32_t GetUserFileTypeCount() {
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    return u.used;
}

void ClearUserFileTypesForTesting() {
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    // Texts handed out before this call are no longer valid.
    u.used = 0;
    for (auto& e : u.extensions)
        e.clear();
}
