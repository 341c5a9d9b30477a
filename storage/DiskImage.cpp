#include "storage/DiskImage.h"

#include "platform/TargetTree.h"
#include "storage/BlockCodec.h"
#include "storage/ByteSpan.h"
#include "storage/FileHelpers.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Position of the '.' that starts the extension of the file name, or npos.
std::size_t ExtensionDot(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

bool ReadWhole(const platform::FileHandle& h, std::uint64_t offset, void* data, std::size_t length) {
    return h.Valid() &&
           platform::ReadAt(h.Get(), data, length, offset) == static_cast<std::int64_t>(length);
}

bool WriteWhole(platform::FileHandle& h, std::uint64_t offset, const void* data, std::size_t length) {
    if (!h.Valid() || ::lseek(h.Get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return false;
    return platform::WriteFully(h.Get(), data, length);
}

// The image's files lie in a folder the user chose: made there, or an earlier image's file of the
// same name emptied, as platform/TargetTree.h does it (never through a link, never a file with a
// second name or of someone else's).
bool CreateImagePart(platform::FileHandle& h, const std::string& path) {
    h.Reset(path.empty() ? -1 : platform::TreeCreateFile(path, platform::TreeExisting::Empty, 0644));
    return h.Valid();
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
    const ByteSpan h(data, size);
    std::memcpy(sourceName, data, kImageSourceNameSize - 1);
    sourceName[kImageSourceNameSize - 1] = 0;
    compressionType = h.u32(kImageOffsetCompression);
    headsPerCylinder = h.u32(kImageOffsetHeads);
    std::uint32_t slices = h.u32(kImageOffsetSliceCount);
    totalBlocks = h.u32(kImageOffsetTotalBlocks);
    if (slices > kImageMaxSlices)
        return false;
    sliceCount = slices;
    for (std::uint32_t i = 0; i < sliceCount; ++i) {
        blocksInSlice[i] = h.u32(kImageOffsetSliceBlocks + 4 * i);
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
    m_sliceList.Close();
    m_main.Close();
    CloseSlice();
}

bool CImageFile::CreateMainFile(const std::string& path) {
    m_mainPath = path;
    return CreateImagePart(m_main, path);
}

bool CImageFile::CreateSliceList(const std::string& path) {
    return CreateImagePart(m_sliceList, path);
}

bool CImageFile::CreateSlice(const std::string& path, int index) {
    CloseSlice();
    if (!CreateImagePart(m_slice, path))
        return false;
    m_sliceIndex = index;
    return true;
}

bool CImageFile::OpenMainFile(const std::string& path) {
    m_mainPath = path;
    return OpenFileByMode(&m_main, 0, path.c_str()) == 1;
}

bool CImageFile::OpenSlice(const std::string& path, int index) {
    CloseSlice();
    if (OpenFileByMode(&m_slice, 0, path.c_str()) != 1)
        return false;
    m_sliceIndex = index;
    return true;
}

void CImageFile::CloseSlice() {
    m_slice.Close();
    m_sliceIndex = -1;
}

std::uint64_t CImageFile::MainFileSize() const {
    std::uint64_t size = 0;
    if (!m_main.Valid() || !platform::GetSize(m_main.Get(), size))
        return 0;
    return size;
}

bool CImageFile::ReadMain(std::uint64_t offset, void* data, std::size_t length) const {
    return ReadWhole(m_main, offset, data, length);
}
bool CImageFile::WriteMain(std::uint64_t offset, const void* data, std::size_t length) {
    return WriteWhole(m_main, offset, data, length);
}
bool CImageFile::ReadSlice(std::uint64_t offset, void* data, std::size_t length) const {
    return ReadWhole(m_slice, offset, data, length);
}
bool CImageFile::WriteSlice(std::uint64_t offset, const void* data, std::size_t length) {
    return WriteWhole(m_slice, offset, data, length);
}

bool CImageFile::AppendSliceListLine(const std::string& text) {
    return WriteBytesToFile(&m_sliceList, static_cast<unsigned>(text.size()), text.c_str()) == 1;
}

std::uint32_t ReadImageHeadsPerCylinder(const CImageFile* files) {
    std::uint8_t b[4];
    if (!files || !files->IsMainOpen() || !files->ReadMain(kImageOffsetHeads, b, sizeof b))
        return 255;
    std::uint32_t heads = ByteSpan(b, sizeof b).u32(0);
    return heads ? heads : 255;
}
