#pragma once
// Found-file trees for the view tests, from quick scans of images made by the real tools, and
// small hand-made nodes for tables of cases.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "tests/support/TreePtr.h"

namespace viewtests {

// A node whose properties are a plain record (freed with the owner).
struct HandNodes {
    std::vector<std::unique_ptr<CFileNode>> nodes;
    std::vector<std::unique_ptr<CMyFileProperties>> props;
    CFileNode* Add(const MyFilePropertiesRecord& record);
    ~HandNodes();
};

MyFilePropertiesRecord Record(const char* name, std::uint32_t valid, std::uint64_t size = 0,
                              std::uint64_t time = 0, std::uint16_t attrs = 0, std::uint8_t state = 0);

// NTFS image: /docs with 12 files of different sizes, one of them deleted, /docs/sub with two.
const std::string& NtfsListImage();
testsupport::TreePtr ScanNtfs(const std::string& image);
// FAT16 image with pictures made by ImageMagick and a few edge files.
const std::string& FatPictureImage();
testsupport::TreePtr ScanFat(const std::string& image);

// Child of `folder` by name (first match), or null.
CFileNode* Child(CFileNode* folder, const std::string& name);
// Node at "/a/b" below root.
CFileNode* AtPath(CFileNode* root, const std::string& path);

} // namespace viewtests
