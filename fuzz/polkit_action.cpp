// The polkit action reader (the program an action's exec.path annotation names) on any bytes.
#include "loader/PolkitAction.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string program = PolkitActionProgram(text, kPolkitActionId);
    // What it names is a part of the text with at most its entities decoded: never longer.
    if (program.size() > size)
        __builtin_trap();
    PolkitActionProgram(text, "");
    return 0;
}
