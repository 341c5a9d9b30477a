// Name and type masks over names as a damaged disk can hold them: the input is a mask, a NUL,
// and a name. Building never fails, matching never crashes or hangs, and a mask of one '*'
// matches every name made of name characters.
#include "tools/NameMask.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto nul = input.find('\0');
    const std::string mask = input.substr(0, nul);
    const std::string name = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    if (mask.size() > 300 || name.size() > 1024)
        return 0;
    for (int mode : {kNameFilterFind, kNameFilterSearch})
        for (bool caseSensitive : {false, true}) {
            const FileNamePattern p = BuildNameFilter(mask, caseSensitive, mode == kNameFilterSearch, mode);
            if (!p.compiled)
                __builtin_trap();
            RegexMatchString(name, p);
            RegexMatch(name.c_str(), p);
        }
    const FileNamePattern type = MaskToRegex(mask);
    if (!type.compiled)
        __builtin_trap();
    RegexMatchString(name, type);
    const FileNamePattern all = BuildNameFilter("*", false, false, kNameFilterSearch);
    if (name.find_first_of(std::string("/*?:\"<>|\0", 9)) == std::string::npos && !RegexMatchString(name, all))
        __builtin_trap();
    return 0;
}
