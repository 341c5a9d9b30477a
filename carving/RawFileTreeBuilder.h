#pragma once
// The "Raw Files" folder: the carved files of the chosen types, one folder per type named by
// its description, files named FILE001.<EXT> and on, and range folders of 300 files once a
// type has more. Files that start in a cluster already used by a file of the partition's tree
// are left out; files the search left unsized are sized here on the device; every size is
// capped at ScanOptions.MaxRawFileSize and at the end of the device (a file cut by either is
// logged and keeps on its properties the size it claims and why it was cut; a size where a
// scan for the file's end stopped at the limit claims nothing); files that still have no size
// are left out.
#include <atomic>
#include <cstdint>
#include <vector>

#include "carving/records/RawFileInfo.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"

class IDIRBuildCallback;
class IIsClusterUsed;
class IStorageDevice;

constexpr std::uint32_t kRawRangeFolderFiles = 300;

class CRawFileTreeBuilder {
public:
    CRawFileTreeBuilder();
    CRawFileTreeBuilder(const CRawFileTreeBuilder&) = delete;
    CRawFileTreeBuilder& operator=(const CRawFileTreeBuilder&) = delete;

    // The "Raw Files" folder, or null when ScanOptions.RecoverRawFiles is 0. `device` is the
    // device the carved start sectors refer to; `clusterMap` and `callback` may be null.
    // Cancelling through the callback keeps what was added so far.
    FileTreePtr Build(IStorageDevice* device, IIterator<CRawFileInfo*>* files,
                      const IIsClusterUsed* clusterMap, IDIRBuildCallback* callback);

    // Adds one file of type `type` and returns its node (null for an id outside the table).
    CFileNode* AddFile(std::uint64_t startSector, std::uint64_t size, std::uint32_t type);
    // Names the newest range folder of every type with more than 300 files after its content.
    void Finish();

    // The folder of the last Build (not owned: Build handed it out).
    CFileSystemNode* GetRoot() const { return m_root; }
    int GetTypeCount(std::uint32_t type) const {
        return type < kRawFileTypeTableSize ? m_counts[type] : 0;
    }

    // Arguments and done flag of a build on a worker thread (BuildRawFileTree).
    IStorageDevice* m_device = nullptr;
    IIterator<CRawFileInfo*>* m_files = nullptr;
    const IIsClusterUsed* m_clusterMap = nullptr;
    IDIRBuildCallback* m_callback = nullptr;
    std::atomic<bool> m_done{false};

private:
    CFileNode* MakeFolder(const char* name);
    CFileNode* NewTypeFolder(std::uint32_t type);

    bool m_rootCreated = false;
    bool m_finished = false;
    CFileSystemNode* m_root = nullptr; // the folder being built
    std::vector<int> m_counts;
    std::vector<CFileNode*> m_folders;
};

// Builds on the calling thread (onThread 0), or on a worker while the caller waits through the
// platform's worker wait. Returns the built folder (null when the worker could not start).
FileTreePtr BuildRawFileTree(IDIRBuildCallback* callback, const IIsClusterUsed* clusterMap,
                             CRawFileTreeBuilder* builder, IStorageDevice* device,
                             IIterator<CRawFileInfo*>* files, int onThread);
