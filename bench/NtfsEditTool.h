#pragma once
// Where the test build's ntfs_edit tool lives (it fills NTFS bench images with files): this
// build's tests folder, or the test build beside it.
#include <filesystem>
#include <string>

inline std::string NtfsEditTool() {
    for (const std::string& dir : {std::string(BRULIN_BINARY_DIR), std::string(BRULIN_BINARY_DIR) + "/../build"}) {
        const std::string tool = dir + "/tests/ntfs_edit";
        if (std::filesystem::exists(tool))
            return tool;
    }
    return "";
}
