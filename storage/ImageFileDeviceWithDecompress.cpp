#include "storage/ImageFileDeviceWithDecompress.h"

#include "logging/Log.h"
#include "platform/ThreadStart.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file name of a listed path, which may use '/' or '\' as separator.
std::string FileNameOf(const std::string& path) {
    std::size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// Index entries read from the main file at a time.
constexpr std::uint64_t kIndexWindow = 4096;
// Parts of a block at least this long are read straight into the caller's buffer when the image
// has no decoder; shorter ones go through the kept block, so small reads in a row cost one read.
constexpr std::uint64_t kDirectReadSectors = 16;

// Where `block` is stored, through the index in `files`' main file.
bool LocateBlockIn(const CImageFile& files, const ImageHeaderInfo& header, std::uint64_t block,
                   ImageBlockExtent* extent) {
    auto readEntry = [&files](std::uint64_t index, std::uint32_t* value) {
        std::uint8_t b[4];
        if (!files.ReadMain(kImageHeaderSize + 4 * index, b, sizeof b))
            return false;
        *value = ByteSpan(b, sizeof b).u32(0);
        return true;
    };
    return LocateImageBlock(header, block, readEntry, extent);
}

// A block stored without coding holds a whole block's bytes, or whole sectors when it is the
// image's last block.
bool IsRawBlockLength(std::uint32_t length, bool last) {
    return length % kSectorSize == 0 && length <= kImageBlockBytes &&
           (last || length == kImageBlockBytes);
}

// Decodes the `length` stored bytes of a block into `out` (a whole block's bytes, zero-filled
// past what the block holds) and gives the sectors it holds. A stream must fill the block (only
// the last block may hold fewer whole sectors); what does not decode may have been stored raw,
// in a whole block's bytes or, for the last block only, in fewer whole sectors.
bool DecodeStoredBlock(IDecompressor* decompressor, const std::uint8_t* stored, std::uint32_t length, bool last,
                       std::uint8_t* out, std::uint32_t* sectors) {
    std::uint32_t produced = 0;
    if (decompressor && DecompressWithCodec(decompressor, stored, length, out, kImageBlockBytes, &produced) &&
        (produced == kImageBlockBytes || (last && produced > 0 && produced % kSectorSize == 0))) {
        std::memset(out + produced, 0, kImageBlockBytes - produced);
        *sectors = produced / kSectorSize;
        return true;
    }
    if (!IsRawBlockLength(length, last))
        return false;
    std::memcpy(out, stored, length);
    std::memset(out + length, 0, kImageBlockBytes - length);
    *sectors = length / kSectorSize;
    return true;
}

unsigned DefaultReadAheadWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores > 1 ? cores - 1 : 1u, 1u, 4u);
}

}  // namespace

// Worker threads that decode the blocks after the one being read, into a fixed set of block
// buffers (two per worker). Each worker reads through its own files and decoder; a block that
// a worker cannot read or decode is left to the reader, which decodes (and reports) it itself.
class CImageReadAhead {
public:
    CImageReadAhead(const std::string& mainPath, const std::vector<std::string>& slicePaths,
                    const ImageHeaderInfo& header, unsigned workers)
        : m_mainPath(mainPath), m_slicePaths(slicePaths), m_header(header), m_slots(2 * std::size_t{workers}) {
        for (Slot& slot : m_slots)
            slot.data.resize(kImageBlockBytes);
        for (unsigned i = 0; i < workers; ++i) {
            auto worker = std::make_unique<Worker>();
            worker->decoder.reset(CreateImageDecompressor(static_cast<CompressionType>(header.compressionType)));
            worker->stored.resize(kImageStoredBlockCapacity);
            m_workers.push_back(std::move(worker));
        }
        try {
            for (unsigned i = 0; i < workers; ++i)
                m_threads.push_back(platform::StartThread([this, i] { Run(*m_workers[i]); }));
        } catch (const std::system_error&) {
            Stop(); // the threads that did start are enough
        }
    }
    ~CImageReadAhead() { Stop(); }
    CImageReadAhead(const CImageReadAhead&) = delete;
    CImageReadAhead& operator=(const CImageReadAhead&) = delete;

