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

// Volumes in which a file was written into a deleted file's clusters and then deleted too:
// "old.bin" (deleted first), "new.bin" (written from old.bin's first cluster on, shorter than
// it, then deleted), "intact.bin" (deleted, its clusters free) and "keep.bin" (live), in the
// root folder (NTFS) or in "/DOCS" (FAT32). Sizes tell the deleted files apart.
const std::vector<std::uint8_t>& OverwritingNewBytes();
// mkntfs and ntfs-3g. With `stamped` every record gets the $LogFile sequence number Windows
// would have given it (old.bin 1000, intact.bin 1500, new.bin 2000); without, the library's 0.
std::string NtfsOverwrittenDeletedVolume(bool stamped);
// mkfs.fat -F 32 and mtools; "new.bin" has a later time than "old.bin", or the same one with
// `sameTimes`.
std::string FatOverwrittenDeletedVolume(bool sameTimes);

// mkfs.fat -F 32 and mtools: in "/DOCS" the live "X.BIN" in two pieces, around the live
// "Y.BIN" (its first piece in the clusters of a deleted file written before Y.BIN).
const std::vector<std::uint8_t>& SplitLiveBytes();
const std::vector<std::uint8_t>& SplitNeighbourBytes();
std::string FatSplitLiveFileVolume();

// The deleted "old.bin" and "intact.bin" of a tree built from one of the volumes (told apart
// by their sizes, as a deleted FAT entry has lost its first letter and a removed EXT2 file its
// name); null when not found.
struct CrossLinkFiles {
    CFileNode* reused = nullptr;
    CFileNode* intact = nullptr;
};
CrossLinkFiles FindCrossLinkFiles(CFileNode* root);

// A file (not folder) of `size` bytes under `root`, deleted or live; null when there is none.
CFileNode* FileOfSize(CFileNode* root, std::uint64_t size, bool deleted);

} // namespace testsupport
