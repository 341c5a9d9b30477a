#include "storage/CompressController.h"

#include "logging/Log.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

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

}  // namespace

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

    bool ok = true;
    std::uint64_t remaining = m_sectorCount;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        if (callback && callback->IsCancelled())
            break;
        bool request = callback && callback->IsNewSliceRequested();
        std::uint32_t k = remaining >= kImageBlockSectors ? kImageBlockSectors
                                                          : static_cast<std::uint32_t>(remaining);
        std::uint32_t stored = kImageBlockBytes;
        if (k && !ProcessBlock(i, k, request, &stored)) {
            ok = false;
            break;
        }
        remaining -= k;
        if (callback) {
            callback->ClearNewSliceRequest(stored);
            callback->OnBlockDone(i);
            callback->PumpMessages();
        }
    }
    if (!UpdateHeaderSlices(m_blocksInSlice, m_slicesOpened)) {
        LogError("Cannot write the header of the image %s", m_mainPath.c_str());
        ok = false;
    }
    if (m_unreadableSectors)
        LogWarning("Image %s: %" PRIu64 " unreadable sectors were stored as zeros",
                   m_mainPath.c_str(), m_unreadableSectors);
    if (m_rawBlocks)
        LogInfo("Image %s: %" PRIu64 " of %" PRIu64 " blocks stored raw", m_mainPath.c_str(),
                m_rawBlocks, m_nextBlock);
    return ok ? 1 : 0;
}

void CCompressController::ReadSource(std::uint64_t blockIndex, std::uint32_t sectors) {
    std::fill(m_in.begin(), m_in.end(), 0);
    std::uint64_t first = m_firstSector + blockIndex * kImageBlockSectors;
    if (m_source->ReadSectors(m_in.data(), first, sectors))
        return;
    // Retry sector by sector; what stays unreadable is stored as zeros.
    std::uint32_t bad = 0;
    for (std::uint32_t s = 0; s < sectors; ++s) {
        std::uint8_t* p = m_in.data() + std::size_t(s) * kSectorSize;
        if (!m_source->ReadSectors(p, first + s, 1)) {
            std::memset(p, 0, kSectorSize);
            ++bad;
        }
    }
    if (bad) {
        m_unreadableSectors += bad;
        LogWarning("Image: %u unreadable sectors between sector %" PRIu64 " and %" PRIu64
                   " stored as zeros",
                   bad, first, first + sectors - 1);
    }
}

std::uint32_t CCompressController::CompressBlock(const std::uint8_t* data, std::uint32_t length,
                                                 std::uint8_t* output, std::uint32_t capacity) {
    std::uint32_t stored = 0;
    if (m_compressor)
        stored = CompressWithCodec(m_compressor.get(), m_level, kLzmaDictionaryRequest, data,
                                   length, output, capacity);
    if (stored == 0 || stored >= length) {
        if (m_compressor) {
            // The first raw block says why; CreateImage sums them up at the end.
            if (m_rawBlocks++ == 0)
                LogInfo("Image: the %s codec %s a block at level %d; it is stored raw",
                        m_compressor->GetName(), stored == 0 ? "could not compress" : "did not shrink",
                        m_level);
        }
        std::memcpy(output, data, std::min(length, capacity));
        stored = std::min(length, capacity);
    }
    return stored;
}

bool CCompressController::ProcessBlock(std::uint64_t blockIndex, std::uint32_t sectors,
                                       bool newSliceRequest, std::uint32_t* storedBytes) {
    ReadSource(blockIndex, sectors);
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
