#pragma once
// Owns a built file tree in tests: frees its nodes and properties when it goes out of scope.
#include "filesystems/FileNode.h"

#include <memory>

namespace testsupport {

struct TreeDeleter {
    void operator()(CFileSystemNode* root) const { DeleteFileTree(root); }
};
using TreePtr = std::unique_ptr<CFileSystemNode, TreeDeleter>;

} // namespace testsupport
