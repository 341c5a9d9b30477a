// The picture header probe on any bytes. Compiled in from the view folder (no wx there).
#include "ui/views/PictureProbe.cpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PictureInfo info;
    if (ProbePicture(ByteSpan(data, size), &info) && (info.width == 0 || info.height == 0))
        __builtin_trap();
    return 0;
}
