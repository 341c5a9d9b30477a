#include "filesystems/ntfs/NtfsTreeBuilder.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/ntfs/NtfsCrossLinks.h"
#include "filesystems/ntfs/NtfsTreeBuildCommon.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <queue>
#include <unordered_map>
#include <utility>

using namespace ntfs_tree;

namespace {

constexpr std::uint32_t kMftBufferSectors = 128; // 64 KiB

// Reads `count` sectors; on failure reads them one at a time and zeroes those that fail.
// Returns how many sectors could not be read.
std::uint64_t ReadOrZero(IStorageDevice* device, std::uint8_t* buf, std::uint64_t first, std::uint64_t count) {
    if (device->ReadSectors(buf, first, count))
        return 0;
    std::uint64_t failed = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!device->ReadSectors(buf + i * kSectorSize, first + i, 1)) {
            std::memset(buf + i * kSectorSize, 0, kSectorSize);
            ++failed;
        }
    }
    return failed;
}

// A chained node's m_pSourceRecord: its record number and its record header's directory flag,
// packed into the pointer's bits. A number that no 48-bit parent reference can name (only damaged
// runs give one) is kept as one such number.
constexpr std::int64_t kUnreachableRecord = std::int64_t{1} << 62;
static_assert(sizeof(std::uintptr_t) >= 8, "record numbers are packed into pointers");
void* PackChainedRecord(std::int64_t record, bool directory) {
    if (record < 0 || record > kUnreachableRecord)
        record = kUnreachableRecord;
    return reinterpret_cast<void*>((static_cast<std::uintptr_t>(record) << 1) | (directory ? 1u : 0u));
}
std::int64_t ChainedRecordNumber(const CFileNode* node) {
    return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(node->m_pSourceRecord) >> 1);
}
bool ChainedRecordIsDirectory(const CFileNode* node) {
    return (reinterpret_cast<std::uintptr_t>(node->m_pSourceRecord) & 1u) != 0;
}

// A node that takes over the entry's properties.
CFileNode* NodeTakingProperties(NtfsRecordEntry& entry, CTreeArena* arena) {
    CFileNode* node = new (arena) CFileNode();
    node->SetProperties(std::unique_ptr<IFileProperties>(std::exchange(entry.properties, nullptr)));
    return node;
}

// Files the entry's record: a node for its properties at the tail of its parent's chain.
void ChainRecord(NtfsParentChains& chains, NtfsRecordEntry& entry, CTreeArena* arena) {
    ++chains.records;
    NtfsParentChain& chain = chains.byParent[entry.parent];
    if (!entry.properties) {
        ++chain.unnamed;
        return;
    }
    CFileNode* node = NodeTakingProperties(entry, arena);
    node->m_pSourceRecord = PackChainedRecord(entry.record, entry.isDirectory != 0);
    if (chain.tail)
        chain.tail->m_pNextSibling = node;
    else
        chain.head = node;
    chain.tail = node;
}

// Frees the nodes of a chain that no folder took, with their properties.
void FreeChain(CFileNode* head) {
    while (head) {
        CFileNode* next = head->m_pNextSibling;
        delete head;
        head = next;
    }
}

struct MftParseContext {
    IStorageDevice* device;
    NtfsRecordList* list;
    const NtfsExtentList* mft;
    std::uint32_t sectorsPerCluster;
    std::uint64_t partitionFirst;
};

