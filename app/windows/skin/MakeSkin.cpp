// Writes the main window's skin images into <folder>/info: the caption buttons (four 22 x 22
// frames side by side: normal, hover, pressed, disabled) as 24-bit BMP files, the frame
// background and the title band as PNG files.
#include "platform/PngFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    std::uint8_t r, g, b, a;
};

using Painter = std::function<Rgba(int x, int y)>;

std::vector<std::uint8_t> Paint(int w, int h, const Painter& p) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 4));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = p(x, y);
            std::uint8_t* d = &px[static_cast<std::size_t>((y * w + x) * 4)];
            d[0] = c.r, d[1] = c.g, d[2] = c.b, d[3] = c.a;
        }
    return px;
}

bool WriteBmp(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgba) {
    const int stride = (w * 3 + 3) & ~3;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * h);
    std::vector<std::uint8_t> out(54 + dataSize, 0);
    auto put16 = [&](std::size_t at, std::uint32_t v) { out[at] = v & 0xFF, out[at + 1] = (v >> 8) & 0xFF; };
    auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    out[0] = 'B', out[1] = 'M';
    put32(2, 54 + dataSize);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(w));
    put32(22, static_cast<std::uint32_t>(h));
    put16(26, 1);
    put16(28, 24);
    put32(34, dataSize);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = &rgba[static_cast<std::size_t>(((h - 1 - y) * w + x) * 4)];
            std::uint8_t* d = &out[static_cast<std::size_t>(54 + y * stride + x * 3)];
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
        }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

std::uint8_t Mix(int a, int b, double t) { return static_cast<std::uint8_t>(std::lround(a + (b - a) * t)); }

// One caption button: a rounded square whose colour follows the state, with its glyph.
Rgba CaptionButtonPixel(int kind, int x, int y) {
    const int frame = x / 22, fx = x % 22;
    const double cx = fx - 10.5, cy = y - 10.5;
    const bool inside = std::fabs(cx) <= 9.5 && std::fabs(cy) <= 9.5 &&
                        !(std::fabs(cx) > 6.5 && std::fabs(cy) > 6.5 && std::hypot(std::fabs(cx) - 6.5, std::fabs(cy) - 6.5) > 3);
    if (!inside)
        return {0, 0, 0, 0};
    static const int base[4][3] = {{62, 98, 146}, {96, 140, 196}, {36, 64, 104}, {130, 130, 130}};
    int r = base[frame][0], g = base[frame][1], b = base[frame][2];
    if (kind == 2 && frame != 3)
        r += 120, g -= 40, b -= 60;  // the close button is red
    bool glyph = false;
    switch (kind) {
    case 0: glyph = fx >= 6 && fx <= 15 && y >= 14 && y <= 15; break;                                  // minimise
    case 1: glyph = fx >= 6 && fx <= 15 && y >= 6 && y <= 15 && (fx <= 6 || fx >= 15 || y <= 7 || y >= 15); break;  // maximise
    case 2: glyph = std::fabs(std::fabs(cx) - std::fabs(cy)) < 1.0 && std::fabs(cx) < 5; break;           // close
    case 3:  // restore: two overlapping boxes
        glyph = ((fx >= 8 && fx <= 15 && y >= 5 && y <= 12) && (fx == 8 || fx == 15 || y <= 6 || y == 12)) ||
                ((fx >= 5 && fx <= 12 && y >= 9 && y <= 16) && (fx == 5 || fx == 12 || y <= 10 || y == 16));
        break;
    }
    if (glyph)
        return {255, 255, 255, 255};
    const double t = y / 21.0;
    return {Mix(std::min(255, r + 40), r, t), Mix(std::min(255, g + 40), std::max(0, g), t), Mix(std::min(255, b + 40), std::max(0, b), t), 255};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <program folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path info = std::filesystem::path(argv[1]) / "info";
    std::filesystem::create_directories(info);
    const char* names[4] = {"min-button.bmp", "max-button.bmp", "close-button.bmp", "restore-button.bmp"};
    bool ok = true;
    for (int kind = 0; kind < 4; ++kind)
        ok &= WriteBmp((info / names[kind]).string(), 88, 22,
                       Paint(88, 22, [kind](int x, int y) { return CaptionButtonPixel(kind, x, y); }));
    // Frame background: a blue caption band fading into a grey border.
    ok &= platform::WritePng((info / "mainbg.png").string(), 200, 100, Paint(200, 100, [](int, int y) {
        if (y < 30)
            return Rgba{Mix(78, 40, y / 29.0), Mix(122, 72, y / 29.0), Mix(178, 118, y / 29.0), 255};
        return Rgba{96, 104, 116, 255};
    }));
    // Title band: a lighter tab under the title.
    ok &= platform::WritePng((info / "titlebk.png").string(), 266, 30, Paint(266, 30, [](int x, int y) {
        const double edge = std::min(x, 265 - x) / 30.0;
        const std::uint8_t a = static_cast<std::uint8_t>(std::lround(std::min(1.0, edge) * 90 * (1.0 - y / 40.0)));
        return Rgba{255, 255, 255, a};
    }));
    return ok ? 0 : 1;
}
