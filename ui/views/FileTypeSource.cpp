#include "ui/views/FileTypeSource.h"

#include <cctype>

#include "ui/views/FileListModel.h"

std::string CPlainFileTypeSource::TypeName(const std::string& fileName) {
    std::string ext = FileNameExtension(fileName.c_str());
    if (ext.empty())
        return "File";
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext + " File";
}

std::string CPlainFileTypeSource::IconName(const std::string&, bool folder) {
    return folder ? "folder" : "";
}