// Parses the records of a buffer of `n` consecutive MFT sectors whose first sector is sector
// `mftIndex` of the MFT; `sectors` gives each buffered sector's device sector.
void ParseMftBuffer(MftParseContext& ctx, std::uint8_t* buf, std::uint32_t n, std::uint64_t mftIndex,
                    const std::uint64_t* sectors) {
    const std::uint32_t s = kNtfsSectorsPerRecord;
    for (std::uint32_t l = static_cast<std::uint32_t>((s - mftIndex % s) % s); l < n; l += s) {
        std::uint8_t* rec = buf + l * kSectorSize;
        const std::size_t len = std::min(s, n - l) * kSectorSize;
        if (!CheckFileRecordHeader(rec, len) || IsExtensionRecord(rec, len))
            continue;
        const std::uint64_t sector = sectors[l];

        NtfsExtensionList extensions;
        if (FindAttribute(rec, len, kNtfsAttrAttributeList, 0)) {
            extensions = ReadAttributeListEntries(rec, len, ctx.partitionFirst, ctx.sectorsPerCluster, ctx.device);
            ResolveExtensionRecords(extensions, sector, s, ctx.sectorsPerCluster, ctx.partitionFirst, *ctx.mft);
        }
        MftRecordView view;
        if (!view.Attach(rec, len, static_cast<std::int64_t>(sector), ctx.device))
            continue;
        const auto recordNumber = static_cast<std::int64_t>((mftIndex + l) / s);
        if (IsSystemFileRecord(view.Record(), len)) {
            // No file of the tree, but the volume's cluster allocation, which tells deleted
            // files whose clusters another file took.
            if (recordNumber == kNtfsBitmapRecord && !ctx.list->bitmap) {
                std::int64_t unused = -1;
                ctx.list->bitmap.reset(CreateNtfsFilePropertiesFromRecord(&view, sector, &unused, nullptr));
            }
            continue;
        }

        NtfsRecordEntry entry;
        entry.isDirectory = (GetRecordFlags(view.Record(), view.Length()) & kNtfsRecordDirectory) ? 1 : 0;
        entry.parent = BaseParentReference(view);
        entry.record = recordNumber;

        view.SetExtensions(extensions);
        view.SetBaseRecordNumber(entry.record);
        std::int64_t reported = -1;
        CNTFSFileProperties* props = CreateNtfsFilePropertiesFromRecord(&view, sector, &reported, ctx.list->arena);
        if (props) {
            FixNtfsFileSize(props, ctx.sectorsPerCluster);
            props->SetExtensionRecords(extensions);
        }
        entry.properties = props;
        if (entry.parent == -1)
            entry.parent = reported;
        if (ctx.list->chains)
            ChainRecord(*ctx.list->chains, entry, ctx.list->arena);
        else
            ctx.list->entries.push_back(entry);
    }
}

} // namespace

NtfsParentChains::~NtfsParentChains() {
    for (auto& [parent, chain] : byParent)
        FreeChain(chain.head);
}

void InitNtfsTreeBuildParams(NtfsTreeBuildParams* params) {
    params->unusedEntries.clear();
    params->list = nullptr;
    params->volume = CSearchedPartitionInfo();
    params->device = nullptr;
    params->callback = nullptr;
    params->result.reset();
    params->done.store(false);
    params->lostFilesCounter = 0;
}

bool ReadMftRecordRuns(IStorageDevice* device, std::uint64_t sector, std::uint32_t sectorsPerCluster,
                       std::uint64_t partitionFirst, NtfsMftInfo* out) {
    std::vector<std::uint8_t> rec(kNtfsRecordSize);
    if (!device->ReadSectors(rec.data(), sector, kNtfsSectorsPerRecord) ||
        !ValidateFileRecord(rec.data(), rec.size()))
        return false;
    std::vector<std::uint8_t> raw = rec; // as on disk, for the attribute-list reader
    MftRecordView view;
    if (!view.Attach(rec.data(), rec.size(), static_cast<std::int64_t>(sector), device) ||
        !HasSystemFileName(view.Record(), rec.size(), "$MFT"))
        return false;
    out->startSector = sector;
    out->extents.clear();

    if (FindAttribute(view.Record(), rec.size(), kNtfsAttrAttributeList, 0)) {
        LogInfo("MFT file record has 0x20 attribute, MFT start sector is %" PRId64 "\n",
                static_cast<std::int64_t>(sector));
        // Follow the list: the base record's pieces first, then every extension record whose
        // own position the pieces known so far can map, until a pass maps none.
        CollectDataRuns(view.Record(), rec.size(), out->extents, false, nullptr);
        NtfsExtensionList pending = ReadAttributeListEntries(raw.data(), raw.size(), partitionFirst,
                                                             sectorsPerCluster, device);
        std::erase_if(pending, [](const NtfsExtensionRef& e) { return e.record == 0; });
        bool progress = true;
        while (progress && !pending.empty()) {
            progress = false;
            for (auto it = pending.begin(); it != pending.end();) {
                std::int64_t s = MftRecordToSector(it->record, kNtfsSectorsPerRecord, sectorsPerCluster,
                                                   partitionFirst, out->extents);
                if (s < 0) {
                    ++it;
                    continue;
                }
                std::vector<std::uint8_t> ext(kNtfsRecordSize);
                if (device->ReadSectors(ext.data(), static_cast<std::uint64_t>(s), kNtfsSectorsPerRecord) &&
                    ValidateFileRecord(ext.data(), ext.size())) {
                    ApplyFixups(ext.data(), ext.size());
                    CollectDataRuns(ext.data(), ext.size(), out->extents, false, nullptr);
                }
                it = pending.erase(it);
                progress = true;
            }
        }
        SortExtents(out->extents);
        std::uint32_t estimate = 0;
        EstimateClusterSizeFromMft(view.Record(), rec.size(), &estimate);
        out->sectorsPerClusterEstimate = static_cast<std::uint8_t>(estimate);
        return !out->extents.empty();
    }

    std::uint32_t estimate = 0;
    if (!EstimateClusterSizeFromMft(view.Record(), rec.size(), &estimate) || estimate == 0)
        return false;
    out->sectorsPerClusterEstimate = static_cast<std::uint8_t>(estimate);
    CollectDataRuns(view.Record(), rec.size(), out->extents, false, nullptr);
    return !out->extents.empty();
}

