#pragma once
// A disk image (storage/DiskImage.h) opened as a sector device: each read finds its blocks
// through the index, reads the stored bytes from their slice and decodes them. Once reads go
// through the blocks in order, worker threads decode the next few blocks ahead (each with its
// own files and decoder), so a sequential reader waits on decoding only as long as one block
// takes on all of them together; a read elsewhere drops what was queued ahead.
#include "storage/BlockCodec.h"
#include "storage/DiskImage.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <memory>
#include <string>
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
    // file (an image moved as a folder, or made on another system).
    int CheckSliceFiles();
    // The imaged source's caption (260 bytes, zero-terminated).
    void GetSourceName(char name[260]) const;
    const CImageFile* GetImageFile() const { return m_files.get(); }
    // Decoding ahead on sequential reads with `workers` threads (0 turns it off). The default is
    // one thread per core but one, at most 4.
    void SetReadAheadWorkers(unsigned workers);
    // Blocks the reads took from the workers' decoding (for tests and benches).
    std::uint64_t GetBlocksDecodedAhead() const { return m_blocksDecodedAhead; }

    // Reads that start at or past the end, or ask for more sectors than the image has, fail.
    // A read that runs past the end is clipped and its tail zero-filled. Sectors of a block
    // that cannot be read or decoded are zero-filled and the result is 0.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_size; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    bool ResolveSlicePaths();
    bool OpenSliceForRead(std::uint32_t slice);
    // Decodes block `block` into m_block (the last decoded block is kept).
    bool ReadBlock(std::uint64_t block);
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
    // Read-ahead: started on the second block in a row read in order.
    std::unique_ptr<CImageReadAhead> m_readAhead;
    unsigned m_readAheadWorkers;
    bool m_readAheadFailed = false;
    std::uint64_t m_lastBlock = ~std::uint64_t(0);
    std::uint32_t m_inOrder = 0;
    std::uint64_t m_blocksDecodedAhead = 0;
};
