#pragma once
// The disk-image container: a main file (".edi": 512-byte header, then one u32 end offset per
// 128 KiB block), slice files (".partN.edf": 512 unused bytes, then the stored blocks back to
// back) and the slice list (".edp": one slice path per line).
//
// Header (little-endian):
//   0   char[260]  source name, zero-padded
//   260 u32        compression type of every block
//   264 u32        heads per cylinder of the source
//   268 u32        number of slices
//   272 u32        total number of blocks
//   276 u32[59]    number of blocks in slice i
#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr std::uint32_t kImageHeaderSize = 512;
constexpr std::uint32_t kImageSourceNameSize = 260;
constexpr std::uint32_t kImageMaxSlices = 59;
constexpr std::uint32_t kImageOffsetCompression = 260;
constexpr std::uint32_t kImageOffsetHeads = 264;
constexpr std::uint32_t kImageOffsetSliceCount = 268;
constexpr std::uint32_t kImageOffsetTotalBlocks = 272;
constexpr std::uint32_t kImageOffsetSliceBlocks = 276;
// Data of a slice starts after its first 512 bytes.
constexpr std::uint32_t kImageSliceDataOffset = 512;
// Longest slice-list line the reader accepts.
constexpr std::size_t kImageMaxSliceListLine = 4096;

// Slice N of the image at `mainPath`: everything up to and including the last '.' of the file
// name, then "part<N>.edf"; when the file name has no '.', ".part<N>.edf" is appended.
std::string ImageSlicePath(const std::string& mainPath, unsigned slice);
// The slice list: the main path with what follows the file name's last '.' replaced by "edp"
// (no '.' in the file name: ".edp" is appended).
std::string ImageSliceListPath(const std::string& mainPath);

struct ImageHeaderInfo {
    char sourceName[kImageSourceNameSize] = {};  // always zero-terminated
    std::uint32_t compressionType = 0;
    std::uint32_t headsPerCylinder = 0;
    std::uint32_t sliceCount = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t blocksInSlice[kImageMaxSlices] = {};
    // firstBlockOfSlice[i] = sum of blocksInSlice[0 .. i-1]; entry sliceCount is the end.
    std::uint64_t firstBlockOfSlice[kImageMaxSlices + 1] = {};

    // Reads a header from `size` bytes. False when fewer than 512 bytes are given or the slice
    // count is above 59.
    bool Parse(const std::uint8_t* data, std::size_t size);
    // The slice holding `block`, or -1 when no slice covers it.
    int SliceOfBlock(std::uint64_t block) const;
};

struct ImageBlockExtent {
    std::uint32_t slice = 0;
    std::uint64_t offset = 0;  // within the slice file
    std::uint32_t length = 0;  // stored bytes
};

// Finds where block `block` is stored. `readEntry(i, &value)` returns index entry i (false when
// it cannot be read). Each slice's first block starts at the slice's data area; later blocks
// start at their predecessor's end. False for a block no slice covers, an unreadable entry, an
// end before the start, an empty block or one longer than a stored block can be.
bool LocateImageBlock(const ImageHeaderInfo& header, std::uint64_t block,
                      const std::function<bool(std::uint64_t, std::uint32_t*)>& readEntry,
                      ImageBlockExtent* out);

// Splits a slice list into lines ending in LF or CR LF (a last line may lack its end). At most
// `maxLines` lines are returned; a line longer than kImageMaxSliceListLine ends the list.
std::vector<std::string> ParseSliceList(const char* data, std::size_t size, std::size_t maxLines);

// The open files of one image, used by the writer and the reader. Closing order on
// destruction: slice list, main file, slice.
class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Writer side: create (truncating) the main file, the slice list and a slice.
    bool CreateMainFile(const std::string& path);
    bool CreateSliceList(const std::string& path);
    bool CreateSlice(const std::string& path, int index);
    // Reader side: open read-only.
    bool OpenMainFile(const std::string& path);
    bool OpenSlice(const std::string& path, int index);

    bool IsMainOpen() const { return m_main.Valid(); }
    int OpenSliceIndex() const { return m_sliceIndex; }
    // Size of the main file in bytes (0 when not open).
    std::uint64_t MainFileSize() const;

    // Whole transfers only: false on any error or short transfer.
    bool ReadMain(std::uint64_t offset, void* data, std::size_t length) const;
    bool WriteMain(std::uint64_t offset, const void* data, std::size_t length);
    bool ReadSlice(std::uint64_t offset, void* data, std::size_t length) const;
    bool WriteSlice(std::uint64_t offset, const void* data, std::size_t length);
    // Appends one line and CR LF to the slice list.
    bool AppendSliceListLine(const std::string& text);

    void CloseSlice();

private:
    platform::FileHandle m_slice;
    platform::FileHandle m_main;
    std::string m_mainPath;
    platform::FileHandle m_sliceList;
    int m_sliceIndex = -1;
};

// Heads per cylinder recorded in an image's header; 255 when the main file is not open or the
// value cannot be read.
std::uint32_t ReadImageHeadsPerCylinder(const CImageFile* files);