bool ReadMftDataRuns(IStorageDevice* device, const CNTFSDBR& boot, std::uint64_t partitionFirst,
                     NtfsMftInfo* out) {
    const std::uint32_t spc = boot.GetSectorsPerCluster();
    for (std::uint64_t cluster : {boot.GetMftCluster(), boot.GetMftMirrorCluster()}) {
        std::uint64_t sector;
        if (__builtin_mul_overflow(cluster, std::uint64_t{spc}, &sector) ||
            __builtin_add_overflow(sector, partitionFirst, &sector))
            continue;
        if (ReadMftRecordRuns(device, sector, spc, partitionFirst, out))
            return true;
    }
    return false;
}

bool ReadAllMftRecords(IStorageDevice* device, IDIRBuildCallback* callback, NtfsRecordList* list,
                       const NtfsExtentList& mft, std::uint32_t sectorsPerCluster,
                       std::uint64_t partitionFirst) {
    std::vector<std::uint8_t> buf(kMftBufferSectors * kSectorSize);
    std::uint64_t sectors[kMftBufferSectors];
    const std::uint64_t deviceSectors = device->GetSectorCount();
    const std::uint64_t totalSectors = GetTotalClusters(mft) * sectorsPerCluster;
    if (Cancelled(callback, callback->BeginStage("NTFS:Reading files",
                                                 static_cast<std::int32_t>(totalSectors / kMftBufferSectors))))
        return false;

    MftParseContext ctx{device, list, &mft, sectorsPerCluster, partitionFirst};
    std::uint32_t filled = 0;        // sectors in the buffer
    std::uint64_t bufferIndex = 0;   // MFT sector index of the buffer's first sector
    std::uint64_t done = 0;          // sectors parsed so far
    std::uint64_t unreadable = 0;
    auto flush = [&]() {
        if (filled)
            ParseMftBuffer(ctx, buf.data(), filled, bufferIndex, sectors);
        done += filled;
        bufferIndex += filled;
        filled = 0;
    };

    // Damaged runs may name the same clusters again and again, or more than the device holds:
    // no real MFT is larger than the device, so no more sectors than that are read in all.
    std::uint64_t budget = deviceSectors;
    bool cancelled = false;
    for (const auto& e : mft) {
        if (cancelled)
            break;
        std::uint64_t extentSectors;
        if (__builtin_mul_overflow(e.count, std::uint64_t{sectorsPerCluster}, &extentSectors))
            extentSectors = UINT64_MAX;
        std::uint64_t first = 0;
        bool mapped = e.lcn >= 0 &&
                      !__builtin_mul_overflow(static_cast<std::uint64_t>(e.lcn), std::uint64_t{sectorsPerCluster}, &first) &&
                      !__builtin_add_overflow(first, partitionFirst, &first) && first < deviceSectors;
        if (!mapped) {
            // A hole (or a run off the device) holds no records: parse what is buffered and go on
            // at the MFT index after it.
            flush();
            bufferIndex = e.vcn * sectorsPerCluster + extentSectors;
            continue;
        }
        // Records past the end of the device cannot be read: the run is cut there.
        extentSectors = std::min({extentSectors, deviceSectors - first, budget});
        budget -= extentSectors;
        if (filled == 0)
            bufferIndex = e.vcn * sectorsPerCluster;
        else if (bufferIndex + filled != e.vcn * sectorsPerCluster) {
            flush();
            bufferIndex = e.vcn * sectorsPerCluster;
        }
        std::uint64_t at = 0;
        while (at < extentSectors) {
            std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kMftBufferSectors - filled, extentSectors - at));
            unreadable += ReadOrZero(device, buf.data() + filled * kSectorSize, first + at, n);
            for (std::uint32_t i = 0; i < n; ++i)
                sectors[filled + i] = first + at + i;
            filled += n;
            at += n;
            if (filled == kMftBufferSectors) {
                flush();
                if (Cancelled(callback, callback->SetPos(static_cast<std::int32_t>(done / kMftBufferSectors))) ||
                    Cancelled(callback, callback->Poll())) {
                    cancelled = true;
                    break;
                }
            }
        }
    }
    if (!cancelled)
        flush();
    if (unreadable)
        LogWarning("NTFS: %" PRIu64 " MFT sector(s) could not be read and were skipped", unreadable);
    return !cancelled;
}

