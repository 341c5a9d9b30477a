// Writes the program's icon, a disk platter on a blue tile, as <file> (a square RGBA PNG of
// <size> pixels): brulin_make_icon <file> <size>.
#include "platform/PngFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <file.png> <size>\n", argv[0]);
        return 2;
    }
    const int n = std::atoi(argv[2]);
    if (n < 16 || n > 1024)
        return 2;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(n) * n * 4, 0);
    const double c = (n - 1) / 2.0, corner = n * 0.18, half = n / 2.0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            // Rounded tile: distance outside the inner rectangle of the corners.
            const double dx = std::max(0.0, std::abs(x - c) - (half - corner));
            const double dy = std::max(0.0, std::abs(y - c) - (half - corner));
            const double edge = corner - std::hypot(dx, dy);
            if (edge <= 0)
                continue;
            const double t = static_cast<double>(y) / n;
            double r = 40 + 38 * (1 - t), g = 72 + 50 * (1 - t), b = 118 + 60 * (1 - t);
            const double d = std::hypot(x - c, y - c) / half;  // 0 centre .. 1 tile edge
            if (d < 0.74) {                                    // platter
                const double shade = 200 + 40 * std::cos((x - y) * 3.0 / n);
                r = g = b = shade;
                if (d > 0.68 || (d > 0.30 && d < 0.33))
                    r = g = b = 150;                           // rim and a track
                if (d < 0.14)
                    r = 90, g = 96, b = 108;                   // hub
            }
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * n + x) * 4];
            p[0] = static_cast<std::uint8_t>(r), p[1] = static_cast<std::uint8_t>(g), p[2] = static_cast<std::uint8_t>(b);
            p[3] = static_cast<std::uint8_t>(255 * std::min(1.0, edge));
        }
    return platform::WritePng(argv[1], n, n, px) ? 0 : 1;
}
