#pragma once
// A small LZNT1 encoder for tests and benchmarks: greedy matching over a hash chain. It makes
// input for the decoder; the engine itself never compresses.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// Encodes up to 4096 bytes as one chunk (header included). A chunk that would not shrink is
// stored uncompressed, as NTFS does.
inline std::vector<std::uint8_t> Lznt1CompressChunk(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        size = 4096;
    std::vector<std::uint8_t> out(2);
    std::vector<int> head(1 << 12, -1);
    std::vector<int> prev(size, -1);
    auto hash = [&](std::size_t p) {
        return ((data[p] << 4) ^ (data[p + 1] << 2) ^ data[p + 2]) & 0xFFF;
    };
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t flagAt = out.size();
        out.push_back(0);
        std::uint8_t flags = 0;
        for (int bit = 0; bit < 8 && pos < size; ++bit) {
            unsigned lengthBits = 12;
            for (std::size_t p = pos == 0 ? 0 : pos - 1; p >= 16; p >>= 1)
                --lengthBits;
            const std::size_t maxOffset = std::size_t(1) << (16 - lengthBits);
            const std::size_t maxLength = (std::size_t(1) << lengthBits) + 2;
            std::size_t bestLen = 0, bestOff = 0;
            if (pos + 3 <= size) {
                int steps = 0;
                for (int cand = head[hash(pos)]; cand >= 0 && steps < 64; cand = prev[cand], ++steps) {
                    const std::size_t off = pos - static_cast<std::size_t>(cand);
                    if (off > maxOffset)
                        break;
                    std::size_t len = 0;
                    while (pos + len < size && len < maxLength && data[cand + len] == data[pos + len])
                        ++len;
                    if (len > bestLen) {
                        bestLen = len;
                        bestOff = off;
                    }
                }
            }
            std::size_t advance = 1;
            if (bestLen >= 3) {
                const unsigned token = static_cast<unsigned>(((bestOff - 1) << lengthBits) | (bestLen - 3));
                out.push_back(static_cast<std::uint8_t>(token));
                out.push_back(static_cast<std::uint8_t>(token >> 8));
                flags |= static_cast<std::uint8_t>(1u << bit);
                advance = bestLen;
            } else {
                out.push_back(data[pos]);
            }
            for (std::size_t k = 0; k < advance; ++k, ++pos) {
                if (pos + 3 <= size) {
                    const unsigned h = hash(pos);
                    prev[pos] = head[h];
                    head[h] = static_cast<int>(pos);
                }
            }
        }
        out[flagAt] = flags;
    }
    if (out.size() - 2 >= size) { // no gain: store the chunk
        out.assign(data, data + size);
        out.insert(out.begin(), 2, 0);
        const unsigned header = 0x3000 | static_cast<unsigned>(size - 1);
        out[0] = static_cast<std::uint8_t>(header);
        out[1] = static_cast<std::uint8_t>(header >> 8);
        return out;
    }
    const unsigned header = 0xB000 | static_cast<unsigned>(out.size() - 3);
    out[0] = static_cast<std::uint8_t>(header);
    out[1] = static_cast<std::uint8_t>(header >> 8);
    return out;
}

// Encodes a whole buffer as consecutive chunks of 4096 input bytes.
inline std::vector<std::uint8_t> Lznt1Compress(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at < data.size(); at += 4096) {
        const std::size_t n = data.size() - at < 4096 ? data.size() - at : 4096;
        auto chunk = Lznt1CompressChunk(data.data() + at, n);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

} // namespace testsupport
