#pragma once
// Where the carved files that have a size reach, per file type, so that a sector inside a sized
// file is not taken as the start of another file of the same type: the members of an archive,
// the archives inside an archive, the copies of a header inside a document. Files of other
// types inside (the pictures in an archive) are still found. Files are noted in the order of
// their start sectors, as the search finds them.
#include <cstdint>
#include <unordered_map>

#include "carving/records/RawFileInfo.h"

class CSizedFileCover {
public:
    void Clear() { m_ends.clear(); }
    // A file of `record`'s type spans `size` bytes from its start sector.
    void Note(const CRawFileInfo& record, std::uint64_t size);
    // Whether `sector` lies behind the start and before the end of a noted file of `record`'s
    // type.
    bool Covers(const CRawFileInfo& record, std::uint64_t sector) const;

    // Analysers tell their files' types apart while sizing (a compound file becomes a
    // document), so files are grouped by the analyser that found them; the files of users'
    // scripts, which share one analyser, by their type.
    static std::uint64_t KindOf(const CRawFileInfo& record);

private:
    struct Extent {
        std::uint64_t first = 0; // start sector of the file reaching furthest
        std::uint64_t end = 0;   // first sector behind it
    };
    std::unordered_map<std::uint64_t, Extent> m_ends;
};