    bool Running() const { return !m_threads.empty() && !m_stop; }

    // Queues the blocks from `first` on, as many as there are buffers, in place of anything
    // queued or decoded outside that range.
    void Want(std::uint64_t first) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const std::uint64_t end = std::min<std::uint64_t>(first + m_slots.size(), m_header.totalBlocks);
            auto inRange = [&](const Slot& s) { return s.state != State::Empty && s.block >= first && s.block < end; };
            for (std::uint64_t b = first; b < end; ++b) {
                if (std::any_of(m_slots.begin(), m_slots.end(), [&](const Slot& s) { return s.state != State::Empty && s.block == b; }))
                    continue;
                auto free = std::find_if(m_slots.begin(), m_slots.end(),
                                         [&](const Slot& s) { return s.state != State::Busy && !inRange(s); });
                if (free == m_slots.end())
                    break;
                free->block = b;
                free->state = State::Queued;
            }
        }
        m_work.notify_all();
    }

    // Forgets the blocks not yet started.
    void Drop() {
        std::lock_guard<std::mutex> guard(m_lock);
        for (Slot& s : m_slots)
            if (s.state == State::Queued)
                s.state = State::Empty;
    }

    // When a worker has decoded `block`, or is decoding it (then this waits), its bytes are
    // swapped into `out` (a whole block's size) and true is returned.
    bool Take(std::uint64_t block, std::vector<std::uint8_t>& out, std::uint32_t* sectors) {
        std::unique_lock<std::mutex> guard(m_lock);
        auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                                 [&](const Slot& s) { return s.state != State::Empty && s.block == block; });
        if (slot == m_slots.end())
            return false;
        m_done.wait(guard, [&] { return slot->state != State::Busy; });
        const bool ok = slot->state == State::Done;
        if (ok) {
            out.swap(slot->data);
            *sectors = slot->sectors;
        }
        slot->state = State::Empty;
        return ok;
    }

private:
    enum class State { Empty, Queued, Busy, Done, Failed };
    struct Slot {
        std::uint64_t block = 0;
        State state = State::Empty;
        std::vector<std::uint8_t> data; // a worker's alone while Busy
        std::uint32_t sectors = 0;
    };
    struct Worker {
        CImageFile files;
        std::unique_ptr<IDecompressor> decoder;
        std::vector<std::uint8_t> stored;
    };

    void Stop() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_work.notify_all();
        for (std::thread& t : m_threads)
            t.join();
        m_threads.clear();
    }

    void Run(Worker& worker) {
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            Slot* next = nullptr;
            m_work.wait(guard, [&] {
                if (m_stop)
                    return true;
                for (Slot& s : m_slots)
                    if (s.state == State::Queued && (!next || s.block < next->block))
                        next = &s;
                return next != nullptr;
            });
            if (m_stop)
                return;
            next->state = State::Busy;
            const std::uint64_t block = next->block;
            guard.unlock();
            std::uint32_t sectors = 0;
            const bool ok = Decode(worker, block, next->data.data(), &sectors);
            guard.lock();
            next->sectors = sectors;
            next->state = ok ? State::Done : State::Failed;
            m_done.notify_all();
        }
    }

    bool Decode(Worker& worker, std::uint64_t block, std::uint8_t* out, std::uint32_t* sectors) {
        if (!worker.files.IsMainOpen() && !worker.files.OpenMainFile(m_mainPath))
            return false;
        ImageBlockExtent extent;
        if (!LocateBlockIn(worker.files, m_header, block, &extent) ||
            extent.slice >= m_slicePaths.size())
            return false;
        if (worker.files.OpenSliceIndex() != static_cast<int>(extent.slice) &&
            !worker.files.OpenSlice(m_slicePaths[extent.slice], static_cast<int>(extent.slice)))
            return false;
        return worker.files.ReadSlice(extent.offset, worker.stored.data(), extent.length) &&
               DecodeStoredBlock(worker.decoder.get(), worker.stored.data(), extent.length,
                                 block + 1 == m_header.totalBlocks, out, sectors);
    }

    const std::string m_mainPath;
    const std::vector<std::string> m_slicePaths;
    const ImageHeaderInfo m_header;
    std::mutex m_lock;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::vector<Slot> m_slots; // never resized: workers keep pointers into it
    bool m_stop = false;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<std::thread> m_threads;
};

