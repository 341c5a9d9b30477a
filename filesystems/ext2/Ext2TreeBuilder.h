#pragma once
// Builds the file tree of an EXT2/EXT3 file system, live and deleted files alike, on a worker
// thread. The build walks every inode of the inode tables, makes a node for every usable file
// and directory inode, reads each directory's entries to learn its children's names and its
// parent (".."), and then links the nodes: directories under their parents, files under the
// directories that name them, everything else under the root. A deleted file's inode keeps
// its mode and times, so it is found in the tables even when no directory names it any more;
// it is then called "Inode_<hex number>" and lands under the root.
#include <atomic>
#include <cstdint>
#include <vector>

#include "filesystems/FileNode.h"

class CClusterUseBitMap;
class CTreeArena;
class CExt2FileSystem;
class CRawFileList;
class IDIRBuildCallback;
class IStorageDevice;

// One build. The caller constructs it, passes it to a builder and destroys it afterwards.
struct Ext2TreeBuildContext {
    Ext2TreeBuildContext() = default;
    ~Ext2TreeBuildContext();
    Ext2TreeBuildContext(const Ext2TreeBuildContext&) = delete;
    Ext2TreeBuildContext& operator=(const Ext2TreeBuildContext&) = delete;

    std::atomic<bool> abort{false};
    // One bit per file-system block (bit b: block b holds data of a file in the tree); empty
    // unless the build asked for it.
    std::vector<std::uint64_t> usedBlocks;
    // Every node made below the root, in the order of the inode walk (by inode number).
    std::vector<CFileNode*> made;
    // The file nodes (all but the folders) by inode number: the flat index of the walk.
    struct FileSlot {
        std::uint32_t inode;
        std::uint32_t made; // position in `made`
    };
    std::vector<FileSlot> files;
    // The folder nodes: by inode number while the inodes are read, then by the inode number of
    // their parent (the one their ".." entry names), in walk order among equals.
    struct DirectorySlot {
        std::uint32_t parent;
        std::uint32_t inode;
        std::uint32_t made;
    };
    std::vector<DirectorySlot> directories;
    CTreeArena* arena = nullptr; // of the build in progress: nodes, properties, names, runs
    IDIRBuildCallback* callback = nullptr;
    IStorageDevice* device = nullptr;
    std::uint64_t superBlockSector = 2;
    std::uint32_t bitmapFlag = 0;
    FileTreePtr result;
    std::atomic<bool> done{false};
    // The search build's extras.
    CExt2FileSystem* fileSystem = nullptr;
    CRawFileList* resultSink = nullptr;
    std::uint32_t partitionIndex = 0;
};

// The deleted-file scan of a volume: opens the file system at the start of `device` (from the
// backup superblock of group 1 when the primary one is damaged) and builds its tree on a
// worker thread while the calling thread waits (platform::WaitForWorker). Root
// or null (file system not recognised, cancelled, or the thread could not start).
FileTreePtr BuildExt2FileTree(IStorageDevice* device, IDIRBuildCallback* callback,
                              Ext2TreeBuildContext* context);
// The tree of a partition a search found, with a folder of files carved from the blocks no
// file uses; the root is named after `partitionIndex` + 1. Root or null.
FileTreePtr Ext2SearchTreeBuilder(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
                                  IDIRBuildCallback* callback, CRawFileList* resultSink,
                                  std::uint32_t partitionIndex);

// The build proper (on the calling thread). Root or null when cancelled.
FileTreePtr BuildExt2Tree(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
                          IDIRBuildCallback* callback, std::uint32_t bitmapFlag);
// The root folder: named "Ext2" or "Ext3", with "(volume name)" when there is one (characters
// other than ASCII letters and digits become '_'); holds the root directory's child names
// (their text from `arena`, the heap for null).
FileTreePtr MakeExt2RootNode(CExt2FileSystem* fs, CTreeArena* arena = nullptr);
// The inode walk ("Reading files", one step per block group): a node for every usable inode,
// each folder's entries listed into its child names. Inodes whose table lies past the device's
// end (a copy of the volume cut short) are skipped, one line in "Ext2Error.log" for each
// stretch of them.
void Ext2ReadInodes(Ext2TreeBuildContext* context, CExt2FileSystem* fs);
// Links the nodes ("Building directory tree...", one step per directory): 1 done, 0 cancelled.
// Nodes that no folder names are called "Inode_<hex number>".
int Ext2BuildDirectoryTree(Ext2TreeBuildContext* context, CFileSystemNode* root,
                           IDIRBuildCallback* callback);

// Carving over the blocks that no file of the tree uses: the "Raw Files" folder of the files
// the deep scan carved that start in blocks the map leaves unused, or null (no results, or
// RAW recovery switched off).
FileTreePtr CarveExt2UnusedBlocks(IStorageDevice* device, CRawFileList* resultSink,
                                  const CClusterUseBitMap& used, IDIRBuildCallback* callback);
