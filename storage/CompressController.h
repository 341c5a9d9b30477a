#pragma once
// Writes a sector range of a device as a disk image: 128 KiB blocks, each compressed on its
// own or stored raw, appended to slice files of bounded size, with the block index in the
// main file and the slice paths in the slice list (see storage/DiskImage.h).
#include "storage/BlockCodec.h"
#include "storage/CompressCallBack.h"
#include "storage/DiskImage.h"
#include "storage/FileSystemType.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCompressController {
public:
    // Largest slice: its end offsets must fit the u32 index entries.
    static constexpr std::uint32_t kMaxSliceSectors = 0x7FFFF8;

    CCompressController();
    ~CCompressController();
    CCompressController(const CCompressController&) = delete;
    CCompressController& operator=(const CCompressController&) = delete;

    // Source device (not owned), its caption (cut to 259 bytes), the first sector and the
    // number of sectors to image, and the source's heads per cylinder.
    void Setup(IStorageDevice* source, const char* sourceName, std::uint64_t firstSector,
               std::uint64_t sectorCount, std::uint32_t headsPerCylinder);

    void SetCompressionType(CompressionType type) { m_compressionType = type; }
    void SetCompressionLevel(int level) { m_level = level; }
    // Threads that compress blocks: 0 (the default) means one per core, 1 compresses on the
    // calling thread. The image's bytes are the same for any count; reading the source,
    // writing the files and every callback stay on the calling thread.
    void SetThreadCount(unsigned threads) { m_threads = threads; }
    // Blocks read ahead and being compressed at once, per thread.
    static constexpr unsigned kBlocksInFlightPerThread = 3;
    // Takes ownership; null stores every block raw.
    void SetCompressor(ICompressor* compressor) { m_compressor.reset(compressor); }
    // Slice size in sectors; 0 or more than kMaxSliceSectors means kMaxSliceSectors.
    void SetSliceSize(std::uint32_t sectors) { m_sliceSectors = sectors; }
    // The main file's path (".edi"). Later slices are named from the path held when they are
    // created, so a caller may point them elsewhere while the image is written.
    void SetImagePath(const std::string& path) { m_imagePath = path; }

    // Writes the image. 1 when it was written to its end or stopped by the callback; 0 when a
    // file cannot be created or written, or the image would need more than 59 slices. What was
    // written so far stays on disk with a header that describes it.
    int CreateImage(ICompressCallBack* callback);

    // Source sectors that could not be read and were stored as zeros.
    std::uint64_t GetUnreadableSectorCount() const { return m_unreadableSectors; }
    std::uint32_t GetSlicesOpened() const { return m_slicesOpened; }
    // Blocks stored raw although a compressor was set (it failed or did not shrink them).
    std::uint64_t GetRawBlockCount() const { return m_rawBlocks; }

    // Compresses one block into `output` (capacity kImageStoredBlockCapacity); returns the
    // stored length. The raw bytes are stored when there is no compressor, the codec fails or
    // the stream would not be smaller than the block.
    std::uint32_t CompressBlock(const std::uint8_t* data, std::uint32_t length,
                                std::uint8_t* output, std::uint32_t capacity);

private:
    struct PendingBlock;
    class CompressPool;

    bool CreateImageFiles();
    int RunBlocksSequential(ICompressCallBack* callback, std::uint64_t blocks);
    int RunBlocksParallel(ICompressCallBack* callback, std::uint64_t blocks,
                          const std::vector<ICompressor*>& codecs);
    // Reads the block's sectors into `in` (zeroed first); returns the unreadable sectors.
    std::uint32_t ReadSourceInto(std::uint8_t* in, std::uint64_t blockIndex, std::uint32_t sectors);
    void NoteUnreadable(std::uint32_t bad, std::uint64_t blockIndex, std::uint32_t sectors);
    void NoteRawBlock(const char* codecName, int reason);
    bool ProcessBlock(std::uint64_t blockIndex, std::uint32_t sectors, bool newSliceRequest,
                      std::uint32_t* storedBytes);
    bool WriteBlock(const std::uint8_t* data, std::uint32_t length, bool newSliceRequest);
    bool OpenNextSlice();
    bool UpdateHeaderSlices(std::uint32_t blocksInSlice, std::uint32_t slices);

    std::unique_ptr<CImageFile> m_imageFiles;
    std::string m_imagePath;
    std::string m_mainPath;  // where the main file and the slice list were created
    std::uint32_t m_blocksInSlice = 0;
    std::uint64_t m_totalStoredBytes = 0;
    std::uint64_t m_sliceStoredBytes = 0;
    std::uint32_t m_slicesOpened = 0;
    std::uint64_t m_nextBlock = 0;
    IStorageDevice* m_source = nullptr;
    std::string m_sourceName;
    std::uint32_t m_headsPerCylinder = 255;
    std::uint64_t m_firstSector = ~std::uint64_t(0);
    std::uint64_t m_sectorCount = ~std::uint64_t(0);
    std::unique_ptr<ICompressor> m_compressor;
    CompressionType m_compressionType = COMPRESSION_NONE;
    std::uint32_t m_sliceSectors = kMaxSliceSectors;
    int m_level = 1;
    std::uint64_t m_unreadableSectors = 0;
    std::uint64_t m_rawBlocks = 0;
    unsigned m_threads = 0;
    std::uint8_t m_header[kImageHeaderSize] = {};
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_out;
};