namespace {

// An orphan node with the parent reference it names and its own record number.
struct OrphanNode {
    std::int64_t parent;
    std::int64_t record;
    CFileNode* node;
};

// The orphans, sorted by parent reference: orphan folders adopt the orphans that name them, and
// what is left goes into a new lost-files folder (returned).
CFileNode* GroupOrphans(const std::vector<OrphanNode>& nodes, IDIRBuildCallback* callback, int* lostFilesCounter,
                        CTreeArena* arena) {
    const auto byParent = [](const OrphanNode& a, const OrphanNode& b) { return a.parent < b.parent; };

    // Orphan folders adopt the orphans that name them. An orphan (a node without parent) is an
    // ancestor of a folder exactly when it is the top of the folder's tree; the tops are kept
    // in a union-find map so that long chains cost no more than short ones.
    std::unordered_map<CFileNode*, CFileNode*> top;
    auto findTop = [&top](CFileNode* n) {
        CFileNode* r = n;
        for (auto it = top.find(r); it != top.end() && it->second != r; it = top.find(r))
            r = it->second;
        while (n != r) { // path compression
            CFileNode*& next = top[n];
            n = std::exchange(next, r);
        }
        return r;
    };
    for (const OrphanNode& f : nodes) {
        CFileNode* folder = f.node;
        if (!(folder->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) || f.record <= 24)
            continue;
        auto [lo, hi] = std::equal_range(nodes.begin(), nodes.end(), OrphanNode{f.record, 0, nullptr}, byParent);
        for (auto it = lo; it != hi; ++it) {
            CFileNode* orphan = it->node;
            if (orphan->m_pParent || orphan == folder || findTop(folder) == orphan)
                continue;
            folder->AddChild(orphan);
            top[orphan] = findTop(folder);
        }
        if (Cancelled(callback, callback->StepBy(1)))
            break;
    }

    CFileNode* lost = nullptr;
    for (const OrphanNode& o : nodes) {
        if (o.node->m_pParent)
            continue;
        if (!lost) {
            lost = new (arena) CFileNode();
            lost->SetProperties(
                std::unique_ptr<IFileProperties>(MakeLostFilesFolder(lostFilesCounter)));
        }
        lost->AddChild(o.node);
    }
    return lost;
}

} // namespace