CImageFileDeviceWithDecompress::CImageFileDeviceWithDecompress(const char* mainPath)
    : m_files(std::make_unique<CImageFile>()), m_mainPath(mainPath ? mainPath : ""),
      m_stored(kImageStoredBlockCapacity), m_block(kImageBlockBytes),
      m_readAheadWorkers(DefaultReadAheadWorkers()) {
    if (!m_files->OpenMainFile(m_mainPath))
        return;
    std::uint8_t header[kImageHeaderSize];
    if (!m_files->ReadMain(0, header, sizeof header) || !m_header.Parse(header, sizeof header)) {
        ReleaseTrace("Image %s: unreadable or damaged header", m_mainPath.c_str());
        m_header = ImageHeaderInfo{};
        return;
    }
    m_headerValid = true;
    m_decompressor.reset(CreateImageDecompressor(static_cast<CompressionType>(m_header.compressionType)));
    CheckBlockCount();
    m_size = std::uint64_t(m_header.totalBlocks) * kImageBlockSectors;
    if (m_header.totalBlocks == 0)
        return;
    // The format keeps no sector count, but the last block holds exactly the remainder.
    const std::uint64_t last = m_header.totalBlocks - 1;
    if (ReadBlock(last))
        m_size = last * kImageBlockSectors + m_cachedSectors;
    else
        ReleaseTrace("Image %s: the last block cannot be decoded; the image is taken as %" PRIu64
                     " whole blocks",
                     m_mainPath.c_str(), std::uint64_t(m_header.totalBlocks));
}

void CImageFileDeviceWithDecompress::CheckBlockCount() {
    // The header's total must agree with the index the main file holds and with the sum of
    // the per-slice counts; the smallest of them is the part every reader can trust.
    const std::uint64_t mainSize = m_files->MainFileSize();
    const std::uint64_t indexed = mainSize > kImageHeaderSize ? (mainSize - kImageHeaderSize) / 4 : 0;
    const std::uint64_t inSlices = m_header.firstBlockOfSlice[m_header.sliceCount];
    const std::uint64_t consistent =
        std::min<std::uint64_t>({m_header.totalBlocks, indexed, inSlices});
    if (consistent == m_header.totalBlocks)
        return;
    ReleaseTrace("Image %s: the header names %u blocks, the slices %" PRIu64 " and the index %" PRIu64
                 "; %" PRIu64 " blocks are used",
                 m_mainPath.c_str(), m_header.totalBlocks, inSlices, indexed, consistent);
    m_header.totalBlocks = static_cast<std::uint32_t>(consistent);
}

CImageFileDeviceWithDecompress::~CImageFileDeviceWithDecompress() = default;

void CImageFileDeviceWithDecompress::SetReadAheadWorkers(unsigned workers) {
    m_readAhead.reset();
    m_readAheadFailed = false;
    m_readAheadWorkers = std::min(workers, 16u);
}

void CImageFileDeviceWithDecompress::GetSourceName(char name[260]) const {
    std::memcpy(name, m_header.sourceName, kImageSourceNameSize);
    name[kImageSourceNameSize - 1] = 0;
}

