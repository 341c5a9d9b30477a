#include "storage/CompressController.h"

#include "logging/Log.h"
#include "platform/ThreadStart.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr std::uint32_t kLzmaDictionaryRequest = 8u << 20;

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const char* text, std::size_t limit) {
    std::string s = text ? text : "";
    if (s.size() <= limit)
        return s;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

enum RawReason { kNotRaw = 0, kCodecFailed = 1, kNotSmaller = 2 };

// Compresses one block; the raw bytes are stored when there is no codec, it fails or its
// stream is not smaller than the block. Returns the stored length.
std::uint32_t EncodeBlock(ICompressor* codec, int level, const std::uint8_t* data,
                          std::uint32_t length, std::uint8_t* output, std::uint32_t capacity,
                          int* rawReason) {
    std::uint32_t stored = 0;
    *rawReason = kNotRaw;
    if (codec)
        stored = CompressWithCodec(codec, level, kLzmaDictionaryRequest, data, length, output,
                                   capacity);
    if (stored == 0 || stored >= length) {
        if (codec)
            *rawReason = stored == 0 ? kCodecFailed : kNotSmaller;
        stored = std::min(length, capacity);
        std::memcpy(output, data, stored);
    }
    return stored;
}

}  // namespace

// One block on its way through the pool: read on the calling thread, compressed by a worker,
// written on the calling thread.
struct CCompressController::PendingBlock {
    std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kImageBlockBytes);
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kImageStoredBlockCapacity);
    std::uint32_t length = 0;
    std::uint32_t sectors = 0;
    std::uint32_t unreadable = 0;
    std::uint32_t stored = 0;
    int rawReason = kNotRaw;
    bool done = false;  // guarded by the pool's mutex
};

// Worker threads, each with its own codec, taking blocks from one queue in submission order.
class CCompressController::CompressPool {
public:
    CompressPool(const std::vector<ICompressor*>& codecs, int level) : m_level(level) {
        for (ICompressor* codec : codecs) {
            try {
                m_threads.push_back(platform::StartThread([this, codec] { Run(codec); }));
            } catch (const std::system_error&) {
                break;  // fewer workers; at least one is needed (see Started)
            }
        }
    }
    ~CompressPool() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_work.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    CompressPool(const CompressPool&) = delete;
    CompressPool& operator=(const CompressPool&) = delete;

    bool Started() const { return !m_threads.empty(); }

    void Submit(PendingBlock* block) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            block->done = false;
            m_queue.push_back(block);
        }
        m_work.notify_one();
    }

    void Wait(PendingBlock* block) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [block] { return block->done; });
    }

private:
    void Run(ICompressor* codec) {
        for (;;) {
            PendingBlock* block = nullptr;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_work.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                if (m_stop)
                    return;
                block = m_queue.front();
                m_queue.pop_front();
            }
            block->stored = EncodeBlock(codec, m_level, block->in.data(), block->length,
                                        block->out.data(), kImageStoredBlockCapacity,
                                        &block->rawReason);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                block->done = true;
            }
            m_done.notify_all();
        }
    }

    const int m_level;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::deque<PendingBlock*> m_queue;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

CCompressController::CCompressController()
    : m_in(kImageBlockBytes), m_out(kImageStoredBlockCapacity) {}

CCompressController::~CCompressController() = default;

void CCompressController::Setup(IStorageDevice* source, const char* sourceName,
                                std::uint64_t firstSector, std::uint64_t sectorCount,
                                std::uint32_t headsPerCylinder) {
    m_source = source;
    m_sourceName = CutUtf8(sourceName, kImageSourceNameSize - 1);
    m_firstSector = firstSector;
    m_sectorCount = sectorCount;
    m_headsPerCylinder = headsPerCylinder;
}

