#include "carving/IntelligentSearch.h"

#include "carving/ReadAheadSectorCache.h"
#include "logging/GuardedCall.h"
#include "logging/Log.h"
#include "platform/ThreadStart.h"
#include "platform/WorkerRun.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
// Chunks handed over at a time: the loader reads them with one device read, and the threads
// wake each other once for them.
constexpr std::uint32_t kBatchChunks = 8;
// Chunks the lanes may run ahead of the reports: a cancel stops the search within them.
constexpr std::uint32_t kLanesAhead = 2 * kBatchChunks;
constexpr int kChunkCounters[] = {ISS_ChunkCounter8, ISS_ChunkCounter9, ISS_ChunkCounter11,
                                  ISS_ChunkCounter14, ISS_ChunkCounter15};
// A controller that throws on a chunk loses its work on that chunk; the search goes on.
constexpr GuardedSite kChunkSite{"Analysing a chunk of the deep scan", "search controller of kind"};
} // namespace

// Concurrent controllers: every controller runs on a lane (a thread) of its own and walks the
// chunks of the ring in order as fast as it can, up to kLanesAhead chunks ahead of the reports.
// Each lane keeps its own statistics block; after a chunk every lane has finished, the search
// reports the sum of the lanes' blocks as they were after that chunk. A counter that only one
// controller writes, or that every controller only adds to, comes out as in a run of one
// controller after the other.
class CIntelligentSearchController::Lanes {
public:
    Lanes(CIntelligentSearchController& owner, CReadAheadSectorCache& ring, std::uint32_t kept)
        : m_owner(owner), m_ring(ring), m_kept(kept) {}
    ~Lanes() { Stop(); }

    bool Start(std::size_t controllers) {
        m_lanes = std::vector<Lane>(controllers);
        for (Lane& lane : m_lanes)
            lane.snapshots.resize(kLanesAhead);
        try {
            for (std::size_t i = 0; i < controllers; ++i)
                m_lanes[i].thread = platform::StartThread([this, i] { Work(i); });
        } catch (const std::system_error&) {
            Stop();
            return false;
        }
        return true;
    }

    // Lets the lanes analyse the chunks below `end` (at most kLanesAhead past the reports).
    void Grant(std::uint64_t end) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_granted = end;
        if (m_lanesWaiting)
            m_grantChanged.notify_all();
    }

    // Waits until every lane has finished the chunks below `target`; returns how many chunks
    // every lane has finished.
    std::uint64_t WaitDone(std::uint64_t target) {
        std::uint64_t done = Done();
        if (done >= target)
            return done;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_target.store(target, std::memory_order_seq_cst);
        m_collectorWaiting.store(true, std::memory_order_seq_cst);
        m_doneChanged.wait(lock, [&] { return (done = Done()) >= target; });
        m_collectorWaiting.store(false, std::memory_order_relaxed);
        return done;
    }

    // The statistics after chunk j (which every lane has finished): the sum of the lanes'
    // blocks added to `base`.
    void Collect(std::uint64_t j, const IntelligentSearchStats& base, IntelligentSearchStats* out) {
        *out = base;
        for (const Lane& lane : m_lanes) {
            const IntelligentSearchStats& s = lane.snapshots[j % kLanesAhead];
            for (int k = 0; k < ISS_COUNT; ++k)
                out->counters[k] += s.counters[k];
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_grantChanged.notify_all();
        for (Lane& lane : m_lanes)
            if (lane.thread.joinable())
                lane.thread.join();
    }

private:
    struct Lane {
        std::thread thread;
        std::atomic<std::uint64_t> done{0}; // chunks finished
        std::vector<IntelligentSearchStats> snapshots;
    };

    std::uint64_t Done() const {
        std::uint64_t done = ~std::uint64_t(0);
        for (const Lane& lane : m_lanes)
            done = std::min(done, lane.done.load(std::memory_order_seq_cst));
        return done;
    }

    void Work(std::size_t index) {
        IFileSystemSearchController* controller = m_owner.m_controllers[index];
        Lane& lane = m_lanes[index];
        IntelligentSearchStats own;
        std::uint64_t granted = 0;
        for (std::uint64_t j = 0;; ++j) {
            if (j >= granted) {
                std::unique_lock<std::mutex> lock(m_mutex);
                ++m_lanesWaiting;
                m_grantChanged.wait(lock, [&] { return m_stop || j < m_granted; });
                --m_lanesWaiting;
                if (j >= m_granted)
                    return;
                granted = m_granted;
            }
            m_ring.WaitWindow(j);
            m_ring.SetReaderWindow(j);
            for (int k : kChunkCounters)
                own.counters[k] = 0;
            const IntelligentSearchStats before = own;
            if (!GuardedCall(kChunkSite, controller->GetKind(), [&] {
                    (void)controller->AnalyzeLoadedChunk(m_ring.Chunk(j, m_kept), &own);
                }))
                own = before; // the controller loses its own work on this chunk only
            lane.snapshots[j % kLanesAhead] = own;
            lane.done.store(j + 1, std::memory_order_seq_cst);
            // The collector is woken once what it waits for is there: by the last lane to
            // get there.
            if (m_collectorWaiting.load(std::memory_order_seq_cst) &&
                j + 1 >= m_target.load(std::memory_order_seq_cst) &&
                Done() >= m_target.load(std::memory_order_seq_cst)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_doneChanged.notify_all();
            }
        }
    }

    CIntelligentSearchController& m_owner;
    CReadAheadSectorCache& m_ring;
    std::uint32_t m_kept;
    std::vector<Lane> m_lanes;
    std::mutex m_mutex;
    std::condition_variable m_grantChanged;
    std::condition_variable m_doneChanged;
    std::uint64_t m_granted = 0;
    int m_lanesWaiting = 0;
    std::atomic<bool> m_collectorWaiting{false};
    std::atomic<std::uint64_t> m_target{0};
    bool m_stop = false;
};

