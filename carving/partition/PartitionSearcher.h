#pragma once
// The lost-partition search: walks a disk at the sectors where partitions usually start
// (the candidate sequences), offers each to the file-system recognisers and reports every
// recognised partition through IPartitionSearchCallback, on a worker thread.
#include "carving/SearchCallbacks.h"
#include "carving/partition/FoundPartitionInfo.h"
#include "carving/partition/PartitionRecognizers.h"
#include "carving/partition/PartitionSearchAlgorithm.h"
#include "storage/StorageDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CPartitionSearcher {
public:
    CPartitionSearcher();
    ~CPartitionSearcher();
    CPartitionSearcher(const CPartitionSearcher&) = delete;
    CPartitionSearcher& operator=(const CPartitionSearcher&) = delete;

    // The disk to search (not owned; read only).
    void SetDevice(IStorageDevice* device);
    // Appends a recogniser (not owned); they are asked in the order added.
    void AddPartitionFileSystemController(IPartitionFileSystemSearchController* controller);
    // The 255-head sequence, then the 240-head one when `heads` is 240, then the 1 MiB one.
    // While the search runs, a found FAT or NTFS boot sector that records another geometry
    // adds that geometry's cylinders after them (once per geometry; the range grows).
    void AddPartitionSearchAlgorithms(int heads);
    // Runs the search on a worker thread and waits for it (platform::WaitForWorker). Returns at
    // once, searching nothing, without a device or callback, when the thread cannot start, or
    // when this searcher has searched already.
    void StartPartitionSearch(IPartitionSearchCallback* callback);

    // Candidates of all sequences (the progress range).
    std::uint64_t GetCandidateTotal() const;

    // The searcher's own recognisers, for callers that set the search up.
    CPartitionFATSearchController& FatController() { return m_fat; }
    CPartitionNTFSSearchController& NtfsController() { return m_ntfs; }
    CPartitionEXT2SearchController& Ext2Controller() { return m_ext2; }

    // The same search on the calling thread (no worker, no waiting), under the same rules.
    void SearchOnThisThread(IPartitionSearchCallback* callback);
    // 1 when a recogniser took `sector`; the work record then describes the partition.
    int ProbeSector(std::uint64_t sector, FoundPartitionInfo* record);
    bool IsDone() const { return m_done.load(std::memory_order_acquire); }

private:
    // The search itself (the worker's body).
    void Run();
    // Whether a sequence before `index` in the list probes `sector`.
    bool ProbedEarlier(std::size_t index, std::uint64_t sector) const;
    void ProbeAndReport(std::uint64_t sector);
    // After a FAT or NTFS boot sector was recognised (it is in the buffer): a geometry it
    // records that no sequence follows yet adds that geometry's cylinders to the search.
    void FollowRecordedGeometry(FileSystemType type);

    IStorageDevice* m_pDevice = nullptr;
    std::uint64_t m_u64SectorCount = 0;
    std::vector<IPartitionFileSystemSearchController*> m_controllers;
    std::vector<std::unique_ptr<IPartitionSearchAlgorithm>> m_algorithms;
    std::size_t m_followedGeometries = 0;
    FoundPartitionInfo m_workRecord;
    std::vector<std::uint8_t> m_buffer;
    std::atomic<bool> m_done{false};
    bool m_started = false;
    IPartitionSearchCallback* m_pCallback = nullptr;

    CPartitionFATSearchController m_fat;
    CPartitionNTFSSearchController m_ntfs;
    CPartitionEXT2SearchController m_ext2;
};
