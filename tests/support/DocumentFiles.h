#pragma once
// Document files for the carving tests, made at test time into the build folder: compound
// files of every document kind (written by tests/support/compound_writer.py and read back with
// Debian's olefile), a PDF from ghostscript with an incremental update appended, a compiled
// help file from chmcmd, and an Access database header page that mdbtools reads.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Debian's Python, where python3-olefile is installed.
extern const char* const kDebianPython;
std::string CompoundWriterScript();

// One compound file per document kind, with the kind's stream names (and class id where the
// application sets one), and the kind the directory must give.
struct CompoundKindFile {
    const char* file;
    const char* entries; // JSON list for the writer
    const char* clsid;   // root class id as stored (32 hex digits), "" for none
    int shift;
    std::uint32_t kind;
    std::uint64_t growth; // bytes the analyser adds behind the FAT-described sectors
    const char* names;    // the directory as olefile reads it back
};
const std::vector<CompoundKindFile>& CompoundKindFiles();
// The folder holding every file of CompoundKindFiles() and the writer's recipe.json ("" when
// the writer failed).
std::string CompoundDocumentFolder();

// A two-page PDF from ghostscript, then a second revision appended as an incremental update
// (a new Info object, an xref section and a trailer pointing back at the first). Ghostscript
// renders it without an error. "" on failure.
std::string UpdatedPdfFile();
// A compiled help file of three pages made by chmcmd. "" on failure.
std::string ChmFile();
// An Access database header page and `pages` data pages of 4096 bytes (Jet 4) that mdb-ver
// reads as "JET4". "" on failure.
std::string AccessDatabaseFile();

} // namespace testsupport
