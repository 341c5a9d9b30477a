#pragma once
// Which viewer a previewed file goes to: the Word and Excel compound-document check.
#include <string>

// Whether the file is a compound document holding a Word ("WordDocument") or Excel ("Book",
// "Workbook") stream. The file is read whole (at most 100 MiB) and never written.
bool IsOfficeDocument(const std::string& path);
