#pragma once
// The type service's pictures: the icon of a file's type from the desktop's icon theme (its MIME
// type's icon, then the type's generic icon, then a plain file), for the found-file lists, the
// search dialog and the file-type tree.
#include <wx/bitmap.h>

#include <string>

// `fileNameOrExtension` as LookupFileType takes it; `size` in pixels.
wxBitmap FileTypeIcon(const std::string& fileNameOrExtension, int size = 16);
// The icon of a folder.
wxBitmap FolderIcon(int size = 16);