bool CImageFileDeviceWithDecompress::ResolveSlicePaths() {
    if (!m_headerValid || !m_files->IsMainOpen())
        return false;
    if (m_slicePaths.size() == m_header.sliceCount)
        return true;
    std::string listPath = ImageSliceListPath(m_mainPath);
    CImageFile list;
    if (!list.OpenMainFile(listPath)) {
        ReleaseTrace("Image %s: cannot open the slice list %s", m_mainPath.c_str(), listPath.c_str());
        return false;
    }
    // Enough for every slice's line; anything beyond is not needed.
    std::uint64_t want = std::min<std::uint64_t>(list.MainFileSize(),
                                                 std::uint64_t(m_header.sliceCount) *
                                                     (kImageMaxSliceListLine + 2));
    std::string text(static_cast<std::size_t>(want), '\0');
    if (want && !list.ReadMain(0, text.data(), text.size()))
        return false;
    std::vector<std::string> lines = ParseSliceList(text.data(), text.size(), m_header.sliceCount);
    if (lines.size() < m_header.sliceCount) {
        ReleaseTrace("Image %s: the slice list names %zu of %u slices", m_mainPath.c_str(),
                     lines.size(), m_header.sliceCount);
        return false;
    }
    std::vector<std::string> paths;
    for (const std::string& line : lines) {
        if (IsRegularFile(line)) {
            paths.push_back(line);
            continue;
        }
        std::string beside = DirectoryOf(m_mainPath) + "/" + FileNameOf(line);
        if (!FileNameOf(line).empty() && IsRegularFile(beside)) {
            paths.push_back(beside);
            continue;
        }
        ReleaseTrace("Image %s: slice %s not found", m_mainPath.c_str(), line.c_str());
        return false;
    }
    m_slicePaths = std::move(paths);
    CheckSliceLengths();
    return true;
}

void CImageFileDeviceWithDecompress::CheckSliceLengths() {
    m_missingBlocks.clear();
    for (std::uint32_t i = 0; i < m_header.sliceCount && i < m_slicePaths.size(); ++i) {
        const std::uint64_t begin = m_header.firstBlockOfSlice[i];
        const std::uint64_t end =
            std::min<std::uint64_t>(m_header.firstBlockOfSlice[i + 1], m_header.totalBlocks);
        if (begin >= end)
            continue;
        struct stat st;
        const std::uint64_t size =
            ::stat(m_slicePaths[i].c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
        // A block's index entry is where its bytes end in the slice's data; they rise through
        // a slice, so the blocks past the end are the last ones.
        auto fits = [&](std::uint64_t block) {
            std::uint32_t entry = 0;
            return IndexEntry(block, &entry) &&
                   kImageSliceDataOffset + std::uint64_t(entry) <= size;
        };
        if (fits(end - 1))
            continue;
        std::uint64_t lo = begin, hi = end - 1;
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (fits(mid))
                lo = mid + 1;
            else
                hi = mid;
        }
        m_missingBlocks.emplace_back(lo, end);
        std::uint32_t need = 0;
        IndexEntry(end - 1, &need);
        LogWarning("Image %s: the slice %s holds %" PRIu64 " of the %" PRIu64
                   " bytes its blocks need; blocks %" PRIu64 " to %" PRIu64 " cannot be read",
                   m_mainPath.c_str(), m_slicePaths[i].c_str(), size,
                   kImageSliceDataOffset + std::uint64_t(need), lo, end - 1);
    }
}

bool CImageFileDeviceWithDecompress::IsMissing(std::uint64_t block) const {
    return std::any_of(m_missingBlocks.begin(), m_missingBlocks.end(), [block](const auto& range) {
        return block >= range.first && block < range.second;
    });
}

std::uint64_t CImageFileDeviceWithDecompress::GetMissingSectorCount() const {
    std::uint64_t sectors = 0;
    for (const auto& [first, end] : m_missingBlocks)
        sectors += std::min(end * kImageBlockSectors, m_size) -
                   std::min(first * kImageBlockSectors, m_size);
    return sectors;
}

int CImageFileDeviceWithDecompress::CheckSliceFiles() {
    if (!IsRegularFile(m_mainPath) || !m_files->IsMainOpen())
        return 0;
    return ResolveSlicePaths() ? 1 : 0;
}

