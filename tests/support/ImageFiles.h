#pragma once
// Real image, drawing and font files made at test time by the Debian tools (ImageMagick,
// icoutils, exiftool, libjpeg's cjpeg, ghostscript with epstool, a DejaVu font), cached in the
// build folder, for the carving tests.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct RealImageFile {
    const char* name;     // file name inside RealImageFilesDir()
    const char* analyser; // the analyser class that must take it
    std::uint32_t fileType;
};

// The folder holding every file of RealImageFiles(); "" (and a test failure) when a tool is
// missing or failed.
std::string RealImageFilesDir();
const std::vector<RealImageFile>& RealImageFiles();

} // namespace testsupport
