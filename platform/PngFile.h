#pragma once
// Writes 8-bit RGBA pixels as a PNG file (for generated images and screenshots of tools that
// have no image library).
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// `rgba` holds width * height * 4 bytes, rows top to bottom. False when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba);

} // namespace platform
