#include "ui/views/wx/FileTypeIcons.h"

#include "tools/FileTypeMap.h"

#include <wx/artprov.h>

#include <map>

namespace {

// The icon theme's name of a MIME type ("image/jpeg" -> "image-jpeg") and its generic one
// ("image-x-generic").
std::string ThemeName(const std::string& mime) {
    std::string name = mime;
    for (char& c : name)
        if (c == '/')
            c = '-';
    return name;
}

wxBitmap FromTheme(const std::string& name, int size) {
    return wxArtProvider::GetBitmap(wxString::FromUTF8(name.c_str()), wxART_OTHER, wxSize(size, size));
}

} // namespace

wxBitmap FileTypeIcon(const std::string& name, int size) {
    static std::map<std::pair<std::string, int>, wxBitmap> cache;
    const FileTypeInfo* type = LookupFileType(name);
    const std::string mime = type ? type->mimeType : std::string();
    auto it = cache.find({mime, size});
    if (it != cache.end())
        return it->second;
    wxBitmap bmp;
    if (!mime.empty()) {
        bmp = FromTheme(ThemeName(mime), size);
        if (!bmp.IsOk())
            bmp = FromTheme(mime.substr(0, mime.find('/')) + "-x-generic", size);
    }
    if (!bmp.IsOk())
        bmp = wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_OTHER, wxSize(size, size));
    cache[{mime, size}] = bmp;
    return bmp;
}

wxBitmap FolderIcon(int size) { return wxArtProvider::GetBitmap(wxART_FOLDER, wxART_OTHER, wxSize(size, size)); }