bool CCompressController::CreateImageFiles() {
    m_imageFiles = std::make_unique<CImageFile>();
    std::memset(m_header, 0, sizeof m_header);
    std::memcpy(m_header, m_sourceName.data(), m_sourceName.size());
    MutableByteSpan(m_header, sizeof m_header).put32(kImageOffsetCompression, m_compressionType);
    MutableByteSpan(m_header, sizeof m_header).put32(kImageOffsetHeads, m_headsPerCylinder);
    m_mainPath = m_imagePath;
    if (!m_imageFiles->CreateMainFile(m_mainPath) ||
        !m_imageFiles->WriteMain(0, m_header, sizeof m_header)) {
        LogError("Cannot create the image file %s", m_mainPath.c_str());
        return false;
    }
    std::string list = ImageSliceListPath(m_mainPath);
    if (!m_imageFiles->CreateSliceList(list)) {
        LogError("Cannot create the image slice list %s", list.c_str());
        return false;
    }
    m_slicesOpened = 0;
    return OpenNextSlice();
}

bool CCompressController::OpenNextSlice() {
    if (m_slicesOpened >= kImageMaxSlices) {
        LogError("The image %s needs more than %u slices; use a larger slice size",
                 m_mainPath.c_str(), kImageMaxSlices);
        return false;
    }
    std::string path = ImageSlicePath(m_imagePath, m_slicesOpened);
    if (!m_imageFiles->CreateSlice(path, static_cast<int>(m_slicesOpened)) ||
        !m_imageFiles->AppendSliceListLine(path)) {
        LogError("Cannot create the image slice %s", path.c_str());
        return false;
    }
    ++m_slicesOpened;
    m_blocksInSlice = 0;
    m_sliceStoredBytes = 0;
    return true;
}

int CCompressController::CreateImage(ICompressCallBack* callback) {
    if (!m_source || m_sectorCount == ~std::uint64_t(0) || m_firstSector == ~std::uint64_t(0) ||
        m_sectorCount > ~std::uint64_t(0) - m_firstSector || m_imagePath.empty()) {
        LogError("Image: nothing to image");
        return 0;
    }
    const std::uint64_t blocks = (m_sectorCount + kImageBlockSectors - 1) / kImageBlockSectors;
    if (blocks > 0xFFFFFFFFull) {
        LogError("Image: %" PRIu64 " sectors are too many for one image", m_sectorCount);
        return 0;
    }
    m_nextBlock = 0;
    m_totalStoredBytes = 0;
    m_unreadableSectors = 0;
    m_rawBlocks = 0;
    if (!CreateImageFiles())
        return 0;
    if (callback)
        callback->SetBlockCount(0, blocks);

    unsigned threads = m_threads ? m_threads : std::max(1u, std::thread::hardware_concurrency());
    // Worker codecs: the one the caller set, and more of the same kind.
    std::vector<std::unique_ptr<ICompressor>> extra;
    std::vector<ICompressor*> codecs;
    if (m_compressor && threads > 1 && blocks > 1) {
        codecs.push_back(m_compressor.get());
        threads = static_cast<unsigned>(std::min<std::uint64_t>(threads, blocks));
        while (codecs.size() < threads) {
            std::unique_ptr<ICompressor> more(CreateCompressor(m_compressionType));
            if (!more || std::strcmp(more->GetName(), m_compressor->GetName()) != 0)
                break;  // a codec this writer cannot make more of: compress on one thread
            codecs.push_back(more.get());
            extra.push_back(std::move(more));
        }
    }
    const bool ok = codecs.size() > 1 ? RunBlocksParallel(callback, blocks, codecs)
                                      : RunBlocksSequential(callback, blocks);
    bool headerOk = UpdateHeaderSlices(m_blocksInSlice, m_slicesOpened);
    if (!headerOk)
        LogError("Cannot write the header of the image %s", m_mainPath.c_str());
    if (m_unreadableSectors)
        LogWarning("Image %s: %" PRIu64 " unreadable sectors were stored as zeros",
                   m_mainPath.c_str(), m_unreadableSectors);
    if (m_rawBlocks)
        LogInfo("Image %s: %" PRIu64 " of %" PRIu64 " blocks stored raw", m_mainPath.c_str(),
                m_rawBlocks, m_nextBlock);
    return ok && headerOk ? 1 : 0;
}