FileSubtreePtr GroupOrphanEntries(const std::vector<NtfsRecordEntry*>& orphans,
                                  IDIRBuildCallback* callback, int* lostFilesCounter,
                                  CTreeArena* arena) {
    if (Cancelled(callback, callback->Poll()))
        return nullptr;
    // In the order of the orphans: sorted by parent reference.
    std::vector<OrphanNode> nodes;
    nodes.reserve(orphans.size());
    for (NtfsRecordEntry* entry : orphans) {
        if (!entry->properties)
            continue;
        CFileNode* node = NodeTakingProperties(*entry, arena);
        node->m_pSourceRecord = entry;
        nodes.push_back({entry->parent, entry->record, node});
    }
    return FileSubtreePtr(GroupOrphans(nodes, callback, lostFilesCounter, arena));
}

FileSubtreePtr GroupOrphanNodes(NtfsParentMap& map, IDIRBuildCallback* callback,
                                int* lostFilesCounter) {
    std::vector<NtfsRecordEntry*> orphans;
    orphans.reserve(map.size());
    for (auto& [key, entry] : map)
        orphans.push_back(entry);
    map.clear();
    return GroupOrphanEntries(orphans, callback, lostFilesCounter, nullptr);
}

namespace {

// Breadth first from the root folder (key: the root's record number): attach(key, folder,
// folders) hangs the records naming `key` under `folder` and queues the folders among them (false
// on cancel); keyOf(folder) is a queued folder's record number. False when cancelled.
template <typename Attach, typename KeyOf>
bool LinkBreadthFirst(CFileNode* root, IDIRBuildCallback* callback, Attach attach, KeyOf keyOf) {
    std::queue<CFileNode*> folders;
    CFileNode* current = root;
    std::int64_t key = static_cast<std::int64_t>(kNtfsRootRecord);
    for (;;) {
        if (!attach(key, current, folders))
            return false;
        if (folders.empty())
            return true;
        current = folders.front();
        folders.pop();
        key = keyOf(current);
        if (Cancelled(callback, callback->Poll()))
            return false;
    }
}

// The parent references left in a map, in ascending order.
template <typename Map> std::vector<std::int64_t> SortedKeys(const Map& map) {
    std::vector<std::int64_t> keys;
    keys.reserve(map.size());
    for (const auto& [key, value] : map)
        keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The entries of one parent reference, as a chain through `next`, in MFT order.
template <typename Index> struct ParentChain {
    Index head;
    Index tail;
};

template <typename Index>
CFileNode* LinkEntries(NtfsRecordList* list, const CSearchedPartitionInfo& volume, IDIRBuildCallback* callback,
                       int* lostFilesCounter) {
    constexpr Index kEnd = static_cast<Index>(-1);
    auto& entries = list->entries;
    std::vector<Index> next(entries.size(), kEnd);
    std::unordered_map<std::int64_t, ParentChain<Index>> chains;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto [it, added] = chains.try_emplace(entries[i].parent, ParentChain<Index>{static_cast<Index>(i), static_cast<Index>(i)});
        if (!added) {
            next[it->second.tail] = static_cast<Index>(i);
            it->second.tail = static_cast<Index>(i);
        }
    }

    CFileNode* root = list->tempRoot;
    auto attach = [&](std::int64_t key, CFileNode* current, std::queue<CFileNode*>& folders) {
        auto found = chains.find(key);
        if (found == chains.end())
            return true;
        Index i = found->second.head;
        chains.erase(found);
        for (; i != kEnd; i = next[i]) {
            NtfsRecordEntry* entry = &entries[i];
            if (entry->properties) {
                CFileNode* node = NodeTakingProperties(*entry, list->arena);
                node->m_pSourceRecord = entry;
                current->AddChild(node);
                if (entry->isDirectory)
                    folders.push(node);
            }
            callback->StepBy(1);
            if (Cancelled(callback, callback->Poll()))
                return false;
        }
        return true;
    };
    auto keyOf = [&](CFileNode* folder) {
        std::int64_t key = static_cast<NtfsRecordEntry*>(folder->m_pSourceRecord)->record;
        if (key < 0) {
            const auto* props =
                static_cast<const CNTFSFileProperties*>(folder->m_pProperties.get());
            key = MftSectorToRecord(props->GetRecordSector(), kNtfsSectorsPerRecord, volume.m_sectorsPerCluster,
                                    volume.m_u64FirstSector, list->mft->extents);
        }
        return key < 0 ? std::int64_t{-2} : key; // unknown: matches no parent reference
    };
    if (!LinkBreadthFirst(root, callback, attach, keyOf))
        return nullptr;

    // What no folder took, by parent reference and then in MFT order.
    std::vector<NtfsRecordEntry*> orphans;
    for (std::int64_t parent : SortedKeys(chains))
        for (Index i = chains[parent].head; i != kEnd; i = next[i])
            orphans.push_back(&entries[i]);
    chains.clear();
    next.clear();
    next.shrink_to_fit();
    if (FileSubtreePtr lost = GroupOrphanEntries(orphans, callback, lostFilesCounter, list->arena))
        root->AddChild(lost.release());
    return root;
}

} // namespace

