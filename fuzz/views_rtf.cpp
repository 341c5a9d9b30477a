// The rich-text reader of the preview on any bytes.
#include "ui/views/PreviewPaging.h"
#include "ui/views/RtfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RtfDocument doc;
    if (ReadRtf(data, size, &doc, 1u << 20)) {
        std::size_t total = 0;
        for (const RtfRun& r : doc.runs)
            total += r.text.size();
        if (total > (1u << 20))
            __builtin_trap();
    }
    DecodeDisplayText(data, size);
    return 0;
}