bool CImageFileDeviceWithDecompress::OpenSliceForRead(std::uint32_t slice) {
    if (m_files->OpenSliceIndex() == static_cast<int>(slice))
        return true;
    if (!ResolveSlicePaths() || slice >= m_slicePaths.size())
        return false;
    return m_files->OpenSlice(m_slicePaths[slice], static_cast<int>(slice));
}

bool CImageFileDeviceWithDecompress::IndexEntry(std::uint64_t index, std::uint32_t* value) {
    if (index < m_indexFirst || index - m_indexFirst >= m_index.size()) {
        // The header's block count is within the index the main file holds (CheckBlockCount).
        if (index >= m_header.totalBlocks)
            return false;
        const std::uint64_t first = index / kIndexWindow * kIndexWindow;
        const std::size_t n =
            static_cast<std::size_t>(std::min(kIndexWindow, m_header.totalBlocks - first));
        std::vector<std::uint8_t> bytes(n * 4);
        m_index.clear();
        if (!m_files->ReadMain(kImageHeaderSize + 4 * first, bytes.data(), bytes.size()))
            return false;
        const ByteSpan span(bytes.data(), bytes.size());
        m_index.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            m_index[i] = span.u32(4 * i);
        m_indexFirst = first;
    }
    *value = m_index[index - m_indexFirst];
    return true;
}

bool CImageFileDeviceWithDecompress::LocateBlock(std::uint64_t block, ImageBlockExtent* extent) {
    return LocateImageBlock(
        m_header, block,
        [this](std::uint64_t index, std::uint32_t* value) { return IndexEntry(index, value); },
        extent);
}

bool CImageFileDeviceWithDecompress::LocateRawBlock(std::uint64_t block, ImageBlockExtent* extent) {
    return LocateBlock(block, extent) &&
           IsRawBlockLength(extent->length, block + 1 == m_header.totalBlocks);
}

std::uint64_t CImageFileDeviceWithDecompress::ReadRawRun(std::uint8_t* out, std::uint64_t first,
                                                         std::uint64_t count) {
    std::uint64_t block = first / kImageBlockSectors;
    const std::uint64_t skip = first % kImageBlockSectors;
    ImageBlockExtent extent;
    if (block == m_failedBlock || IsMissing(block) || !LocateRawBlock(block, &extent) ||
        skip >= extent.length / kSectorSize)
        return 0;
    const std::uint32_t slice = extent.slice;
    const std::uint64_t offset = extent.offset + skip * kSectorSize;
    const std::uint64_t firstPart = std::min(extent.length / kSectorSize - skip, count);
    std::uint64_t sectors = firstPart;
    // The blocks after it, as long as they lie right behind it in the same slice.
    for (std::uint64_t end = extent.offset + extent.length;
         sectors < count && extent.length == kImageBlockBytes;) {
        if (block + 1 == m_failedBlock || IsMissing(block + 1) ||
            !LocateRawBlock(block + 1, &extent) || extent.slice != slice || extent.offset != end)
            break;
        ++block;
        end += extent.length;
        sectors += std::min<std::uint64_t>(extent.length / kSectorSize, count - sectors);
    }
    if (!OpenSliceForRead(slice))
        return 0;
    if (m_files->ReadSlice(offset, out, static_cast<std::size_t>(sectors * kSectorSize)))
        return sectors;
    // Some block of the run is not there: the first one alone, the others on their own turn.
    if (sectors > firstPart &&
        m_files->ReadSlice(offset, out, static_cast<std::size_t>(firstPart * kSectorSize)))
        return firstPart;
    return 0;
}

bool CImageFileDeviceWithDecompress::ReadBlock(std::uint64_t block) {
    if (block == m_cachedBlock)
        return true;
    if (block == m_failedBlock || IsMissing(block))
        return false;
    m_cachedBlock = ~std::uint64_t(0);
    if (!LoadBlock(block)) {
        m_failedBlock = block;
        return false;
    }
    m_cachedBlock = block;
    return true;
}

