// Stored image blocks through the block decoders: the first byte picks the codec, the rest is
// the stored block.
#include "storage/BlockCodec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kImageStoredBlockCapacity + 1)
        return 0;
    static std::unique_ptr<IDecompressor> decoders[3] = {
        std::unique_ptr<IDecompressor>(CreateImageDecompressor(COMPRESSION_BZIP2)),
        std::unique_ptr<IDecompressor>(CreateImageDecompressor(COMPRESSION_ZLIB)),
        std::unique_ptr<IDecompressor>(CreateImageDecompressor(COMPRESSION_LZMA))};
    static std::vector<std::uint8_t> out(kImageBlockBytes);
    IDecompressor* d = decoders[data[0] % 3].get();
    std::uint32_t produced = 0;
    DecompressWithCodec(d, data + 1, static_cast<std::uint32_t>(size - 1), out.data(),
                        kImageBlockBytes, &produced);
    if (produced > kImageBlockBytes)
        __builtin_trap();
    return 0;
}
