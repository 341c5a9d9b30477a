#pragma once
// Reading back a built FAT tree in tests: nodes by path, a file's bytes through its runs, and
// the live entries that `mdir -/ -a` lists, to compare with.
#include "tests/support/FatImages.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CFileNode;
class IStorageDevice;

namespace testsupport {

// Every node below `root` by path ("Keep Folder/Small One.txt"); a name met twice in one folder
// gets "#2" appended.
std::map<std::string, const CFileNode*> FlattenTree(const CFileNode* root);
// A file's bytes read through its data runs, cut to its size.
std::vector<std::uint8_t> ReadNodeBytes(IStorageDevice& device, const CFileNode* node);
// The live entries `mdir -/ -a` lists: "path" -> size, or -1 for folders.
std::map<std::string, std::int64_t> MdirEntries(FatImage& image);
// The live (state 0) entries of a tree in the same form, leaving out the folders the builders
// make and everything below them.
std::map<std::string, std::int64_t> LiveTreeEntries(const CFileNode* root);

} // namespace testsupport
