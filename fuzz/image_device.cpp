// The image reader device over arbitrary files: the input is a u32 length, that many bytes of
// main file (header and index), then the bytes of one slice file, which every slice the header
// names is listed as. The device is opened, its slices checked and every sector read in
// several ways; reads must stay inside their buffers, and a read that succeeds must deliver
// sectors the image holds.
#include "storage/ImageFileDeviceWithDecompress.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& ScratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/dev/shm/fuzz-image-XXXXXX";
        char fallback[] = "/tmp/fuzz-image-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made)
            made = ::mkdtemp(fallback);
        return std::string(made ? made : ".");
    }();
    return folder;
}

bool Write(const std::string& path, const void* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    std::uint32_t mainLength;
    std::memcpy(&mainLength, data, 4);
    data += 4;
    size -= 4;
    mainLength = static_cast<std::uint32_t>(std::min<std::size_t>(mainLength, size));
    const std::string main = ScratchFolder() + "/f.edi";
    const std::string slice = ScratchFolder() + "/f.part0.edf";
    std::string list;
    std::uint32_t slices = 0;
    if (mainLength >= kImageOffsetSliceCount + 4)
        std::memcpy(&slices, data + kImageOffsetSliceCount, 4);
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(slices, kImageMaxSlices); ++i)
        list += slice + "\r\n";
    if (!Write(main, data, mainLength) || !Write(slice, data + mainLength, size - mainLength) ||
        !Write(ImageSliceListPath(main), list.data(), list.size()))
        return 0;

    CImageFileDeviceWithDecompress device(main.c_str());
    device.SetReadAheadWorkers(0);
    device.CheckSliceFiles();
    const std::uint64_t sectors = device.GetSectorCount();
    if (device.GetMissingSectorCount() > sectors)
        __builtin_trap();
    // At most 64 blocks are read, in reads of several sizes and across block ends.
    const std::uint64_t readable = std::min<std::uint64_t>(sectors, 64 * 256);
    std::vector<std::uint8_t> buffer(1000 * kSectorSize);
    for (std::uint64_t chunk : {1u, 100u, 256u, 1000u}) {
        for (std::uint64_t s = 0; s < readable; s += chunk) {
            const std::uint64_t n = std::min(chunk, readable - s);
            const int r = device.ReadSectors(buffer.data(), s, n);
            if (r != 0 && r != 1)
                __builtin_trap();
        }
    }
    // Past the end: never reported as done.
    if (sectors > 0 && device.ReadSectors(buffer.data(), sectors - 1, 2) != 0)
        __builtin_trap();
    return 0;
}
