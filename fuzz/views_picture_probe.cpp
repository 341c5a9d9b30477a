// The picture header probe on any bytes.
#include "ui/views/PictureProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PictureInfo info;
    if (ProbePicture(ByteSpan(data, size), &info) && (info.width == 0 || info.height == 0))
        __builtin_trap();
    return 0;
}