bool CImageFileDeviceWithDecompress::LoadBlock(std::uint64_t block) {
    ImageBlockExtent extent;
    if (!m_decompressor) {
        // Stored as it is: read into the kept block directly.
        if (!LocateRawBlock(block, &extent) || !OpenSliceForRead(extent.slice) ||
            !m_files->ReadSlice(extent.offset, m_block.data(), extent.length)) {
            ReleaseTrace("Image %s: block %" PRIu64 " cannot be read", m_mainPath.c_str(), block);
            return false;
        }
        std::memset(m_block.data() + extent.length, 0, kImageBlockBytes - extent.length);
        m_cachedSectors = extent.length / kSectorSize;
        return true;
    }

    // Reads in block order start the workers on their second block and keep them ahead.
    const bool inOrder = m_lastBlock != ~std::uint64_t(0) && block == m_lastBlock + 1;
    m_inOrder = inOrder ? m_inOrder + 1 : 0;
    m_lastBlock = block;
    if (inOrder && !m_readAhead && !m_readAheadFailed && m_readAheadWorkers && ResolveSlicePaths()) {
        m_readAhead = std::make_unique<CImageReadAhead>(m_mainPath, m_slicePaths, m_header, m_readAheadWorkers);
        if (!m_readAhead->Running()) {
            m_readAhead.reset();
            m_readAheadFailed = true;
        }
    }
    if (m_readAhead) {
        if (inOrder) {
            const bool taken = m_readAhead->Take(block, m_block, &m_cachedSectors);
            m_readAhead->Want(block + 1);
            if (taken) {
                ++m_blocksDecodedAhead;
                return true;
            }
        } else {
            m_readAhead->Drop();
        }
    }

    if (!LocateBlock(block, &extent) || !OpenSliceForRead(extent.slice) ||
        !m_files->ReadSlice(extent.offset, m_stored.data(), extent.length)) {
        ReleaseTrace("Image %s: block %" PRIu64 " cannot be read", m_mainPath.c_str(), block);
        return false;
    }
    if (!DecodeStoredBlock(m_decompressor.get(), m_stored.data(), extent.length, block + 1 == m_header.totalBlocks,
                           m_block.data(), &m_cachedSectors)) {
        ReleaseTrace("Image %s: block %" PRIu64 " does not decode", m_mainPath.c_str(), block);
        return false;
    }
    return true;
}

int CImageFileDeviceWithDecompress::ReadSectors(void* buffer, std::uint64_t first,
                                                std::uint64_t count) {
    if (!buffer || first >= m_size || count > m_size)
        return 0;
    const std::uint64_t n = std::min(count, m_size - first);
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool ok = true;
    for (std::uint64_t p = first, r = n; r;) {
        const std::uint64_t b = p / kImageBlockSectors;
        const std::uint64_t o = p % kImageBlockSectors;
        const std::uint64_t k = std::min<std::uint64_t>(kImageBlockSectors - o, r);
        if (!m_decompressor && b != m_cachedBlock && k >= kDirectReadSectors) {
            if (const std::uint64_t done = ReadRawRun(out, p, r)) {
                out += done * kSectorSize;
                p += done;
                r -= done;
                continue;
            }
        }
        // Only sectors the block holds are delivered; a block that fails gives zeros.
        const std::uint64_t have = ReadBlock(b) && m_cachedSectors > o
                                       ? std::min<std::uint64_t>(k, m_cachedSectors - o)
                                       : 0;
        std::memcpy(out, m_block.data() + o * kSectorSize, have * kSectorSize);
        std::memset(out + have * kSectorSize, 0, (k - have) * kSectorSize);
        if (have < k)
            ok = false;
        out += k * kSectorSize;
        p += k;
        r -= k;
    }
    // Sectors past the end of the image are not there to be read.
    if (count > n) {
        std::memset(out, 0, (count - n) * kSectorSize);
        ok = false;
    }
    return ok ? 1 : 0;
}
