// Feeds arbitrary bytes to the LZNT1 chunk decoder, chunk after chunk, as the compressed-file
// copy does with the clusters of one compression unit.
#include "recovery/Lznt1.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t out[kLznt1ChunkSize];
    std::size_t at = 0;
    while (at < size) {
        std::size_t used = 0;
        const std::size_t n = DecompressLznt1Chunk(data + at, size - at, out, &used);
        if (n > kLznt1ChunkSize || used == 0 || used > size - at)
            __builtin_trap();
        at += used;
    }
    return 0;
}
