#pragma once
// Volumes made by the real tools in which a later file took the clusters of a deleted one, for
// the cross-link tests, cached per build tree. Each holds "old.bin" (deleted, then most of its
// clusters taken by "new.bin"), "keep.bin" (live) and "intact.bin" (deleted after "new.bin" was
// written: its clusters are free and still hold it), and a small deleted filler.
#include <cstdint>
#include <string>
#include <vector>

class CFileNode;

namespace testsupport {

const std::vector<std::uint8_t>& CrossLinkOldBytes();
const std::vector<std::uint8_t>& CrossLinkNewBytes();
const std::vector<std::uint8_t>& CrossLinkKeepBytes();
const std::vector<std::uint8_t>& CrossLinkIntactBytes();

// mkntfs and ntfs-3g (the ntfs_edit helper); the files in the root folder.
std::string NtfsCrossLinkVolume();
// mkfs.fat -F 32 and mtools; the files in the folder "/DOCS".
std::string FatCrossLinkVolume();
// mke2fs -d (the live file) and debugfs; the files in the root folder.
std::string Ext2CrossLinkVolume();

// The deleted "old.bin" and "intact.bin" of a tree built from one of the volumes (told apart
// by their sizes, as a deleted FAT entry has lost its first letter and a removed EXT2 file its
// name); null when not found.
struct CrossLinkFiles {
    CFileNode* reused = nullptr;
    CFileNode* intact = nullptr;
};
CrossLinkFiles FindCrossLinkFiles(CFileNode* root);

} // namespace testsupport
