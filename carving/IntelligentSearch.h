#pragma once
// The deep scan's driver: feeds one whole device, chunk by chunk, to every search controller
// on a worker thread, with progress, statistics and cancel through IIntelligentSearchCallback;
// afterwards the partitions the controllers found are scored against each other and a
// non-overlapping best set is chosen.
//
// The device is read once, a batch of chunks at a time, into a ring of chunks that a loader
// thread fills ahead of the controllers; every controller reads the chunks in place. The
// controllers may analyse the same chunk at the same time, each on a thread of its own; each
// still sees the chunks in order, gets its own copy of the statistics block for the chunk, and
// the copies are merged in controller order after the chunk, so the results equal those of one
// controller after the other.
#include "carving/SearchCallbacks.h"
#include "filesystems/FileSystemSearchController.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CRawFileList;
class IDIRBuildCallback;
class IStorageDevice;

class IContainerofFileSystemSearchController {
public:
    virtual ~IContainerofFileSystemSearchController() = default;
    // Appends a controller (not owned).
    virtual void AddController(IFileSystemSearchController* controller) = 0;
};

class CIntelligentSearchController : public IContainerofFileSystemSearchController {
public:
    static constexpr std::uint32_t kSectorsPerChunk = 1000;

    CIntelligentSearchController();
    ~CIntelligentSearchController() override;
    CIntelligentSearchController(const CIntelligentSearchController&) = delete;
    CIntelligentSearchController& operator=(const CIntelligentSearchController&) = delete;

    void AddController(IFileSystemSearchController* controller) override;
    void SetDevice(IStorageDevice* device) { m_device = device; } // not owned

    // How the chunks are fed (both on by default): read-ahead of the next chunks on a loader
    // thread, and the controllers on threads of their own. Without either, the worker reads
    // each batch of chunks itself and the controllers run one after the other.
    void SetReadAhead(bool on) { m_readAhead = on; }
    void SetConcurrentControllers(bool on) { m_concurrent = on; }
    // Chunk size in sectors (1000 unless a test asks otherwise).
    void SetSectorsPerChunk(std::uint32_t sectors) { m_sectorsPerChunk = sectors ? sectors : 1; }

    // Runs the search on a worker thread and waits for it (the platform's pump hook runs while
    // it waits). 1 after the worker finished, 0 when no thread could be made (nothing ran).
    int Search(IIntelligentSearchCallback* callback);
    // The worker's body.
    void Run();
    // Every controller analyses the chunk; returns the last controller's result. A controller
    // that throws loses its own work on the chunk only.
    int AnalyzeChunk(std::uint64_t first, std::uint64_t count, IntelligentSearchStats* stats);
    // The same for a chunk the search has read (or, without bytes, one the controllers read).
    int AnalyzeChunk(const SearchChunk& chunk, IntelligentSearchStats* stats);

    const IntelligentSearchStats& GetStatistics() const { return *m_stats; }
    bool IsDone() const { return m_done.load(std::memory_order_acquire); }
    const std::vector<IFileSystemSearchController*>& Controllers() const { return m_controllers; }

private:
    class Lanes;
    void RunController(std::size_t index, const SearchChunk& chunk);

    std::vector<IFileSystemSearchController*> m_controllers;
    IStorageDevice* m_device = nullptr;
    std::unique_ptr<IntelligentSearchStats> m_stats;
    IIntelligentSearchCallback* m_callback = nullptr;
    std::atomic<bool> m_done{false};
    bool m_readAhead = true;
    bool m_concurrent = true;
    std::uint32_t m_sectorsPerChunk = kSectorsPerChunk;
    std::vector<IntelligentSearchStats> m_chunkStats;
    std::vector<int> m_results;
    std::vector<std::uint8_t> m_succeeded;
};

// IFileSystemSearchController::SetResultSink on every controller, in order.
void SetControllersResultSink(const std::vector<IFileSystemSearchController*>& controllers,
                              CRawFileList* sink);

// Relative scores: v = 50 x evidence count A + score + evidence count B; each record gets
// (v < 2 ? v : ln v) / ln(largest v) (divisor 1 when the largest v is below 2).
void ScoreSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list);
// Stable, highest relative score first.
void SortSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list);
// Sets the chosen flag of a non-overlapping best set inside [0, deviceSectors).
void SelectBestSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list,
                                  std::uint64_t deviceSectors);

struct SearchedFreeRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};
// The candidate with the highest relative score (above 0) that lies wholly inside one free
// range; the earlier one on equal scores. Null when there is none.
CSearchedPartitionInfo*
FindBestSearchedPartition(const std::vector<CSearchedPartitionInfo*>& candidates,
                          const std::vector<SearchedFreeRange>& free);
// Takes the record out of the list (not deleted); false when it is not there.
bool RemoveSearchedPartition(CSearchedPartitionInfo* record,
                             std::vector<CSearchedPartitionInfo*>& list);

// The tree of the record from the first controller that accepts its file-system type, or null.
FileTreePtr
BuildDirectoryTreeByController(const std::vector<IFileSystemSearchController*>& controllers,
                               CSearchedPartitionInfo* record, IStorageDevice* device,
                               IDIRBuildCallback* callback, std::uint32_t partitionIndex);