CIntelligentSearchController::CIntelligentSearchController()
    : m_stats(std::make_unique<IntelligentSearchStats>()) {
    ResetIntelligentSearchStats(m_stats.get());
}

CIntelligentSearchController::~CIntelligentSearchController() = default;

void CIntelligentSearchController::AddController(IFileSystemSearchController* controller) {
    if (controller)
        m_controllers.push_back(controller);
}

int CIntelligentSearchController::Search(IIntelligentSearchCallback* callback) {
    m_callback = callback;
    return platform::RunWorker(
               m_done, [this] { Run(); }, 0)
               ? 1
               : 0;
}

void CIntelligentSearchController::RunController(std::size_t index, const SearchChunk& chunk) {
    // Each controller works on its own copy of the statistics block, under its own handler.
    IFileSystemSearchController* controller = m_controllers[index];
    int result = 0;
    m_succeeded[index] = GuardedCall(kChunkSite, controller->GetKind(), [&] {
        result = controller->AnalyzeLoadedChunk(chunk, &m_chunkStats[index]);
    });
    m_results[index] = result;
}

int CIntelligentSearchController::AnalyzeChunk(std::uint64_t first, std::uint64_t count,
                                               IntelligentSearchStats* stats) {
    SearchChunk chunk; // no bytes: the controllers read them through their devices
    chunk.first = first;
    chunk.count = count;
    return AnalyzeChunk(chunk, stats);
}

int CIntelligentSearchController::AnalyzeChunk(const SearchChunk& chunk,
                                               IntelligentSearchStats* stats) {
    const std::size_t n = m_controllers.size();
    if (n == 0)
        return 0;
    const IntelligentSearchStats base = *stats;
    m_chunkStats.assign(n, base);
    m_results.assign(n, 0);
    m_succeeded.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        RunController(i, chunk);
    // Merged in controller order: each counter takes every controller's change to it.
    for (std::size_t i = 0; i < n; ++i) {
        if (!m_succeeded[i])
            continue;
        for (int k = 0; k < ISS_COUNT; ++k)
            stats->counters[k] += m_chunkStats[i].counters[k] - base.counters[k];
    }
    return m_results[n - 1];
}

