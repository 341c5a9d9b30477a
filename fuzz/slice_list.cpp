// The open wizard's slice-list reader and the error page's rows over arbitrary bytes.
#include "tools/SliceList.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    const char* text = reinterpret_cast<const char*>(data);
    if (imagetool::ReadSliceListLines(text, size, &lines)) {
        if (lines.empty()) __builtin_trap();
        for (const std::string& line : lines) {
            if (line.empty() || line.find('\n') != std::string::npos) __builtin_trap();
            if (line[0] != '/' && !imagetool::IsDriveLetterPath(line)) __builtin_trap();
        }
        // Keep the rows away from the real file system: only drive-letter lines (which never
        // open) are given to them.
        std::vector<std::string> windows;
        for (const std::string& line : lines)
            if (imagetool::IsDriveLetterPath(line)) windows.push_back(line);
        imagetool::SliceListRows rows;
        rows.FillFromLines(windows);
        if (rows.Complete() != windows.empty()) __builtin_trap();
        if (!windows.empty()) rows.LocateSlice(0, "/nonexistent/" + imagetool::SliceFileName(windows[0]));
    }
    return 0;
}
