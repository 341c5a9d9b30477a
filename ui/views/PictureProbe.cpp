#include "ui/views/PictureProbe.h"

#include <cstring>

namespace {

bool ProbeJpeg(ByteSpan b, PictureInfo* out) {
    std::size_t p = 2;
    // Markers are walked one segment at a time; each step moves forward, so the walk ends.
    while (b.has(p, 4)) {
        if (b.u8(p) != 0xFF)
            return false;
        const std::uint8_t m = b.u8(p + 1);
        if (m == 0xFF) {
            ++p; // fill byte
            continue;
        }
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            p += 2;
            continue;
        }
        if (m == 0xD9 || m == 0xDA)
            return false; // end of image or scan data before any frame header
        const std::uint16_t len = b.be16(p + 2);
        if (len < 2)
            return false;
        const bool sof = (m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (sof) {
            if (len < 7 || !b.has(p + 4, 5))
                return false;
            out->height = b.be16(p + 5);
            out->width = b.be16(p + 7);
            return out->width && out->height;
        }
        p += 2 + static_cast<std::size_t>(len);
    }
    return false;
}

bool ProbeTiff(ByteSpan b, PictureInfo* out) {
    const bool le = b.u8(0) == 'I';
    auto r16 = [&](std::size_t o) { return le ? b.u16(o) : b.be16(o); };
    auto r32 = [&](std::size_t o) { return le ? b.u32(o) : b.be32(o); };
    const std::uint32_t ifd = r32(4);
    if (!b.has(ifd, 2))
        return false;
    const std::uint16_t count = r16(ifd);
    std::uint32_t w = 0, h = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::size_t e = static_cast<std::size_t>(ifd) + 2 + k * 12u;
        if (!b.has(e, 12))
            break;
        const std::uint16_t tag = r16(e), type = r16(e + 2);
        std::uint32_t v = 0;
        if (type == 3)
            v = r16(e + 8);
        else if (type == 4)
            v = r32(e + 8);
        else
            continue;
        if (tag == 256)
            w = v;
        else if (tag == 257)
            h = v;
    }
    if (!w || !h)
        return false;
    out->width = w;
    out->height = h;
    return true;
}

} // namespace

bool ProbePicture(ByteSpan b, PictureInfo* out) {
    *out = PictureInfo();
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    PictureInfo info;
    bool ok = false;
    if (b.matches(0, kPng, 8) && b.has(16, 8) && b.matches(12, "IHDR", 4)) {
        info.format = PictureFormat::Png;
        info.width = b.be32(16);
        info.height = b.be32(20);
        ok = true;
    } else if (b.has(0, 4) && b.u8(0) == 0xFF && b.u8(1) == 0xD8 && b.u8(2) == 0xFF) {
        info.format = PictureFormat::Jpeg;
        ok = ProbeJpeg(b, &info);
    } else if ((b.matches(0, "GIF87a", 6) || b.matches(0, "GIF89a", 6)) && b.has(6, 4)) {
        info.format = PictureFormat::Gif;
        info.width = b.u16(6);
        info.height = b.u16(8);
        ok = true;
    } else if (b.matches(0, "BM", 2) && b.has(14, 4)) {
        info.format = PictureFormat::Bmp;
        const std::uint32_t dib = b.u32(14);
        if (dib == 12 && b.has(18, 4)) {
            info.width = b.u16(18);
            info.height = b.u16(20);
            ok = true;
        } else if (dib >= 40 && b.has(18, 8)) {
            const std::int64_t w = b.i32(18), h = b.i32(22);
            info.width = static_cast<std::uint32_t>(w < 0 ? -w : w);
            info.height = static_cast<std::uint32_t>(h < 0 ? -h : h);
            ok = true;
        }
    } else if ((b.matches(0, "II*\0", 4) || b.matches(0, "MM\0*", 4)) && b.has(0, 8)) {
        info.format = PictureFormat::Tiff;
        ok = ProbeTiff(b, &info);
    } else if (b.has(0, 6) && b.u16(0) == 0 && b.u16(2) == 1 && b.u16(4) > 0) {
        info.format = PictureFormat::Ico;
        const std::uint16_t count = b.u16(4);
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::size_t e = 6 + k * 16u;
            if (!b.has(e, 16))
                break;
            const std::uint32_t w = b.u8(e) ? b.u8(e) : 256, h = b.u8(e + 1) ? b.u8(e + 1) : 256;
            if (w * h > info.width * info.height) {
                info.width = w;
                info.height = h;
            }
            ok = true;
        }
    }
    if (!ok || !b.ok() || info.width == 0 || info.height == 0)
        return false;
    *out = info;
    return true;
}

bool PictureWithinCap(const PictureInfo& info, std::uint64_t pixelCap) {
    return info.format != PictureFormat::Unknown && info.width && info.height &&
           std::uint64_t(info.width) * info.height <= pixelCap;
}
