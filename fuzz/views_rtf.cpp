// The rich-text reader of the preview on any bytes. The view folder is a window library, so
// the reader's sources (which use no wx) are compiled in here.
#include "ui/views/PreviewPaging.cpp"
#include "ui/views/RtfReader.cpp"

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