void CIntelligentSearchController::Run() {
    const std::uint32_t W = m_sectorsPerChunk;
    // The chunks before the current one that must stay in the ring: what the controllers look
    // back on, and the head room in front of each chunk.
    std::uint32_t kept = (CReadAheadSectorCache::kHeadSectors + W - 1) / W;
    std::uint32_t controllerKept = 0;
    for (IFileSystemSearchController* c : m_controllers)
        controllerKept = std::max(controllerKept, c->GetChunksKept());
    kept = std::max(kept, controllerKept);
    // Room for what is kept and four batches besides, so that a lane the system holds up for a
    // moment does not stop the loader at once.
    std::unique_ptr<CReadAheadSectorCache> ring;
    if (m_device) {
        ring = std::make_unique<CReadAheadSectorCache>(m_device, W, kept + 4 * kBatchChunks,
                                                       kBatchChunks);
        if (!ring->IsReady())
            ring.reset();
    }
    const bool concurrent = ring && m_concurrent && m_controllers.size() > 1;
    if (ring && (m_readAhead || concurrent))
        ring->Start(); // without a thread the worker reads the chunks itself
    IStorageDevice* device = ring ? static_cast<IStorageDevice*>(ring.get()) : m_device;

    for (IFileSystemSearchController* c : m_controllers)
        c->SetDevice(device);
    for (IFileSystemSearchController* c : m_controllers)
        c->SetSectorsPerStep(W);
    for (IFileSystemSearchController* c : m_controllers)
        c->BeginSearch();

    const std::uint64_t total = device ? device->GetSectorCount() : 0;
    const std::uint64_t chunks = total / W + (total % W ? 1 : 0);
    std::unique_ptr<Lanes> lanes;
    if (concurrent && chunks) {
        lanes = std::make_unique<Lanes>(*this, *ring, kept);
        if (!lanes->Start(m_controllers.size()))
            lanes.reset(); // one controller after the other
    }
    if (m_callback)
        m_callback->SetRange(0, chunks);

    auto report = [&](std::uint64_t j) {
        if (m_callback) {
            m_callback->SetStatistics(m_stats.get());
            m_callback->SetPosition(j);
            m_callback->PumpMessages();
        }
    };
    auto cancelled = [&] {
        if (!m_callback || !m_callback->IsCancelled())
            return false;
        LogInfo("Intelligent search was cancelled by user!");
        return true;
    };
    // Chunks below `done` are analysed: the ring may drop what no controller looks back on.
    auto release = [&](std::uint64_t done) {
        if (ring && done > kept)
            ring->ReleaseBefore(done - kept);
    };

    if (lanes) {
        // The statistics of the lanes are their own blocks added to what the search started
        // with. Chunks are granted and reported a batch at a time; the user's cancel is asked
        // before each chunk is granted.
        IntelligentSearchStats base = *m_stats;
        for (int k : kChunkCounters)
            base.counters[k] = 0;
        std::uint64_t granted = 0, reported = 0;
        bool stop = false;
        for (;;) {
            std::uint64_t grant = granted;
            while (!stop && grant < chunks && grant < reported + kLanesAhead) {
                if (cancelled())
                    stop = true;
                else
                    ++grant;
            }
            if (grant != granted)
                lanes->Grant(granted = grant);
            if (reported == granted)
                break;
            const std::uint64_t done =
                lanes->WaitDone(std::min<std::uint64_t>(reported + kBatchChunks, granted));
            for (; reported < done; ++reported) {
                lanes->Collect(reported, base, m_stats.get());
                report(reported);
            }
            release(reported);
        }
        lanes.reset();
    } else {
        for (std::uint64_t j = 0; j < chunks; ++j) {
            if (cancelled())
                break;
            for (int k : kChunkCounters)
                m_stats->counters[k] = 0;
            SearchChunk chunk;
            if (ring) {
                ring->WaitWindow(j);
                ring->SetReaderWindow(j);
                chunk = ring->Chunk(j, kept);
            }
            chunk.first = j * W;
            chunk.count = std::min<std::uint64_t>(total - chunk.first, W);
            AnalyzeChunk(chunk, m_stats.get());
            report(j);
            release(j + 1);
        }
    }
    for (IFileSystemSearchController* c : m_controllers) {
        try {
            c->EndSearch();
        } catch (...) {
            LogError("A search controller failed at the end of the search");
        }
    }

    LogGuardedFailureCounts();

    const auto& s = m_stats->counters;
    LogInfo("---------------------------------");
    LogInfo("Intelligent search result summary:");
    LogInfo("FATBootRecords = %" PRId64, static_cast<std::int64_t>(s[ISS_FATBootRecords]));
    LogInfo("FATFolderParts = %" PRId64, static_cast<std::int64_t>(s[ISS_FATFolderParts]));
    LogInfo("FATFolders = %" PRId64, static_cast<std::int64_t>(s[ISS_FATFolders]));
    LogInfo("FilesIdentified = %" PRId64, static_cast<std::int64_t>(s[ISS_FilesIdentified]));
    LogInfo("NTFSBootRecords = %" PRId64, static_cast<std::int64_t>(s[ISS_NTFSBootRecords]));
    LogInfo("NTFSFileRecords = %" PRId64, static_cast<std::int64_t>(s[ISS_NTFSFileRecords]));
    LogInfo("TotalFilesFound = %" PRId64, static_cast<std::int64_t>(s[ISS_TotalFilesFound]));
    LogInfo("---------------------------------\r\n");

    // The controllers keep the device pointer; the ring goes, so they get the device itself.
    for (IFileSystemSearchController* c : m_controllers)
        c->SetDevice(m_device);
    ring.reset();
    m_done.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------

void SetControllersResultSink(const std::vector<IFileSystemSearchController*>& controllers,
                              CRawFileList* sink) {
    for (IFileSystemSearchController* c : controllers)
        if (c)
            c->SetResultSink(sink);
}

void ScoreSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list) {
    auto saturatingAdd = [](std::uint64_t a, std::uint64_t b) {
        std::uint64_t r;
        return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
    };
    std::vector<std::uint64_t> values;
    values.reserve(list.size());
    std::uint64_t largest = 0;
    for (const CSearchedPartitionInfo* r : list) {
        std::uint64_t a;
        if (__builtin_mul_overflow(r->m_u64EvidenceA, std::uint64_t{50}, &a))
            a = UINT64_MAX;
        const std::uint64_t v = saturatingAdd(saturatingAdd(a, r->m_u64Score), r->m_u64EvidenceB);
        values.push_back(v);
        largest = std::max(largest, v);
    }
    const double divisor = largest >= 2 ? std::log(static_cast<double>(largest)) : 1.0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::uint64_t v = values[i];
        list[i]->m_relativeScore =
            (v < 2 ? static_cast<double>(v) : std::log(static_cast<double>(v))) / divisor;
    }
}

void SortSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list) {
    if (list.size() < 2)
        return;
    std::stable_sort(list.begin(), list.end(),
                     [](const CSearchedPartitionInfo* a, const CSearchedPartitionInfo* b) {
                         return a->m_relativeScore > b->m_relativeScore;
                     });
}

namespace {
// The range of a record; false when it does not fit in 64 bits.
bool RecordRange(const CSearchedPartitionInfo* r, std::uint64_t* start, std::uint64_t* end) {
    *start = r->m_u64KeptFirstSector;
    return !__builtin_add_overflow(*start, r->GetSectorCount64(), end);
}

bool InsideFree(const CSearchedPartitionInfo* r, const std::vector<SearchedFreeRange>& free,
                std::size_t* which) {
    std::uint64_t start, end;
    if (!RecordRange(r, &start, &end))
        return false;
    for (std::size_t i = 0; i < free.size(); ++i)
        if (free[i].first <= start && end <= free[i].first + free[i].count) {
            if (which)
                *which = i;
            return true;
        }
    return false;
}
} // namespace

CSearchedPartitionInfo*
FindBestSearchedPartition(const std::vector<CSearchedPartitionInfo*>& candidates,
                          const std::vector<SearchedFreeRange>& free) {
    CSearchedPartitionInfo* best = nullptr;
    for (CSearchedPartitionInfo* r : candidates) {
        if (!(r->m_relativeScore > 0.0) || !InsideFree(r, free, nullptr))
            continue;
        if (!best || r->m_relativeScore > best->m_relativeScore)
            best = r;
    }
    return best;
}

bool RemoveSearchedPartition(CSearchedPartitionInfo* record,
                             std::vector<CSearchedPartitionInfo*>& list) {
    auto it = std::find(list.begin(), list.end(), record);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

void SelectBestSearchedPartitions(std::vector<CSearchedPartitionInfo*>& list,
                                  std::uint64_t deviceSectors) {
    std::vector<CSearchedPartitionInfo*> candidates = list;
    std::vector<SearchedFreeRange> free{{0, deviceSectors}};
    while (!candidates.empty()) {
        CSearchedPartitionInfo* best = FindBestSearchedPartition(candidates, free);
        if (!best)
            break;
        best->m_u32Chosen = 1;
        RemoveSearchedPartition(best, candidates);
        std::size_t which = 0;
        InsideFree(best, free, &which);
        std::uint64_t start, end;
        RecordRange(best, &start, &end);
        const SearchedFreeRange range = free[which];
        std::vector<SearchedFreeRange> parts;
        if (start > range.first)
            parts.push_back({range.first, start - range.first});
        if (range.first + range.count > end)
            parts.push_back({end, range.first + range.count - end});
        free.erase(free.begin() + static_cast<std::ptrdiff_t>(which));
        free.insert(free.begin() + static_cast<std::ptrdiff_t>(which), parts.begin(), parts.end());
        std::erase_if(candidates,
                      [&](CSearchedPartitionInfo* r) { return !InsideFree(r, free, nullptr); });
    }
}

FileTreePtr
BuildDirectoryTreeByController(const std::vector<IFileSystemSearchController*>& controllers,
                               CSearchedPartitionInfo* record, IStorageDevice* device,
                               IDIRBuildCallback* callback, std::uint32_t partitionIndex) {
    if (!record)
        return nullptr;
    for (IFileSystemSearchController* c : controllers)
        if (c && c->AcceptsFileSystemType(record->m_fileSystemType))
            return c->BuildDirectoryTree(record, device, partitionIndex, callback);
    return nullptr;
}
