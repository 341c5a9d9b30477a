#pragma once
// The peak memory of one tree build, as the benches measure it: the rise of the process's
// resident high-water mark over the build, after freed heap and free tree chunks were handed
// back (malloc_trim, CTreeArena::TrimCache) and the high-water mark reset (/proc/self/clear_refs).
#include "filesystems/TreeArena.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>

namespace benchsupport {

// A line "<key>: <n> kB" of /proc/self/status, in bytes.
inline std::uint64_t StatusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::strtoull(line.c_str() + n + 1, nullptr, 10) * 1024;
    return 0;
}

inline void ResetPeak() {
    malloc_trim(0);
    CTreeArena::TrimCache();
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace benchsupport
