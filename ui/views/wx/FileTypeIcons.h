#pragma once
// The type service's pictures: the icon of a file's type from the desktop's icon theme (its MIME
// type's icon, then the type's generic icon, then a plain file), for the found-file lists, the
// search dialog and the file-type tree; and the type service as the found-file views see it.
#include <wx/bitmap.h>

#include <string>

#include "ui/views/FileTypeSource.h"

// `fileNameOrExtension` as LookupFileType takes it; `size` in pixels.
wxBitmap FileTypeIcon(const std::string& fileNameOrExtension, int size = 16);
// The icon of a folder.
wxBitmap FolderIcon(int size = 16);
// The icon an IFileTypeSource names: "folder", a MIME type ("image/png"), or "" for a plain
// file.
wxBitmap IconByName(const std::string& iconName, int size = 16);

// Type names and icons from the program's file-type service (the MIME database's table, read
// once on first use when the program has not read it yet). Names the service does not know
// get the plain "<EXT> File". Used on the UI thread.
class CFileTypeServiceSource : public IFileTypeSource {
public:
    std::string TypeName(const std::string& fileName) override;
    // "folder" for folders, the MIME type of known extensions, "" otherwise.
    std::string IconName(const std::string& fileName, bool folder) override;

private:
    CPlainFileTypeSource m_plain;
};
