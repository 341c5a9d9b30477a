// The mount-table parser on arbitrary bytes.
#include "platform/MountInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<platform::MountEntry> entries =
        platform::ParseMountInfo(reinterpret_cast<const char*>(data), size);
    std::size_t total = 0;
    for (const platform::MountEntry& e : entries)
        total += e.mountPoint.size() + e.source.size() + e.fsType.size();
    // Every decoded field is no longer than the input it came from.
    if (total > size * 3)
        __builtin_trap();
    return 0;
}
