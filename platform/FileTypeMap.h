#pragma once
// The list of known file types: type name -> extensions joined by ';' (".jpe;.jpeg;.jpg").
// Built once at start-up from the shared MIME database (the "*.ext" globs of globs2, each MIME
// type named by its English comment). Two special keys sort first: ".00(All Files)" and ".01"
// followed by the name of the generic file type, both with the value "*".
#include <map>
#include <string>

using FileTypeMap = std::map<std::string, std::string>;

// The process-wide map (empty until BuildFileTypeList runs).
FileTypeMap& GetFileTypeMap();
// Adds an extension to a type: a new key takes the extension, a known one gets ";" and it.
void AddFileType(FileTypeMap& map, const std::string& key, const std::string& extension);
void AddFileType(const std::string& key, const std::string& extension);

// What the type service knows of one extension.
struct FileTypeInfo {
    std::string mimeType;  // "image/jpeg"
    std::string name;      // "JPEG image"
};
// Extension (lower case, with its dot) -> type; the first type that names an extension wins.
using ExtensionTypeTable = std::map<std::string, FileTypeInfo>;

// Fills `map` (and `table` when given) from the MIME database under `mimeRoot` (a folder holding
// globs2 and the <media>/<subtype>.xml files, normally /usr/share/mime). Returns the number of
// extensions added to the map.
int BuildFileTypeList(FileTypeMap& map, const std::string& mimeRoot, ExtensionTypeTable* table = nullptr);
// Fills the process-wide map and extension table from the system's database (XDG_DATA_DIRS,
// then /usr/share/mime).
int BuildFileTypeList();

// The type service: the type of a file name's extension ("photo.JPG" or ".jpg"), from the
// process-wide table; null when the extension is unknown or the name has none.
const FileTypeInfo* LookupFileType(const std::string& fileNameOrExtension);
const FileTypeInfo* LookupFileType(const ExtensionTypeTable& table, const std::string& fileNameOrExtension);
ExtensionTypeTable& GetExtensionTypeTable();

// The English comment of a MIME type ("JPEG image"), "" when the database has none.
std::string MimeTypeComment(const std::string& mimeRoot, const std::string& mimeType);
