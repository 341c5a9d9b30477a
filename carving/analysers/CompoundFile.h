#pragma once
// Compound files (the structured storage of Office 97-2003 documents, Visio, Publisher,
// Project, 3ds Max, Corel and others): a 512-byte header, then sectors of 512 to 4096 bytes
// numbered from 0 right behind the header sector, chained through a FAT whose own sectors are
// listed in the header and in a chain of DIFAT sectors; the directory is a chain of 128-byte
// entries, the first being the root.
//
// This is the one reader of that structure. It reads through a caller's byte source (a carved
// file on a device, or a whole file in memory), checks every number it takes from the file
// before it uses it, and works out how far the file reaches and what kind of document it is.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/ByteSpan.h"

constexpr std::uint8_t kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kCompoundFree = 0xFFFFFFFF;  // unused FAT/DIFAT slot
constexpr std::uint32_t kCompoundEnd = 0xFFFFFFFE;   // end of a chain
constexpr std::size_t kCompoundHeaderFatSlots = 109; // FAT sector numbers in the header
constexpr std::size_t kCompoundEntrySize = 128;

// The document kinds told apart by the first directory entries (file-type ids).
enum CompoundDocumentKind : std::uint32_t {
    COMPOUND_ADP = 3,  // Access project
    COMPOUND_DOC = 21, // Word
    COMPOUND_MAX = 35, // 3ds Max scene
    COMPOUND_MOF = 39, // any other compound file
    COMPOUND_MPP = 43, // Project
    COMPOUND_OLE = 44, // not (yet) told apart
    COMPOUND_PPT = 48, // PowerPoint
    COMPOUND_PUB = 49, // Publisher
    COMPOUND_QPW = 53, // Quattro Pro
    COMPOUND_SHW = 57, // Corel Presentations
    COMPOUND_VSD = 62, // Visio
    COMPOUND_WPD = 64, // WordPerfect
    COMPOUND_WPG = 65, // WordPerfect graphics
    COMPOUND_XLS = 67, // Excel
};

// The fixed header fields the reader uses.
struct CompoundFileHeader {
    std::uint32_t sectorShift = 9;
    std::uint32_t sectorSize = 512;
    std::uint32_t firstDirectorySector = kCompoundEnd;
    std::uint32_t miniStreamCutoff = 4096;
    std::uint32_t firstDifatSector = kCompoundEnd;
};

// Checks the signature and the sector size (a shift of 9 to 12). False for anything else.
bool ReadCompoundFileHeader(ByteSpan header, CompoundFileHeader* out);

// Bytes of the file at an offset: `length` bytes at `offset`, valid until the next call, or an
// empty span when they cannot be read.
using CompoundByteSource = std::function<ByteSpan(std::uint64_t offset, std::size_t length)>;

enum class CompoundMeasure {
    Ok,         // the extent was worked out
    Damaged,    // numbers that no compound file holds: not a file to size
    Unreadable, // a sector the walk needed could not be read
};

struct CompoundFileExtent {
    CompoundFileHeader header;
    std::uint64_t fatSectorCount = 0; // FAT sectors listed in the header and the DIFAT chain
    std::uint64_t usedSectors = 0;    // sectors the FAT describes up to its last used entry
    std::uint64_t size = 0;           // header sector + used sectors, in bytes (below 2^62)
    // The last FAT sector lies beyond the limit where the source could not read it: taken as
    // full, so `size` may pass the file's by up to a FAT sector's entries less one.
    bool lastFatSectorUnread = false;
    // The sector numbers of the first kMaxListedFatSectors FAT sectors, in order.
    std::vector<std::uint32_t> fatSectors;
};
constexpr std::size_t kMaxListedFatSectors = 4096;
// The directory chain is followed for at most this many sectors.
constexpr std::size_t kMaxDirectorySectors = 512;

// Works out how far the file reaches: the header sector plus every sector the FAT describes up
// to its last used entry. The FAT sectors are taken in the order listed; the last one tells
// how many of its entries are used. Damaged: a bad header, no FAT sector, a DIFAT chain that
// loops or reaches past `limit`, or a FAT or DIFAT sector outside the extent so found.
// Sectors beyond `limit` are never read, but for the last FAT sector: a file larger than the
// limit is measured whole where the source holds that one sector.
CompoundMeasure MeasureCompoundFile(const CompoundByteSource& source, std::uint64_t limit,
                                    CompoundFileExtent* out);

// The first four entries of the directory's first sector (root first).
struct CompoundDirectoryHead {
    std::u16string names[4]; // up to the NUL, at most 32 characters
    std::uint8_t rootClassId[16] = {};
    std::uint8_t types[4] = {}; // 0 unused, 1 storage, 2 stream, 5 root
    std::uint32_t startSectors[4] = {};
    std::uint64_t streamSizes[4] = {};
    // The names of the root storage's children anywhere in the directory (see
    // ReadCompoundTopLevelNames); empty when not read.
    std::vector<std::u16string> topLevel;
};

// Reads the four entries from the first 512 bytes of a directory sector; false when the span
// is shorter.
bool ReadCompoundDirectoryHead(ByteSpan directorySector, std::uint32_t sectorShift,
                               CompoundDirectoryHead* out);
// Follows the directory's sector chain through the FAT (at most kMaxDirectorySectors sectors,
// each inside the extent) and the root's tree of children (each entry at most once), and
// fills `head->topLevel` with the names of the root's children. Whatever cannot be read or
// followed is left out; false when a sector of the chain could not be read.
bool ReadCompoundTopLevelNames(const CompoundByteSource& source, const CompoundFileExtent& extent,
                               CompoundDirectoryHead* head);
// Whether the head starts with the root entry and every entry of it that keeps its data in
// regular sectors (the root's mini stream, streams at or above the mini-stream cutoff) starts
// inside the extent.
bool CompoundEntriesInside(const CompoundDirectoryHead& head, const CompoundFileExtent& extent);
// The document kind from the entry names (the first four, and the root's children for the
// Word, Excel and PowerPoint streams, which writers may place anywhere) and the root's class id (COMPOUND_MOF when no rule
// matches). `sizeGrowth` (optional) gets the bytes a kind keeps behind its FAT-described
// sectors (1024 for Visio).
std::uint32_t ClassifyCompoundDocument(const CompoundDirectoryHead& head,
                                       std::uint64_t* sizeGrowth = nullptr);

// The kind of a compound file held whole in memory (a file on a volume, a recovered file):
// one of the CompoundDocumentKind ids other than COMPOUND_OLE, or 0 when the bytes are not a
// readable compound file.
std::uint32_t IdentifyCompoundDocument(ByteSpan file);
