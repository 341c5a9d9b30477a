// Image header, block index and slice list parsers over arbitrary bytes: the input is taken
// as a main file (header + index), and also as a slice list.
#include "storage/BlockCodec.h"
#include "storage/DiskImage.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ImageHeaderInfo header;
    if (header.Parse(data, size)) {
        auto readEntry = [&](std::uint64_t index, std::uint32_t* value) {
            std::uint64_t at = kImageHeaderSize + 4 * index;
            if (at + 4 > size)
                return false;
            std::memcpy(value, data + at, 4);
            return true;
        };
        std::uint64_t blocks = header.totalBlocks;
        if (blocks > 4096)
            blocks = 4096;
        for (std::uint64_t b = 0; b < blocks; ++b) {
            ImageBlockExtent extent;
            if (LocateImageBlock(header, b, readEntry, &extent)) {
                if (extent.length == 0 || extent.length > kImageStoredBlockCapacity ||
                    extent.slice >= header.sliceCount || extent.offset < kImageSliceDataOffset)
                    __builtin_trap();
            }
        }
        // The last blocks of a huge claimed count, without walking them all.
        if (header.totalBlocks > 0) {
            ImageBlockExtent extent;
            LocateImageBlock(header, header.totalBlocks - 1ull, readEntry, &extent);
            LocateImageBlock(header, header.totalBlocks, readEntry, &extent);
        }
        if (header.sourceName[kImageSourceNameSize - 1] != 0)
            __builtin_trap();
    }
    std::vector<std::string> lines =
        ParseSliceList(reinterpret_cast<const char*>(data), size, kImageMaxSlices);
    if (lines.size() > kImageMaxSlices)
        __builtin_trap();
    for (const std::string& line : lines)
        if (line.size() > kImageMaxSliceListLine)
            __builtin_trap();
    return 0;
}
