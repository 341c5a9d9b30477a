#pragma once
// Parsers that several analysers share to size a file by walking its structure: ZIP records,
// RAR blocks, QuickTime/MP4 atoms, ID3 sizes, MPEG audio frame heads, and the search for a
// text end marker. The record parsers take the bytes at hand as a bounded span and fail when
// a field lies outside it. None of them throws.
#include <cstdint>

#include "carving/records/RawFileInfo.h"
#include "storage/ByteSpan.h"
#include "storage/StorageDevice.h"

// ---- ZIP (little-endian records recognised by their first u32) ----
constexpr std::uint32_t kZipLocalHeader = 0x04034B50;   // 30 fixed bytes
constexpr std::uint32_t kZipCentralHeader = 0x02014B50; // 46 fixed bytes
constexpr std::uint32_t kZipEndOfCentral = 0x06054B50;  // 22 fixed bytes

// A local header is valid with a compression method up to 10 and a name of up to 1040 bytes;
// central directory and end records are always valid; anything else is not.
int IsValidZipRecord(ByteSpan record);
// The whole record's length (fixed part, variable fields and, for a local header, the
// compressed data); 0 (failure) for an unknown record or fields outside the span.
int GetZipRecordLength(ByteSpan record, std::uint32_t* length);

// ---- RAR 1.5 to 4.x blocks: u16 CRC, u8 type at 2, u16 flags at 3, u16 head size at 5 ----
int IsValidRarBlock(ByteSpan block);
int GetRarBlockSize(ByteSpan block, std::uint64_t* size);

// ---- QuickTime / MP4 atoms ----
// The atom's big-endian size; fails for 0 and 0xFFFFFFFF.
int ReadAtomSize(ByteSpan atom, std::uint32_t* size);
// An atom's whole size and header length: a size of 1 means a 64-bit size follows the type
// (header 16 bytes), 0 that the atom runs to the end of the file (*size 0). Fails for an atom
// smaller than its own header or fields outside the span.
int ReadAtomHead(ByteSpan head, std::uint64_t* size, std::uint32_t* headerBytes);
// Walks at most this many top-level atoms.
constexpr std::uint32_t kMaxQuickTimeAtoms = 1000000;
// Sizes a QuickTime, MP4 or 3GP file by walking its top-level atoms from the first one (whose
// type the signature has tested; later ones must be known top-level types, any case) with
// 64-bit sizes, up to ScanOptions.MaxRawFileSize. On a window device (the RAW search's ring) an
// atom head out of reach gives up, leaving the file to be sized on the device. 1 with the size
// written, or 0.
int WalkQuickTimeAtoms(CRawFileInfo* record, IStorageDevice* device);

// ---- MPEG audio ----
// The ID3v2 tag size of four sync-safe bytes; fails when a byte has its top bit set.
int DecodeSyncSafeSize(ByteSpan bytes, std::uint32_t* size);
int IsValidMp3Header(std::uint32_t header);
// Frame length in bytes of a valid header word (big-endian), from the bit-rate and sampling-rate
// tables of MPEG-1, MPEG-2 and MPEG-2.5 and the layer's samples per frame; 0 (failure) for an
// invalid one.
int GetMp3FrameLength(std::uint32_t header, std::uint32_t* length);

// ---- Deflate streams (gzip members, zlib streams) ----
class RawFileReader;
enum : int {
    kStreamEnded = 1,       // *end: offset just behind the stream (and its trailer)
    kStreamDamaged = 0,     // not a stream zlib can decode
    kStreamUnreadable = -1, // the bytes ran out before the stream ended
    kStreamPastLimit = 2,   // still going beyond the limit; *end: the offset reached
};
// How far a decode got: whether the stream's first deflate block decoded whole, and, for a
// damaged or unreadable stream, the offset just behind the bytes zlib took before it stopped.
struct DeflateProgress {
    bool firstBlockDecoded = false;
    std::uint64_t stoppedAt = 0;
};
// Decodes the stream at `offset` of the reader's file (`windowBits` as zlib's inflateInit2
// takes it: 15 + 16 for a gzip member, 15 for a zlib stream) only to find where it ends.
int FindDeflateStreamEnd(RawFileReader& reader, std::uint64_t offset, int windowBits,
                         std::uint64_t limit, std::uint64_t* end,
                         DeflateProgress* progress = nullptr);

// ---- Text end marker ----
struct TextEndMarker {
    std::uint8_t bytes[64] = {};
    std::uint32_t length = 0;      // 1 to 64
    std::uint64_t longestScan = 0; // bytes; 0 = ScanOptions.MaxRawFileSize
};
// Looks for the marker (without regard to ASCII case) from the file's first byte. Found: the
// size ends behind it. Not found within the longest scan L: the size is L + 1. Result 1 with
// the size written; 0 (size untouched) when the bytes run out first.
int FindTextEnd(CRawFileInfo* record, IStorageDevice* device, const TextEndMarker* marker);
// Position of the first case-insensitive occurrence of `needle` in `hay`, or -1.
std::int64_t FindBytesNoCase(const std::uint8_t* hay, std::size_t hayLength,
                             const std::uint8_t* needle, std::size_t needleLength);
