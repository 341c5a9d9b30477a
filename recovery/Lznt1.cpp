#include "recovery/Lznt1.h"

#include <cstring>

namespace {

constexpr std::uint16_t kLengthMask = 0x0FFF;
constexpr std::uint16_t kCompressedFlag = 0x8000;

// Number of length bits of a back-reference token written at output position `pos` of a chunk:
// 12 at the start, one fewer for every doubling of the position beyond 16.
unsigned LengthBits(std::size_t pos) {
    unsigned bits = 12;
    if (pos == 0)
        return bits;
    for (std::size_t p = pos - 1; p >= 16; p >>= 1)
        --bits;
    return bits;
}

} // namespace

std::size_t DecompressLznt1Chunk(const std::uint8_t* chunk, std::size_t available,
                                 std::uint8_t* out, std::size_t* chunkBytes) {
    if (chunkBytes)
        *chunkBytes = available < 2 ? available : 2;
    if (!chunk || !out || available < 2)
        return 0;
    const std::uint16_t header = static_cast<std::uint16_t>(chunk[0] | (chunk[1] << 8));
    std::size_t total = static_cast<std::size_t>(header & kLengthMask) + 3;
    if (total > available)
        total = available;
    if (chunkBytes)
        *chunkBytes = total;
    const std::uint8_t* in = chunk + 2;
    const std::size_t inLen = total - 2;

    if (!(header & kCompressedFlag)) {
        const std::size_t n = inLen < kLznt1ChunkSize ? inLen : kLznt1ChunkSize;
        std::memcpy(out, in, n);
        return n;
    }

    std::size_t ip = 0;
    std::size_t op = 0;
    while (ip < inLen && op < kLznt1ChunkSize) {
        const std::uint8_t flags = in[ip++];
        for (int bit = 0; bit < 8 && ip < inLen && op < kLznt1ChunkSize; ++bit) {
            if (!(flags & (1u << bit))) {
                out[op++] = in[ip++];
                continue;
            }
            if (inLen - ip < 2)
                return op; // a token cut off by the end of the chunk
            const unsigned token = in[ip] | (in[ip + 1] << 8);
            ip += 2;
            const unsigned lengthBits = LengthBits(op);
            std::size_t length = (token & ((1u << lengthBits) - 1)) + 3;
            const std::size_t offset = (token >> lengthBits) + 1;
            if (length > kLznt1ChunkSize - op)
                length = kLznt1ChunkSize - op;
            if (offset <= op && offset >= length) {
                std::memcpy(out + op, out + op - offset, length);
                op += length;
                continue;
            }
            // Byte by byte: the reference overlaps the bytes it produces, or starts before the
            // chunk (those bytes are zeros).
            for (std::size_t k = 0; k < length; ++k, ++op)
                out[op] = op >= offset ? out[op - offset] : 0;
        }
    }
    return op;
}
