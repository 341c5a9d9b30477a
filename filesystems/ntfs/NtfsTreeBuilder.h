#pragma once
// The quick scan of one NTFS volume: reads the volume's own MFT on a worker thread, turns every
// usable file record (live or deleted) into a tree entry, links entries to their folders by the
// parent references of their names and gathers what cannot be linked under a lost-files folder.
#include "filesystems/FileNode.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class IDIRBuildCallback;

// One accepted MFT record. (Its sector is the properties' record sector.)
struct NtfsRecordEntry {
    CNTFSFileProperties* properties = nullptr; // owned until a tree node takes it
    std::int64_t parent = -1;                // parent folder's record number, -1 unknown
    std::int64_t record = -1;                // record number, -1 unknown
    std::uint32_t isDirectory = 0;           // the record header's directory flag
};

struct NtfsMftInfo {
    std::uint64_t startSector = 0;   // where the $MFT record was read
    NtfsExtentList extents;          // the MFT's runs, sorted by VCN
    std::uint8_t sectorsPerClusterEstimate = 0;
};

// The quick scan's form of its records: each record with properties becomes its tree node as
// it is read, and the nodes naming one parent folder wait in one chain (through their
// m_pNextSibling, in MFT order) until the linking hangs them under that folder. A waiting node's
// m_pSourceRecord carries its record number and directory flag packed into the pointer's bits,
// so a record costs nothing beyond its node and properties.
struct NtfsParentChain {
    CFileNode* head = nullptr;
    CFileNode* tail = nullptr;
    std::uint64_t unnamed = 0; // records of this parent that gave no properties (no node)
};
struct NtfsParentChains {
    std::unordered_map<std::int64_t, NtfsParentChain> byParent;
    std::uint64_t records = 0; // every accepted record, with or without a node
    ~NtfsParentChains();       // frees the nodes still waiting, with their properties
};

// The record that holds the volume's cluster allocation.
constexpr std::int64_t kNtfsBitmapRecord = 6;

struct NtfsRecordList {
    NtfsMftInfo* mft = nullptr;
    std::deque<NtfsRecordEntry> entries; // MFT order; stable addresses for the nodes' source records
    CFileNode* tempRoot = nullptr;
    CTreeArena* arena = nullptr;         // where the build's properties and nodes go; null: the heap
    NtfsParentChains* chains = nullptr;  // set: ReadAllMftRecords chains nodes here instead of making entries
    std::unique_ptr<CNTFSFileProperties> bitmap; // the $Bitmap record (6), kept apart from the tree's files
};

// What one build works with. Made by the caller (InitNtfsTreeBuildParams) and passed by pointer.
struct NtfsTreeBuildParams {
    std::vector<NtfsRecordEntry> unusedEntries; // left empty by this builder
    NtfsRecordList* list = nullptr;             // the worker's list while it runs
    CSearchedPartitionInfo volume;              // first sector, sectors per cluster, sector count
    IStorageDevice* device = nullptr;
    IDIRBuildCallback* callback = nullptr;
    FileTreePtr result;
    std::atomic<bool> done{false};              // set last by the worker
    int lostFilesCounter = 0;                   // numbering of this build's lost-files folders
};

void InitNtfsTreeBuildParams(NtfsTreeBuildParams* params);

// Builds the tree of the NTFS volume on `device` (the volume starts at sector 0) on a worker
// thread and waits for it. Null on an unreadable or unsupported boot sector, when neither the
// $MFT nor the $MFTMirr position gives the MFT, on cancel, or when nothing was found.
// `callback` is required.
FileTreePtr BuildNtfsFileTree(IStorageDevice* device, NtfsTreeBuildParams* params,
                              IDIRBuildCallback* callback);
// The same for a volume whose boot sector is at `firstSector` of `device` (a partition of a
// disk): the tree's file-system information is relative to `device`.
FileTreePtr BuildNtfsFileTreeAt(IStorageDevice* device, std::uint64_t firstSector,
                                NtfsTreeBuildParams* params, IDIRBuildCallback* callback);
void NtfsTreeThreadProc(NtfsTreeBuildParams* params);
FileTreePtr BuildNtfsDirectoryTree(NtfsTreeBuildParams* params, CSearchedPartitionInfo* volume,
                                   IDIRBuildCallback* callback);

// Steps, exposed for tests.
bool ReadMftRecordRuns(IStorageDevice* device, std::uint64_t sector, std::uint32_t sectorsPerCluster,
                       std::uint64_t partitionFirst, NtfsMftInfo* out);
bool ReadMftDataRuns(IStorageDevice* device, const CNTFSDBR& boot, std::uint64_t partitionFirst,
                     NtfsMftInfo* out);
// False when cancelled.
bool ReadAllMftRecords(IStorageDevice* device, IDIRBuildCallback* callback, NtfsRecordList* list,
                       const NtfsExtentList& mft, std::uint32_t sectorsPerCluster,
                       std::uint64_t partitionFirst);
// Hangs every entry under the folder its parent reference names, breadth first from the root
// folder (record 5) down; the rest go to GroupOrphanEntries. Entries are kept in one chain per
// parent reference, in MFT order, so a folder takes its children in one step.
CFileNode* LinkNtfsTree(NtfsRecordList* list, const CSearchedPartitionInfo& volume,
                        IDIRBuildCallback* callback, int* lostFilesCounter);
// LinkNtfsTree for records read into chains (list->chains): the chains are used up.
CFileNode* LinkNtfsChains(NtfsRecordList* list, IDIRBuildCallback* callback, int* lostFilesCounter);
// The entries no folder of the tree took, ordered by parent reference and then MFT order: orphan
// folders adopt the orphans that name them, and what is left goes into a new lost-files folder
// (returned; null when nothing is left or on cancel). Nodes come from `arena` (null: the heap).
FileSubtreePtr GroupOrphanEntries(const std::vector<NtfsRecordEntry*>& orphans,
                                  IDIRBuildCallback* callback, int* lostFilesCounter,
                                  CTreeArena* arena);
// The same for orphans held in a map by parent reference (the map is emptied).
using NtfsParentMap = std::multimap<std::int64_t, NtfsRecordEntry*>;
FileSubtreePtr GroupOrphanNodes(NtfsParentMap& map, IDIRBuildCallback* callback,
                                int* lostFilesCounter);
FileTreePtr CreateNtfsRootNode(std::uint64_t firstSector, std::uint32_t sectorsPerCluster,
                               int partitionIndex, const char* label);
void MoveChildren(CFileNode* from, CFileNode* to);
