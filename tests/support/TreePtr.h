#pragma once
// The tests hold built trees the way the program does: through the owning handle.
#include "filesystems/FileNode.h"

namespace testsupport {

using TreePtr = FileTreePtr;

} // namespace testsupport
