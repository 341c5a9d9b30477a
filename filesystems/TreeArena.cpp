#include "filesystems/TreeArena.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRULIN_TREE_ARENA_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BRULIN_TREE_ARENA_ASAN 1
#endif
#ifdef BRULIN_TREE_ARENA_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
constexpr std::size_t kChunkCount = 1u << 18;  // 64 GiB of address space, reserved, not used
constexpr std::size_t kRegionBytes = kChunkBytes * kChunkCount;
constexpr std::size_t kLargest = kChunkBytes / 8; // bigger objects go to the heap
constexpr std::size_t kAlign = 8;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23; // Linux 5.14
#endif

// Per chunk: live objects, plus one while an arena still allocates from it. Static storage that
// is only touched for chunks in use.
std::atomic<std::uint32_t> g_live[kChunkCount];

// Free chunks whose pages stay in place for the next build (a small tree's build and deletion
// then cost no system call at all); further free chunks give their pages back.
constexpr std::size_t kWarmChunks = 8;

struct Region {
    std::uint8_t* base = nullptr;
    std::mutex lock;
    std::vector<std::uint32_t> warmChunks; // free, pages in place
    std::vector<std::uint32_t> coldChunks; // free, pages given back (they read as zeros)
    std::uint32_t nextFresh = 1;           // chunk 0 stays unused: 0 means "no chunk"
    std::atomic<std::uint64_t> chunksInUse{0};
};

Region* GetRegion() {
    static Region* region = [] {
        auto* r = new Region();
        void* p = ::mmap(nullptr, kRegionBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            r->base = static_cast<std::uint8_t*>(p);
#ifdef BRULIN_TREE_ARENA_ASAN
            // Arena objects hold the only pointers to some heap blocks (long run records,
            // extension lists): the leak checker must see them.
            __lsan_register_root_region(p, kRegionBytes);
#endif
        }
        return r;
    }();
    return region;
}

std::uint8_t* ChunkAddress(Region* r, std::uint32_t chunk) { return r->base + std::size_t{chunk} * kChunkBytes; }

// A chunk with one reference (the arena's), writable and populated; 0 when none can be had.
std::uint32_t AcquireChunk(Region* r) {
    if (!r->base)
        return 0;
    std::uint32_t chunk = 0;
    bool warm = false, fresh = false;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        if (!r->warmChunks.empty()) {
            chunk = r->warmChunks.back();
            r->warmChunks.pop_back();
            warm = true;
        } else if (!r->coldChunks.empty()) {
            chunk = r->coldChunks.back();
            r->coldChunks.pop_back();
        } else if (r->nextFresh < kChunkCount) {
            chunk = r->nextFresh++;
            fresh = true;
        } else {
            return 0;
        }
    }
    void* p = ChunkAddress(r, chunk);
    // Made writable in place (replacing the mapping would flush every core's TLB); a chunk that
    // cannot be is left out of use.
    if (fresh && ::mprotect(p, kChunkBytes, PROT_READ | PROT_WRITE) != 0)
        return 0;
    // Populated in one call: a build writes every page of its chunks at once, and faulting them
    // in one by one costs more than the building itself.
    if (!warm)
        ::madvise(p, kChunkBytes, kPopulateWrite); // a hint: older kernels refuse it
#ifdef BRULIN_TREE_ARENA_ASAN
    ASAN_POISON_MEMORY_REGION(p, kChunkBytes);
#endif
    r->chunksInUse.fetch_add(1, std::memory_order_relaxed);
    g_live[chunk].store(1, std::memory_order_relaxed);
    return chunk;
}

// Drops one reference; the last one makes the chunk free: kept warm while few are, else with
// its pages given back to the system.
void DropChunkReference(Region* r, std::uint32_t chunk) {
    if (g_live[chunk].fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    void* at = ChunkAddress(r, chunk);
#ifdef BRULIN_TREE_ARENA_ASAN
    ASAN_POISON_MEMORY_REGION(at, kChunkBytes); // a use after free shows
#endif
    r->chunksInUse.fetch_sub(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> guard(r->lock);
        if (r->warmChunks.size() < kWarmChunks) {
            r->warmChunks.push_back(chunk);
            return;
        }
    }
    ::madvise(at, kChunkBytes, MADV_DONTNEED);
    std::lock_guard<std::mutex> guard(r->lock);
    r->coldChunks.push_back(chunk);
}

} // namespace

CTreeArena::~CTreeArena() {
    if (m_chunk)
        DropChunkReference(GetRegion(), m_chunk);
}

void* CTreeArena::Allocate(std::size_t bytes) {
    const std::size_t size = (std::max<std::size_t>(bytes, 1) + kAlign - 1) & ~(kAlign - 1);
    if (size > kLargest)
        return ::operator new(bytes);
    Region* r = GetRegion();
    if (!m_chunk || m_used + size > kChunkBytes) {
        if (m_chunk)
            DropChunkReference(r, m_chunk);
        m_chunk = AcquireChunk(r);
        m_used = 0;
        if (!m_chunk)
            return ::operator new(bytes);
    }
    std::uint8_t* p = ChunkAddress(r, m_chunk) + m_used;
    m_used += static_cast<std::uint32_t>(size);
    g_live[m_chunk].fetch_add(1, std::memory_order_relaxed);
#ifdef BRULIN_TREE_ARENA_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
#endif
    return p;
}

void* CTreeArena::Duplicate(const void* bytes, std::size_t n) {
    if (n == 0)
        return nullptr;
    void* p = Allocate(n);
    std::memcpy(p, bytes, n);
    return p;
}

std::uint64_t CTreeArena::ReservedBytes() {
    return GetRegion()->chunksInUse.load(std::memory_order_relaxed) * kChunkBytes;
}

void CTreeArena::TrimCache() {
    Region* r = GetRegion();
    std::vector<std::uint32_t> warm;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        warm.swap(r->warmChunks);
    }
    for (std::uint32_t chunk : warm)
        ::madvise(ChunkAddress(r, chunk), kChunkBytes, MADV_DONTNEED);
    std::lock_guard<std::mutex> guard(r->lock);
    r->coldChunks.insert(r->coldChunks.end(), warm.begin(), warm.end());
}

bool IsTreeArenaStorage(const void* p) noexcept {
    Region* r = GetRegion();
    const auto* b = static_cast<const std::uint8_t*>(p);
    return r->base && b >= r->base && b < r->base + kRegionBytes;
}

void FreeTreeObject(void* p, [[maybe_unused]] std::size_t size) noexcept {
    if (!p)
        return;
    if (!IsTreeArenaStorage(p)) {
        ::operator delete(p);
        return;
    }
    Region* r = GetRegion();
    const auto chunk = static_cast<std::uint32_t>((static_cast<std::uint8_t*>(p) - r->base) / kChunkBytes);
#ifdef BRULIN_TREE_ARENA_ASAN
    // The bytes are never handed out again: a use after free shows.
    ASAN_POISON_MEMORY_REGION(p, size);
#endif
    DropChunkReference(r, chunk);
}
