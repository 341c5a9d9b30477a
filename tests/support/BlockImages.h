#pragma once
// The program's own block images (".edi") written by its image writer from an image file, for
// tests that read, damage or open them.
#include "storage/BlockCodec.h"
#include "storage/CompressController.h"

#include <cstdint>
#include <string>

namespace testsupport {

// An image writer's callback that never cancels and shows nothing.
class QuietImaging : public ICompressCallBack {
public:
    void PumpMessages() override {}
    int IsCancelled() override { return 0; }
    void OnBlockDone(std::uint64_t) override {}
    void SetBlockCount(std::uint64_t, std::uint64_t) override {}
};

struct BlockImageOptions {
    CompressionType type = COMPRESSION_NONE;
    int level = 1;
    std::uint32_t sliceSectors = 0; // 0: the writer's default
    std::string caption = "test source";
    std::uint32_t heads = 255; // heads per cylinder in the header
};

// Writes the whole of the image file `source` as a block image at `path`; false (and a test
// failure) when the writer fails.
bool WriteBlockImage(const std::string& source, const std::string& path,
                     const BlockImageOptions& options = {});

} // namespace testsupport
