#pragma once
// Width and height of a picture from its first bytes, before anything decodes it: PNG, JPEG,
// GIF, BMP, TIFF and ICO. Every offset and count read from the bytes is checked.
#include <cstdint>

#include "storage/ByteSpan.h"

enum class PictureFormat { Unknown, Png, Jpeg, Gif, Bmp, Tiff, Ico };

struct PictureInfo {
    PictureFormat format = PictureFormat::Unknown;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

constexpr std::uint64_t kPreviewPixelCap = 64ull << 20;   // pixels the preview decodes
constexpr std::uint64_t kThumbnailPixelCap = 16ull << 20; // pixels a thumbnail decodes
constexpr std::uint64_t kMaxThumbnailFileSize = 0x500000; // 5 MiB

// Fills *out when the bytes start a picture of a known format whose size could be read.
bool ProbePicture(ByteSpan bytes, PictureInfo* out);
// Whether a picture so probed may be decoded under `pixelCap`.
bool PictureWithinCap(const PictureInfo& info, std::uint64_t pixelCap);
