#include "platform/PngFile.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

namespace platform {
namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& out, const char type[4], const std::vector<std::uint8_t>& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

} // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return false;
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(height) * (static_cast<std::size_t>(width) * 4 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const auto* row = rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        raw.insert(raw.end(), row, row + static_cast<std::size_t>(width) * 4);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    Put32(header, static_cast<std::uint32_t>(width));
    Put32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA
    Chunk(out, "IHDR", header);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", {});
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    return f && std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
}

} // namespace platform
