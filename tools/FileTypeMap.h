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

// Fills `map` from the MIME database under `mimeRoot` (a folder holding globs2 and the
// <media>/<subtype>.xml files, normally /usr/share/mime). Returns the number of extensions added.
int BuildFileTypeList(FileTypeMap& map, const std::string& mimeRoot);
// Fills the process-wide map from the system's database (XDG_DATA_DIRS, then /usr/share/mime).
int BuildFileTypeList();

// The English comment of a MIME type ("JPEG image"), "" when the database has none.
std::string MimeTypeComment(const std::string& mimeRoot, const std::string& mimeType);
