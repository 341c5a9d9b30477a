// The version-file reader (INI profile lookup and "Product Version") on arbitrary bytes.
#include "update/VersionFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pennat::VersionFileInfo info;
    if (pennat::ParseVersionFile(data, size, info)) {
        if (info.description.size() > pennat::kProfileValueMax ||
            info.url.size() > pennat::kProfileValueMax)
            __builtin_trap();
        // The version read back from its own text gives the same halves.
        char text[32];
        std::snprintf(text, sizeof(text), "%u.%u.%u.%u", info.versionHigh >> 16,
                      info.versionHigh & 0xFFFF, info.versionLow >> 16, info.versionLow & 0xFFFF);
        std::uint32_t high = 0;
        std::uint32_t low = 0;
        if (!pennat::ParseProductVersion(text, high, low) || high != info.versionHigh ||
            low != info.versionLow)
            __builtin_trap();
    }
    // A lookup whose one-letter section and key names come from the input itself.
    if (size >= 2) {
        std::string value;
        const std::string section(1, static_cast<char>(data[0]));
        const std::string key(1, static_cast<char>(data[1]));
        bool found = pennat::GetProfileValue(data + 2, size - 2, section, key, value);
        if (value.size() > pennat::kProfileValueMax || (!found && !value.empty()))
            __builtin_trap();
    }
    return 0;
}
