#include "storage/ImageFileDeviceWithDecompress.h"

#include "logging/Log.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <sys/stat.h>

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

}  // namespace

CImageFileDeviceWithDecompress::CImageFileDeviceWithDecompress(const char* mainPath)
    : m_files(std::make_unique<CImageFile>()), m_mainPath(mainPath ? mainPath : ""),
      m_stored(kImageStoredBlockCapacity), m_block(kImageBlockBytes) {
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
    return true;
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

bool CImageFileDeviceWithDecompress::ReadBlock(std::uint64_t block) {
    if (block == m_cachedBlock)
        return true;
    m_cachedBlock = ~std::uint64_t(0);
    ImageBlockExtent extent;
    auto readEntry = [this](std::uint64_t index, std::uint32_t* value) {
        std::uint8_t b[4];
        if (!m_files->ReadMain(kImageHeaderSize + 4 * index, b, sizeof b))
            return false;
        *value = ByteSpan(b, sizeof b).u32(0);
        return true;
    };
    if (!LocateImageBlock(m_header, block, readEntry, &extent) || !OpenSliceForRead(extent.slice) ||
        !m_files->ReadSlice(extent.offset, m_stored.data(), extent.length)) {
        ReleaseTrace("Image %s: block %" PRIu64 " cannot be read", m_mainPath.c_str(), block);
        return false;
    }

    const bool last = block + 1 == m_header.totalBlocks;
    std::uint32_t produced = 0;
    if (m_decompressor &&
        DecompressWithCodec(m_decompressor.get(), m_stored.data(), extent.length, m_block.data(),
                            kImageBlockBytes, &produced) &&
        (produced == kImageBlockBytes ||
         (last && produced > 0 && produced % kSectorSize == 0))) {
        std::fill(m_block.begin() + produced, m_block.end(), 0);
        m_cachedBlock = block;
        m_cachedSectors = produced / kSectorSize;
        return true;
    }
    // Not a stream that fills the block: the bytes may have been stored raw. Only the last
    // block can be stored raw in fewer than a whole block's bytes; a shorter one elsewhere is
    // a damaged stream, not data.
    if (extent.length % kSectorSize != 0 || extent.length > kImageBlockBytes ||
        (!last && extent.length != kImageBlockBytes)) {
        ReleaseTrace("Image %s: block %" PRIu64 " does not decode", m_mainPath.c_str(), block);
        return false;
    }
    std::memcpy(m_block.data(), m_stored.data(), extent.length);
    std::fill(m_block.begin() + extent.length, m_block.end(), 0);
    m_cachedBlock = block;
    m_cachedSectors = extent.length / kSectorSize;
    return true;
}

int CImageFileDeviceWithDecompress::ReadSectors(void* buffer, std::uint64_t first,
                                                std::uint64_t count) {
    if (!buffer || first >= m_size || count > m_size)
        return 0;
    const std::uint64_t n = std::min(count, m_size - first);
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool ok = true;
    std::uint64_t p = first;
    std::uint64_t r = n;
    while (r) {
        std::uint64_t b = p / kImageBlockSectors;
        std::uint32_t o = static_cast<std::uint32_t>(p % kImageBlockSectors);
        std::uint64_t k = std::min<std::uint64_t>(kImageBlockSectors - o, r);
        if (ReadBlock(b)) {
            std::memcpy(out, m_block.data() + std::size_t(o) * kSectorSize, k * kSectorSize);
        } else {
            std::memset(out, 0, k * kSectorSize);
            ok = false;
        }
        out += k * kSectorSize;
        p += k;
        r -= k;
    }
    if (count > n)
        std::memset(out, 0, (count - n) * kSectorSize);
    return ok ? 1 : 0;
}