CFileNode* LinkNtfsTree(NtfsRecordList* list, const CSearchedPartitionInfo& volume,
                        IDIRBuildCallback* callback, int* lostFilesCounter) {
    if (Cancelled(callback, callback->Poll()))
        return nullptr;
    if (list->entries.size() < UINT32_MAX)
        return LinkEntries<std::uint32_t>(list, volume, callback, lostFilesCounter);
    return LinkEntries<std::uint64_t>(list, volume, callback, lostFilesCounter);
}

CFileNode* LinkNtfsChains(NtfsRecordList* list, IDIRBuildCallback* callback, int* lostFilesCounter) {
    if (Cancelled(callback, callback->Poll()))
        return nullptr;
    auto& chains = list->chains->byParent;
    CFileNode* root = list->tempRoot;
    auto attach = [&](std::int64_t key, CFileNode* current, std::queue<CFileNode*>& folders) {
        auto found = chains.find(key);
        if (found == chains.end())
            return true;
        const NtfsParentChain chain = found->second;
        chains.erase(found);
        for (CFileNode* node = chain.head; node;) {
            CFileNode* next = node->m_pNextSibling;
            current->AddChild(node);
            if (ChainedRecordIsDirectory(node))
                folders.push(node);
            node = next;
            callback->StepBy(1);
            if (Cancelled(callback, callback->Poll())) {
                FreeChain(node);
                return false;
            }
        }
        for (std::uint64_t i = 0; i < chain.unnamed; ++i) {
            callback->StepBy(1);
            if (Cancelled(callback, callback->Poll()))
                return false;
        }
        return true;
    };
    if (!LinkBreadthFirst(root, callback, attach, ChainedRecordNumber))
        return nullptr;

    // What no folder took, by parent reference and then in MFT order.
    std::vector<OrphanNode> orphans;
    for (std::int64_t parent : SortedKeys(chains)) {
        NtfsParentChain& chain = chains[parent];
        for (CFileNode* node = chain.head; node;) {
            CFileNode* next = node->m_pNextSibling;
            node->m_pNextSibling = nullptr;
            orphans.push_back({parent, ChainedRecordNumber(node), node});
            node = next;
        }
        chain.head = chain.tail = nullptr;
    }
    chains.clear();
    if (Cancelled(callback, callback->Poll())) {
        for (const OrphanNode& o : orphans)
            FreeChain(o.node);
        return nullptr;
    }
    if (CFileNode* lost = GroupOrphans(orphans, callback, lostFilesCounter, list->arena))
        root->AddChild(lost);
    return root;
}

FileTreePtr CreateNtfsRootNode(std::uint64_t firstSector, std::uint32_t sectorsPerCluster,
                               int partitionIndex, const char* label) {
    FileTreePtr root(CreateFileSystemNode());
    root->SetProperties(std::unique_ptr<IFileProperties>(MakeNtfsRootProperties(partitionIndex)));
    root->SetFileSystemInfo(firstSector, sectorsPerCluster);
    root->SetFileSystemType(FILESYSTEM_NTFS);
    if (label) {
        std::size_t n = std::strlen(label);
        if (n >= 1 && n <= 64)
            root->SetName(label);
    }
    return root;
}

void MoveChildren(CFileNode* from, CFileNode* to) {
    while (CFileNode* child = from->m_pFirstChild) {
        from->m_pFirstChild = child->m_pNextSibling;
        child->m_pNextSibling = nullptr;
        child->m_pParent = nullptr;
        to->AddChild(child);
    }
}

