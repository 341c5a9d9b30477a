// Saves the X screen (or the largest top-level window that is mapped, with --window) as a PNG:
//   x_screenshot [--window] <file.png>
// Used by the program tests, which run the program on a virtual X server.
#include "platform/PngFile.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    bool window = false;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0)
            window = true;
        else
            out = argv[i];
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: x_screenshot [--window] <file.png>\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x_screenshot: cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes rootAttrs;
    XGetWindowAttributes(display, root, &rootAttrs);
    int x = 0, y = 0, w = rootAttrs.width, h = rootAttrs.height;
    if (window) {
        Window rootRet, parent;
        Window* children = nullptr;
        unsigned count = 0;
        long best = 0;
        if (XQueryTree(display, root, &rootRet, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i) {
                XWindowAttributes a;
                if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
                    static_cast<long>(a.width) * a.height > best && a.width < rootAttrs.width) {
                    best = static_cast<long>(a.width) * a.height;
                    x = std::max(0, a.x), y = std::max(0, a.y);
                    w = std::min(a.width, rootAttrs.width - x), h = std::min(a.height, rootAttrs.height - y);
                }
            }
            XFree(children);
        }
    }
    XImage* img = XGetImage(display, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (!img) {
        XCloseDisplay(display);
        return 1;
    }
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    for (int yy = 0; yy < h; ++yy)
        for (int xx = 0; xx < w; ++xx) {
            const unsigned long p = XGetPixel(img, xx, yy);
            std::uint8_t* d = &rgba[(static_cast<std::size_t>(yy) * static_cast<std::size_t>(w) + static_cast<std::size_t>(xx)) * 4];
            d[0] = static_cast<std::uint8_t>((p & img->red_mask) >> 16);
            d[1] = static_cast<std::uint8_t>((p & img->green_mask) >> 8);
            d[2] = static_cast<std::uint8_t>(p & img->blue_mask);
            d[3] = 255;
        }
    XDestroyImage(img);
    XCloseDisplay(display);
    return platform::WritePng(out, w, h, rgba) ? 0 : 1;
}
