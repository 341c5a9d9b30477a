#pragma once
// The lost-partition search: walks a disk at the sectors where partitions usually start
// (the candidate sequences), offers each to the file-system recognisers and reports every
// recognised partition through IPartitionSearchCallback, on a worker thread. Each recognised
// partition is followed: partitioning tools start the next partition right where one ends, or
// one track later (a logical partition sits one track after its extended boot record), so both
// sectors are probed too, and so on from every partition found there.
#include "carving/SearchCallbacks.h"
#include "carving/partition/FoundPartitionInfo.h"
#include "carving/partition/PartitionRecognizers.h"
#include "carving/partition/PartitionSearchAlgorithm.h"
#include "storage/StorageDevice.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
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
    // Probes `sector` and reports a partition found there, then follows every partition found
    // (see FollowPartition). False when the search was cancelled meanwhile.
    bool ProbeAndReport(std::uint64_t sector);
    // One probe and its report; a partition found queues the sectors that follow it.
    void ProbeOnce(std::uint64_t sector);
    // Queues the sectors where a partition after the one at `first` (taking `extent` sectors,
    // with `sectorsPerTrack` from its boot sector) would start, when they lie on the disk.
    void FollowPartition(std::uint64_t first, std::uint64_t extent, std::uint32_t sectorsPerTrack);
    // Whether a queued sector is still to be probed by following: no candidate sequence probes
    // it (that sequence finds it in its turn) and it was not followed to already.
    bool NeedsFollowUpProbe(std::uint64_t sector) const;
    // After a FAT or NTFS boot sector was recognised (it is in the buffer): a geometry it
    // records that no sequence follows yet adds that geometry's cylinders to the search.
    void FollowRecordedGeometry(FileSystemType type);

    IStorageDevice* m_pDevice = nullptr;
    std::uint64_t m_u64SectorCount = 0;
    std::vector<IPartitionFileSystemSearchController*> m_controllers;
    std::vector<std::unique_ptr<IPartitionSearchAlgorithm>> m_algorithms;
    std::size_t m_followedGeometries = 0;
    // Sectors still to probe after found partitions, and those probed so (which no sequence
    // probes; a sequence added later skips them).
    std::deque<std::uint64_t> m_followUps;
    std::set<std::uint64_t> m_followedSectors;
    FoundPartitionInfo m_workRecord;
    std::vector<std::uint8_t> m_buffer;
    std::atomic<bool> m_done{false};
    bool m_started = false;
    IPartitionSearchCallback* m_pCallback = nullptr;

    CPartitionFATSearchController m_fat;
    CPartitionNTFSSearchController m_ntfs;
    CPartitionEXT2SearchController m_ext2;
};
