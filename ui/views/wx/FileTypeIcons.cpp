#include "ui/views/wx/FileTypeIcons.h"

#include "platform/FileTypeMap.h"

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

namespace {

// The table is read by the program at start-up; views used without it read it themselves.
void EnsureTypeTable() {
    static bool tried = false;
    if (tried)
        return;
    tried = true;
    if (GetExtensionTypeTable().empty())
        BuildFileTypeList();
}

} // namespace

wxBitmap IconByName(const std::string& iconName, int size) {
    static std::map<std::pair<std::string, int>, wxBitmap> cache;
    auto it = cache.find({iconName, size});
    if (it != cache.end())
        return it->second;
    wxBitmap bmp;
    if (iconName == "folder") {
        bmp = FolderIcon(size);
    } else if (!iconName.empty()) {
        bmp = FromTheme(ThemeName(iconName), size);
        if (!bmp.IsOk())
            bmp = FromTheme(iconName.substr(0, iconName.find('/')) + "-x-generic", size);
    }
    if (!bmp.IsOk())
        bmp = wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_OTHER, wxSize(size, size));
    cache[{iconName, size}] = bmp;
    return bmp;
}

wxBitmap FileTypeIcon(const std::string& name, int size) {
    const FileTypeInfo* type = LookupFileType(name);
    return IconByName(type ? type->mimeType : std::string(), size);
}

wxBitmap FolderIcon(int size) { return wxArtProvider::GetBitmap(wxART_FOLDER, wxART_OTHER, wxSize(size, size)); }

std::string CFileTypeServiceSource::TypeName(const std::string& fileName) {
    EnsureTypeTable();
    const FileTypeInfo* type = LookupFileType(fileName);
    if (type && !type->name.empty())
        return type->name;
    return m_plain.TypeName(fileName);
}

std::string CFileTypeServiceSource::IconName(const std::string& fileName, bool folder) {
    if (folder)
        return "folder";
    EnsureTypeTable();
    const FileTypeInfo* type = LookupFileType(fileName);
    return type ? type->mimeType : std::string();
}
