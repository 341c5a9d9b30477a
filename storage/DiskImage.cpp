#include "storage/DiskImage.h"

#include "storage/BlockCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// Position of the '.' that starts the extension of the file name, or npos.
std::size_t ExtensionDot(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool PreadAll(int fd, std::uint64_t offset, void* data, std::size_t length) {
    if (fd < 0)
        return false;
    auto* p = static_cast<std::uint8_t*>(data);
    while (length) {
        ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PwriteAll(int fd, std::uint64_t offset, const void* data, std::size_t length) {
    if (fd < 0)
        return false;
    auto* p = static_cast<const std::uint8_t*>(data);
    while (length) {
        ssize_t n = ::pwrite(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

int OpenFile(const std::string& path, bool create) {
    int flags = create ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDONLY;
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && !create) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

}  // namespace

std::string ImageSlicePath(const std::string& mainPath, unsigned slice) {
    std::size_t dot = ExtensionDot(mainPath);
    std::string base = dot == std::string::npos ? mainPath + "." : mainPath.substr(0, dot + 1);
    return base + "part" + std::to_string(slice) + ".edf";
}

std::string ImageSliceListPath(const std::string& mainPath) {
    std::size_t dot = ExtensionDot(mainPath);
    if (dot == std::string::npos)
        return mainPath + ".edp";
    return mainPath.substr(0, dot + 1) + "edp";
}

bool ImageHeaderInfo::Parse(const std::uint8_t* data, std::size_t size) {
    *this = ImageHeaderInfo{};
    if (!data || size < kImageHeaderSize)
        return false;
    std::memcpy(sourceName, data, kImageSourceNameSize - 1);
    sourceName[kImageSourceNameSize - 1] = 0;
    compressionType = GetU32(data + kImageOffsetCompression);
    headsPerCylinder = GetU32(data + kImageOffsetHeads);
    std::uint32_t slices = GetU32(data + kImageOffsetSliceCount);
    totalBlocks = GetU32(data + kImageOffsetTotalBlocks);
    if (slices > kImageMaxSlices)
        return false;
    sliceCount = slices;
    for (std::uint32_t i = 0; i < sliceCount; ++i) {
        blocksInSlice[i] = GetU32(data + kImageOffsetSliceBlocks + 4 * i);
        firstBlockOfSlice[i + 1] = firstBlockOfSlice[i] + blocksInSlice[i];
    }
    return true;
}

int ImageHeaderInfo::SliceOfBlock(std::uint64_t block) const {
    if (block >= totalBlocks)
        return -1;
    for (std::uint32_t i = 0; i < sliceCount; ++i)
        if (block < firstBlockOfSlice[i + 1])
            return static_cast<int>(i);
    return -1;
}

bool LocateImageBlock(const ImageHeaderInfo& header, std::uint64_t block,
                      const std::function<bool(std::uint64_t, std::uint32_t*)>& readEntry,
                      ImageBlockExtent* out) {
    int slice = header.SliceOfBlock(block);
    if (slice < 0)
        return false;
    std::uint32_t start = 0;
    if (block != header.firstBlockOfSlice[slice] && !readEntry(block - 1, &start))
        return false;
    std::uint32_t end = 0;
    if (!readEntry(block, &end))
        return false;
    if (end <= start || end - start > kImageStoredBlockCapacity)
        return false;
    out->slice = static_cast<std::uint32_t>(slice);
    out->offset = std::uint64_t(kImageSliceDataOffset) + start;
    out->length = end - start;
    return true;
}

std::vector<std::string> ParseSliceList(const char* data, std::size_t size, std::size_t maxLines) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < size && lines.size() < maxLines) {
        const void* nl = std::memchr(data + pos, '\n', size - pos);
        std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - data) : size;
        std::size_t len = end - pos;
        if (len > 0 && data[pos + len - 1] == '\r')
            --len;
        if (len > kImageMaxSliceListLine)
            break;
        lines.emplace_back(data + pos, len);
        pos = nl ? end + 1 : size;
    }
    return lines;
}

CImageFile::~CImageFile() {
    CloseFd(m_sliceList);
    CloseFd(m_main);
    CloseSlice();
}

bool CImageFile::CreateMainFile(const std::string& path) {
    CloseFd(m_main);
    m_mainPath = path;
    m_main = OpenFile(path, true);
    return m_main >= 0;
}

bool CImageFile::CreateSliceList(const std::string& path) {
    CloseFd(m_sliceList);
    m_sliceListEnd = 0;
    m_sliceList = OpenFile(path, true);
    return m_sliceList >= 0;
}

bool CImageFile::CreateSlice(const std::string& path, int index) {
    CloseSlice();
    m_slice = OpenFile(path, true);
    if (m_slice < 0)
        return false;
    m_sliceIndex = index;
    return true;
}

bool CImageFile::OpenMainFile(const std::string& path) {
    CloseFd(m_main);
    m_mainPath = path;
    m_main = OpenFile(path, false);
    return m_main >= 0;
}

bool CImageFile::OpenSlice(const std::string& path, int index) {
    CloseSlice();
    m_slice = OpenFile(path, false);
    if (m_slice < 0)
        return false;
    m_sliceIndex = index;
    return true;
}

void CImageFile::CloseSlice() {
    CloseFd(m_slice);
    m_sliceIndex = -1;
}

std::uint64_t CImageFile::MainFileSize() const {
    struct stat st;
    if (m_main < 0 || ::fstat(m_main, &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool CImageFile::ReadMain(std::uint64_t offset, void* data, std::size_t length) const {
    return PreadAll(m_main, offset, data, length);
}
bool CImageFile::WriteMain(std::uint64_t offset, const void* data, std::size_t length) {
    return PwriteAll(m_main, offset, data, length);
}
bool CImageFile::ReadSlice(std::uint64_t offset, void* data, std::size_t length) const {
    return PreadAll(m_slice, offset, data, length);
}
bool CImageFile::WriteSlice(std::uint64_t offset, const void* data, std::size_t length) {
    return PwriteAll(m_slice, offset, data, length);
}

bool CImageFile::AppendSliceListLine(const std::string& text) {
    std::string line = text + "\r\n";
    if (!PwriteAll(m_sliceList, m_sliceListEnd, line.data(), line.size()))
        return false;
    m_sliceListEnd += line.size();
    return true;
}

std::uint32_t ReadImageHeadsPerCylinder(const CImageFile* files) {
    std::uint8_t b[4];
    if (!files || !files->IsMainOpen() || !files->ReadMain(kImageOffsetHeads, b, sizeof b))
        return 255;
    std::uint32_t heads = GetU32(b);
    return heads ? heads : 255;
}
