#pragma once
// Drive letters of volumes. Linux has none: the drive-letter assignment fills this table
// (letter -> volume device path), and devices opened by letter look it up here.
#include <string>

namespace platform {

// Records (or with an empty path, removes) the volume behind `letter` (case-insensitive).
void SetDriveLetterPath(char letter, const std::string& devicePath);
// The device path of `letter`, "" when the letter is not assigned.
std::string GetDriveLetterPath(char letter);
void ClearDriveLetters();

} // namespace platform