int CCompressController::RunBlocksSequential(ICompressCallBack* callback, std::uint64_t blocks) {
    std::uint64_t remaining = m_sectorCount;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        if (callback && callback->IsCancelled())
            break;
        bool request = callback && callback->IsNewSliceRequested();
        std::uint32_t k = remaining >= kImageBlockSectors ? kImageBlockSectors
                                                          : static_cast<std::uint32_t>(remaining);
        std::uint32_t stored = kImageBlockBytes;
        if (k && !ProcessBlock(i, k, request, &stored))
            return 0;
        remaining -= k;
        if (callback) {
            callback->ClearNewSliceRequest(stored);
            callback->OnBlockDone(i);
            callback->PumpMessages();
        }
    }
    return 1;
}

int CCompressController::RunBlocksParallel(ICompressCallBack* callback, std::uint64_t blocks,
                                           const std::vector<ICompressor*>& codecs) {
    // The window of blocks in flight; the slots outlive the pool that works on them.
    const std::size_t window = codecs.size() * kBlocksInFlightPerThread;
    std::vector<PendingBlock> slots(window);
    CompressPool pool(codecs, m_level);
    if (!pool.Started())
        return RunBlocksSequential(callback, blocks);

    std::uint64_t readNext = 0;
    std::uint64_t readRemaining = m_sectorCount;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        if (callback && callback->IsCancelled())
            break;
        bool request = callback && callback->IsNewSliceRequested();
        // Keep the window full: the source is read here, ahead of the blocks being written.
        while (readNext < blocks && readNext < i + window) {
            PendingBlock& b = slots[readNext % window];
            b.sectors = readRemaining >= kImageBlockSectors
                            ? kImageBlockSectors
                            : static_cast<std::uint32_t>(readRemaining);
            b.length = b.sectors * kSectorSize;
            b.unreadable = ReadSourceInto(b.in.data(), readNext, b.sectors);
            readRemaining -= b.sectors;
            pool.Submit(&b);
            ++readNext;
        }
        PendingBlock& b = slots[i % window];
        pool.Wait(&b);
        NoteUnreadable(b.unreadable, i, b.sectors);
        if (b.rawReason != kNotRaw)
            NoteRawBlock(m_compressor->GetName(), b.rawReason);
        if (!WriteBlock(b.out.data(), b.stored, request))
            return 0;
        if (callback) {
            callback->ClearNewSliceRequest(b.stored);
            callback->OnBlockDone(i);
            callback->PumpMessages();
        }
    }
    return 1;
}

std::uint32_t CCompressController::ReadSourceInto(std::uint8_t* in, std::uint64_t blockIndex,
                                                  std::uint32_t sectors) {
    std::memset(in, 0, kImageBlockBytes);
    std::uint64_t first = m_firstSector + blockIndex * kImageBlockSectors;
    if (m_source->ReadSectors(in, first, sectors))
        return 0;
    // Retry sector by sector; what stays unreadable is stored as zeros.
    std::uint32_t bad = 0;
    for (std::uint32_t s = 0; s < sectors; ++s) {
        std::uint8_t* p = in + std::size_t(s) * kSectorSize;
        if (!m_source->ReadSectors(p, first + s, 1)) {
            std::memset(p, 0, kSectorSize);
            ++bad;
        }
    }
    return bad;
}

void CCompressController::NoteUnreadable(std::uint32_t bad, std::uint64_t blockIndex,
                                         std::uint32_t sectors) {
    if (!bad)
        return;
    std::uint64_t first = m_firstSector + blockIndex * kImageBlockSectors;
    m_unreadableSectors += bad;
    LogWarning("Image: %u unreadable sectors between sector %" PRIu64 " and %" PRIu64
               " stored as zeros",
               bad, first, first + sectors - 1);
}

void CCompressController::NoteRawBlock(const char* codecName, int reason) {
    // The first raw block says why; CreateImage sums them up at the end.
    if (m_rawBlocks++ == 0)
        LogInfo("Image: the %s codec %s a block at level %d; it is stored raw", codecName,
                reason == kCodecFailed ? "could not compress" : "did not shrink", m_level);
}

