#pragma once
// Where the views take a file's type name and icon from. The program's file-type service
// implements it; until one is handed over, the views use the plain fallback below.
#include <string>

class IFileTypeSource {
public:
    virtual ~IFileTypeSource() = default;
    // Type name of a file name's extension ("PNG File"); "" when unknown.
    virtual std::string TypeName(const std::string& fileName) = 0;
    // Name of the icon (an art id or resource name) for the file or folder; "" for the default.
    virtual std::string IconName(const std::string& fileName, bool folder) = 0;
};

// The fallback: "<EXT> File" and no icon of its own.
class CPlainFileTypeSource : public IFileTypeSource {
public:
    std::string TypeName(const std::string& fileName) override;
    std::string IconName(const std::string& fileName, bool folder) override;
};
