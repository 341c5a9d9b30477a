#pragma once
// Program-made folders of the trees shown to the user: the "Root" that holds the file systems of
// a scan, the "Deleted Files" folder, and the copy of a scanned tree that keeps only the
// entries a filter passes (a derived tree: its nodes borrow the scanned tree's properties).
#include "filesystems/FileNode.h"

class IFileFilter;

// A folder named "Root" with the directory attribute.
FileTreePtr CreateFileTreeRoot();
// The "Deleted Files" folder: directory, size 0, file system 7 (until filled), volume block
// marked as derived.
FileTreePtr CreateDeletedFilesRoot();

struct NodeTreeBuildContext {
    CFileSystemNode* folder = nullptr;
    const IFileFilter* filter = nullptr;
};
// Fills `context.folder` from `scannedRoot`: the folder takes the scanned root's name, caption,
// file-system information and type; every file below the scanned root that the filter passes
// is copied (a node borrowing the scanned node's properties) with the folders on its way; a
// folder that keeps nothing is left out. Order is kept. Walks with an explicit stack. Returns
// the folder. The tree holding the folder must keep the scanned tree alive
// (CFileSystemNode::KeepSourceAlive).
CFileSystemNode* BuildNodeTreeFromDirectory(CFileNode* scannedRoot, const NodeTreeBuildContext& context);

// The Deleted File Recovery tree of a scan: "Root" holding the filled "Deleted Files" folder,
// marked derived and with the folder's file-system information; counters recounted. The root
// keeps `scanned` alive for as long as the tree lives.
FileTreePtr BuildDeletedFilesTree(SharedFileTree scanned);
