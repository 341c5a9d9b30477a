#pragma once
// Replacing a file as one step: the new bytes reach the disk before the name points at them,
// so a crash leaves either the old file or the new one, never a mix.
#include <string>

namespace platform {

// Flushes `from` to disk and renames it over `to` (then flushes the folder). False, with
// errno kept, when a step fails; `from` is then left where it was.
bool ReplaceFileDurably(const std::string& from, const std::string& to);
// Copies `from` into a new file beside `to` and renames that over `to`. False on failure
// (the partial copy is removed; `to` is untouched).
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Removes a file; true when it is gone (or was never there).
bool RemoveFile(const std::string& path);

} // namespace platform
