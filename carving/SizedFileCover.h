#pragma once
// Where the carved files that have a size reach, per analyser, so that a sector inside a sized
// archive or container is not taken as the start of another file of the same type: the members
// of a tar, the archives inside an archive, the compound files embedded in a document. Files of
// other types inside (the pictures in an archive) are still found, and so are files inside
// files of the other types, whose sizes may be estimates. Files are noted in the order of
// their start sectors, as the search finds them.
#include <cstdint>
#include <unordered_map>

#include "carving/records/RawFileInfo.h"

class CSizedFileCover {
public:
    void Clear() { m_ends.clear(); }
    // A file of `record`'s type spans `size` bytes from its start sector (noted only for the
    // analysers that nest their own type, see AnalyserNestsOwnType).
    void Note(const CRawFileInfo& record, std::uint64_t size);
    // Whether `sector` lies behind the start and before the end of a noted file of `record`'s
    // type.
    bool Covers(const CRawFileInfo& record, std::uint64_t sector) const;

    // Analysers tell their files' types apart while sizing (a compound file becomes a
    // document), so files are grouped by the analyser that found them.
    static std::uint32_t KindOf(const CRawFileInfo& record) {
        return record.m_u32AnalyserType & 0xFFFF; // as the scan-state store keeps it
    }

private:
    struct Extent {
        std::uint64_t first = 0; // start sector of the file reaching furthest
        std::uint64_t end = 0;   // first sector behind it
    };
    std::unordered_map<std::uint32_t, Extent> m_ends;
};