FileTreePtr BuildNtfsDirectoryTree(NtfsTreeBuildParams* params, CSearchedPartitionInfo* volume,
                                   IDIRBuildCallback* callback) {
    params->lostFilesCounter = 0;
    IStorageDevice* device = params->device;
    CNTFSDBR boot;
    if (!ReadNtfsBootSector(*device, volume->m_u64FirstSector, boot) || !boot.HasSupportedGeometry())
        return nullptr;
    NtfsMftInfo mft;
    if (!ReadMftDataRuns(device, boot, volume->m_u64FirstSector, &mft))
        return nullptr;

    CTreeArena arena; // the tree's nodes and properties; its chunks live on with them
    NtfsParentChains chains; // the records as read, until the linking takes them
    NtfsRecordList list;
    list.mft = &mft;
    list.arena = &arena;
    list.tempRoot = CreateFileNode();
    list.chains = &chains;
    params->list = &list;

    char label[100] = {};
    bool haveLabel = ReadNtfsVolumeRecordLabel(*device, mft.startSector, kNtfsRecordSize, label);

    FileTreePtr root;
    if (ReadAllMftRecords(device, callback, &list, mft.extents, volume->m_sectorsPerCluster,
                          volume->m_u64FirstSector) &&
        !Cancelled(callback, callback->BeginStage("NTFS:Building directory tree",
                                                  static_cast<std::int32_t>(chains.records))) &&
        LinkNtfsChains(&list, callback, &params->lostFilesCounter)) {
        root = CreateNtfsRootNode(volume->m_u64FirstSector, volume->m_sectorsPerCluster, 0,
                                  haveLabel && label[0] ? label : nullptr);
        MoveChildren(list.tempRoot, root.get());
        const std::uint64_t deviceSectors = device->GetSectorCount();
        const std::uint64_t volumeSectors =
            std::min(boot.GetTotalSectors(),
                     deviceSectors > volume->m_u64FirstSector ? deviceSectors - volume->m_u64FirstSector : 0);
        FlagNtfsCrossLinks(root.get(), device, FindNtfsBitmapEntry(list),
                           volumeSectors / boot.GetSectorsPerCluster());
    }

    // What the nodes carried for the linking goes away.
    ForgetSourceRecords(root.get());
    ForgetSourceRecords(list.tempRoot);
    DeleteFileTree(list.tempRoot); // holds children only when linking stopped early
    list.tempRoot = nullptr;
    FreeEntries(&list);
    params->list = nullptr;

    if (root && !root->m_pFirstChild)
        root.reset();
    return root;
}

void NtfsTreeThreadProc(NtfsTreeBuildParams* params) {
    FileTreePtr root = BuildNtfsDirectoryTree(params, &params->volume, params->callback);
    if (root && params->callback->Poll() == -1)
        root.reset();
    params->result = std::move(root);
    params->done.store(true, std::memory_order_release);
}

FileTreePtr BuildNtfsFileTree(IStorageDevice* device, NtfsTreeBuildParams* params,
                              IDIRBuildCallback* callback) {
    return BuildNtfsFileTreeAt(device, 0, params, callback);
}

FileTreePtr BuildNtfsFileTreeAt(IStorageDevice* device, std::uint64_t firstSector,
                                NtfsTreeBuildParams* params, IDIRBuildCallback* callback) {
    if (!device || !params || !callback)
        return nullptr;
    const std::uint64_t count = device->GetSectorCount();
    if (firstSector >= count)
        return nullptr;
    params->volume.m_u32SectorCount = count - firstSector - 1;
    params->volume.m_u64FirstSector = firstSector;
    params->volume.m_sectorsPerCluster = 1;
    params->volume.m_fileSystemType = FILESYSTEM_NTFS;
    params->device = device;
    params->callback = callback;
    params->result.reset();
    params->done.store(false);

    CNTFSDBR boot;
    if (!ReadNtfsBootSector(*device, firstSector, boot) || !boot.HasSupportedGeometry())
        return nullptr;
    params->volume.m_sectorsPerCluster = boot.GetSectorsPerCluster();

    if (!platform::RunWorker(params->done, [params] { NtfsTreeThreadProc(params); }, 0))
        return nullptr;
    return std::move(params->result);
}
