#pragma once
// The lost-partition search: walks a disk at the sectors where partitions usually start
// (the candidate sequences), offers each to the file-system recognisers and reports every
// recognised partition through IPartitionSearchCallback, on a worker thread. Each recognised
// partition is followed: partitioning tools start the next partition right where one ends, or
// one track later (a logical partition sits one track after its extended boot record), and a
// file system may be a little smaller than its partition (mkfs.fat rounds a volume down to
// whole tracks; a tool may leave sectors free at the end). So every sector from a partition's
// end up to two tracks after it is probed too, from one read, and so on from every partition
// found there.
#include "carving/SearchCallbacks.h"
#include "carving/partition/FoundPartitionInfo.h"
#include "carving/partition/PartitionRecognizers.h"
#include "carving/partition/PartitionSearchAlgorithm.h"
#include "storage/StorageDevice.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
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
    // (see ProbeFollowWindow). False when the search was cancelled meanwhile.
    bool ProbeAndReport(std::uint64_t sector);
    // Offers `head` (the bytes read at `sector`) to the recognisers; 1 when one took it.
    int RecognizeHead(ByteSpan head, std::uint64_t sector, FoundPartitionInfo* record);
    // Reports the partition in the work record, whose boot sector is `boot`, and queues the
    // sectors after it for following. Returns the sectors the partition takes.
    std::uint64_t ReportFound(ByteSpan boot);
    // Probes every sector from `first` (where a found partition ends) up to two tracks after it
    // (one read; sector by sector when that fails) that following did not probe yet and that
    // lies in no partition found in the window before it.
    void ProbeFollowWindow(std::uint64_t first);
    // After a FAT or NTFS boot sector was recognised: a geometry it records that no sequence
    // follows yet adds that geometry's cylinders to the search.
    void FollowRecordedGeometry(FileSystemType type, ByteSpan boot);

    IStorageDevice* m_pDevice = nullptr;
    std::uint64_t m_u64SectorCount = 0;
    std::vector<IPartitionFileSystemSearchController*> m_controllers;
    std::vector<std::unique_ptr<IPartitionSearchAlgorithm>> m_algorithms;
    std::size_t m_followedGeometries = 0;
    // Where found partitions end: the windows still to probe.
    std::deque<std::uint64_t> m_followUps;
    // Sectors probed by following (a sequence skips them), and every partition reported: its
    // first sector and the sectors it takes.
    std::set<std::uint64_t> m_followedSectors;
    std::map<std::uint64_t, std::uint64_t> m_reported;
    FoundPartitionInfo m_workRecord;
    std::vector<std::uint8_t> m_buffer;
    std::vector<std::uint8_t> m_window;
    std::vector<bool> m_windowReadable;
    std::atomic<bool> m_done{false};
    bool m_started = false;
    IPartitionSearchCallback* m_pCallback = nullptr;

    CPartitionFATSearchController m_fat;
    CPartitionNTFSSearchController m_ntfs;
    CPartitionEXT2SearchController m_ext2;
};
