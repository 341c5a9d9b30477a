#pragma once
// A disk image (storage/DiskImage.h) opened as a sector device: each read finds its blocks
// through the index, reads the stored bytes from their slice and decodes them. Blocks of an
// image stored without compression are read straight from the slice into the caller's buffer,
// a run of them in one read. For compressed images, once reads go through the blocks in order,
// worker threads decode the next few blocks ahead (each with its own files and decoder), so a
// sequential reader waits on decoding only as long as one block takes on all of them together;
// a read elsewhere drops what was queued ahead.
#include "storage/BlockCodec.h"
#include "storage/DiskImage.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CImageReadAhead;

class CImageFileDeviceWithDecompress : public IStorageDevice {
public:
    // Opens the main file read-only and reads its header. A main file that does not open or
    // whose header is damaged leaves the device empty (size 0, no slices). The size is the
    // whole blocks before the last one plus the sectors the last block decodes to (whole
    // blocks, logged, when it cannot be decoded). A header whose block count disagrees with
    // the index or the slices' counts is cut to the smallest of them, with a log line.
    explicit CImageFileDeviceWithDecompress(const char* mainPath);
    ~CImageFileDeviceWithDecompress() override;
    CImageFileDeviceWithDecompress(const CImageFileDeviceWithDecompress&) = delete;
    CImageFileDeviceWithDecompress& operator=(const CImageFileDeviceWithDecompress&) = delete;

    // 1 when the main file, the slice list and every listed slice can be found, else 0.
    // A listed slice that does not exist is looked for under its file name beside the main
    // file (an image moved as a folder, or made on another system). Slices shorter than their
    // blocks need are logged, and their missing blocks counted, but do not make the image
    // unusable: the blocks that are there read as they should.
    int CheckSliceFiles();
    // Sectors of the blocks whose stored bytes lie past the end of their slice file (a slice
    // cut short): they cannot be read. Known once CheckSliceFiles has found the slices.
    std::uint64_t GetMissingSectorCount() const;
    // The imaged source's caption (260 bytes, zero-terminated).
    void GetSourceName(char name[260]) const;
    const CImageFile* GetImageFile() const { return m_files.get(); }
    // Decoding ahead on sequential reads of a compressed image with `workers` threads (0 turns
    // it off). The default is one thread per core but one, at most 4.
    void SetReadAheadWorkers(unsigned workers);
    // Blocks the reads took from the workers' decoding (for tests and benches).
    std::uint64_t GetBlocksDecodedAhead() const { return m_blocksDecodedAhead; }

    // Reads that start at or past the end, or ask for more sectors than the image has, fail.
    // A read that runs past the end delivers the sectors the image has, zero-fills the rest and
    // fails (0), as does a read touching a block that cannot be read or decoded: its sectors are
    // zero-filled, the other blocks' sectors are delivered.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_size; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    bool ResolveSlicePaths();
    // Counts (and logs) the blocks that lie past the end of their slice file.
    void CheckSliceLengths();
    // A block counted by CheckSliceLengths: it fails even where part of it is there.
    bool IsMissing(std::uint64_t block) const;
    bool OpenSliceForRead(std::uint32_t slice);
    // Index entry `index` of the main file, through a window of entries kept in memory.
    bool IndexEntry(std::uint64_t index, std::uint32_t* value);
    bool LocateBlock(std::uint64_t block, ImageBlockExtent* extent);
    // Where a block of an image without a decoder lies, when its length is one a raw block can
    // have (a whole block, or whole sectors for the last block); false otherwise.
    bool LocateRawBlock(std::uint64_t block, ImageBlockExtent* extent);
    // Reads sectors from `first` on, at most `count`, straight from a slice of an image without
    // a decoder: from the first one's block on through the blocks that follow it in the same
    // slice. The sectors delivered; 0 when the first block cannot be read this way.
    std::uint64_t ReadRawRun(std::uint8_t* out, std::uint64_t first, std::uint64_t count);
    // Decodes block `block` into m_block (the last decoded block is kept). A block that failed
    // fails again at once until another block fails, so sector-by-sector retries stay cheap
    // and the failure is logged once; a block past the end of its slice fails at once.
    bool ReadBlock(std::uint64_t block);
    bool LoadBlock(std::uint64_t block);
    void CheckBlockCount();

    std::unique_ptr<CImageFile> m_files;
    std::unique_ptr<IDecompressor> m_decompressor;
    std::uint64_t m_size = 0;
    std::string m_mainPath;
    ImageHeaderInfo m_header;
    bool m_headerValid = false;
    std::vector<std::string> m_slicePaths;
    std::vector<std::uint8_t> m_stored;
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_cachedBlock = ~std::uint64_t(0);
    std::uint32_t m_cachedSectors = 0;  // sectors the cached block decoded to
    std::uint64_t m_failedBlock = ~std::uint64_t(0);
    // Blocks [first, end) past the end of a slice, one range per short slice.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_missingBlocks;
    // Index entries [m_indexFirst, m_indexFirst + m_index.size()).
    std::vector<std::uint32_t> m_index;
    std::uint64_t m_indexFirst = 0;
    // Read-ahead: started on the second block in a row read in order.
    std::unique_ptr<CImageReadAhead> m_readAhead;
    unsigned m_readAheadWorkers;
    bool m_readAheadFailed = false;
    std::uint64_t m_lastBlock = ~std::uint64_t(0);
    std::uint32_t m_inOrder = 0;
    std::uint64_t m_blocksDecodedAhead = 0;
};