std::uint32_t CCompressController::CompressBlock(const std::uint8_t* data, std::uint32_t length,
                                                 std::uint8_t* output, std::uint32_t capacity) {
    int reason = kNotRaw;
    std::uint32_t stored =
        EncodeBlock(m_compressor.get(), m_level, data, length, output, capacity, &reason);
    if (reason != kNotRaw)
        NoteRawBlock(m_compressor->GetName(), reason);
    return stored;
}

bool CCompressController::ProcessBlock(std::uint64_t blockIndex, std::uint32_t sectors,
                                       bool newSliceRequest, std::uint32_t* storedBytes) {
    NoteUnreadable(ReadSourceInto(m_in.data(), blockIndex, sectors), blockIndex, sectors);
    std::fill(m_out.begin(), m_out.end(), 0);
    std::uint32_t length = sectors * kSectorSize;
    std::uint32_t stored = CompressBlock(m_in.data(), length, m_out.data(),
                                         static_cast<std::uint32_t>(m_out.size()));
    if (!WriteBlock(m_out.data(), stored, newSliceRequest))
        return false;
    *storedBytes = stored;
    return true;
}

bool CCompressController::WriteBlock(const std::uint8_t* data, std::uint32_t length,
                                     bool newSliceRequest) {
    std::uint32_t sliceSectors = m_sliceSectors;
    if (sliceSectors == 0 || sliceSectors > kMaxSliceSectors)
        sliceSectors = kMaxSliceSectors;
    const std::uint64_t sliceBytes = std::uint64_t(sliceSectors) * kSectorSize;
    // A block joins the current slice only while the slice, header included, stays below the
    // slice size; an empty slice always takes its first block.
    bool full = m_blocksInSlice > 0 &&
                m_sliceStoredBytes + length + kImageSliceDataOffset >= sliceBytes;
    if (full || newSliceRequest) {
        if (!UpdateHeaderSlices(m_blocksInSlice, m_slicesOpened) || !OpenNextSlice())
            return false;
    }
    std::uint64_t end = m_sliceStoredBytes + length;
    if (end > 0xFFFFFFFFull) {
        LogError("Image %s: slice too large", m_mainPath.c_str());
        return false;
    }
    if (!m_imageFiles->WriteSlice(kImageSliceDataOffset + m_sliceStoredBytes, data, length)) {
        LogError("Cannot write to the image slice %s",
                 ImageSlicePath(m_imagePath, m_slicesOpened - 1).c_str());
        return false;
    }
    std::uint8_t entry[4];
    MutableByteSpan(entry, sizeof entry).put32(0, static_cast<std::uint32_t>(end));
    if (!m_imageFiles->WriteMain(kImageHeaderSize + 4 * m_nextBlock, entry, sizeof entry)) {
        LogError("Cannot write the block index of the image %s", m_mainPath.c_str());
        return false;
    }
    ++m_blocksInSlice;
    ++m_nextBlock;
    m_totalStoredBytes += length;
    m_sliceStoredBytes = end;
    return true;
}

bool CCompressController::UpdateHeaderSlices(std::uint32_t blocksInSlice, std::uint32_t slices) {
    if (!m_imageFiles || !m_imageFiles->IsMainOpen())
        return false;
    const ByteSpan header(m_header, sizeof m_header);
    const MutableByteSpan write(m_header, sizeof m_header);
    const std::uint32_t recorded = header.u32(kImageOffsetSliceCount);
    if (recorded < kImageMaxSlices && slices > recorded) {
        write.put32(kImageOffsetTotalBlocks, header.u32(kImageOffsetTotalBlocks) + blocksInSlice);
        write.put32(kImageOffsetSliceBlocks + 4 * recorded, blocksInSlice);
        write.put32(kImageOffsetSliceCount, slices);
    }
    return m_imageFiles->WriteMain(0, m_header, sizeof m_header);
}
