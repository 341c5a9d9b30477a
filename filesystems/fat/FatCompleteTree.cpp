#include "filesystems/fat/FatCompleteTree.h"

#include "carving/RawFileTreeBuilder.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatCrossLinks.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"
#include "storage/StorageDevice.h"

#include <algorithm>
#include <chrono>
#include <deque>

namespace {

constexpr std::uint32_t kNoCluster = 0xFFFFFFFF;
constexpr std::uint8_t kDeletedBit = FILESTATE_DELETED;
constexpr std::uint8_t kBuilderBit = 0x08;
// Largest FAT12/16 root area: 65535 entries.
constexpr std::uint32_t kMaxRootSectors = 4096;
// Largest cluster number a FAT can hold (see IsValidClusterNumber).
constexpr std::uint64_t kMaxClusterCount = 0x0FFFFFEE;

CFATFileProperties* PropsOf(const CFileNode* node) {
    return node ? dynamic_cast<CFATFileProperties*>(node->m_pProperties.get()) : nullptr;
}

bool IsFolderEntry(const CFileNode* node) {
    return node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
}

// True when `candidate` is `node` or one of its ancestors.
bool IsSameOrAncestor(const CFileNode* candidate, const CFileNode* node) {
    for (const CFileNode* n = node; n; n = n->m_pParent)
        if (n == candidate)
            return true;
    return false;
}

// While a builder folder's directory data is read, the entries found keep their own state: a
// folder the builder made is not a deleted directory, whatever its display state says.
class ReadAsOwnEntries {
public:
    explicit ReadAsOwnEntries(CFileNode* node) : m_props(PropsOf(node)) {
        if (m_props) {
            m_saved = m_props->m_state;
            if (m_saved & kBuilderBit)
                m_props->m_state = static_cast<std::uint8_t>(m_saved & ~kDeletedBit);
        }
    }
    ~ReadAsOwnEntries() {
        if (m_props)
            m_props->m_state = m_saved;
    }
    ReadAsOwnEntries(const ReadAsOwnEntries&) = delete;
    ReadAsOwnEntries& operator=(const ReadAsOwnEntries&) = delete;

private:
    CFATFileProperties* m_props;
    std::uint8_t m_saved = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------------

void FatDirectoryScanner::SetSearchedLayout(const CFATSearchedPartitionInfo& p,
                                            const IFATTable* table) {
    type = p.m_fileSystemType <= FILESYSTEM_FAT32 ? static_cast<FileSystemType>(p.m_fileSystemType)
                                                  : FILESYSTEM_UNKNOWN;
    partitionFirst = p.m_u64KeptFirstSector;
    sectorsPerCluster = std::max<std::uint32_t>(1, p.m_sectorsPerCluster);
    fat = table;
    dataStart = p.m_u64FirstSector;
    sectorCount = p.m_u32SectorCount;
    rootSector = UINT64_MAX;
    rootSectors = 0;
    rootCluster = 0;
    walkRoot = false;

    const std::uint64_t end = partitionFirst + sectorCount;
    std::uint64_t clusters = end > dataStart ? (end - dataStart) / sectorsPerCluster : 0;
    const std::uint64_t deviceSectors = device ? device->GetSectorCount() : 0;
    clusters = std::min(clusters, deviceSectors > dataStart
                                      ? (deviceSectors - dataStart) / sectorsPerCluster
                                      : 0);
    clusterCount = std::min(clusters, kMaxClusterCount);

    // The root directory is known only where a boot sector was seen.
    if (p.m_u32EvidenceFlags & FATEVIDENCE_ANY_BOOT) {
        if (type == FILESYSTEM_FAT32) {
            rootCluster = p.m_u32Root;
            walkRoot = IsDataCluster(rootCluster);
            if (walkRoot)
                rootSector = ClusterToSector(rootCluster);
        } else if (type != FILESYSTEM_UNKNOWN) {
            const std::uint64_t area = partitionFirst + p.m_u16ReservedSectors +
                                       2 * static_cast<std::uint64_t>(p.m_u32SectorsPerFat);
            // The area must lie in front of the data area and on the device.
            if (p.m_u32Root > 0 && p.m_u32Root <= kMaxRootSectors && area + p.m_u32Root <= dataStart &&
                area + p.m_u32Root <= deviceSectors) {
                rootSector = area;
                rootSectors = p.m_u32Root;
                walkRoot = true;
            }
        }
    }
    readClusters.assign(clusterCount + 2, false);
    clusterUse.assign(clusterCount + 3, false);
    m_buffer.assign(128 * kSectorSize + 1024, 0);
}

FileTreePtr FatDirectoryScanner::BuildCompleteTree(const FatDirectorySectorSet& records,
                                                   std::uint32_t partitionIndex) {
    root = MakeFatRootNode(partitionIndex);
    if (!root)
        return nullptr;
    queue.clear();
    if (walkRoot)
        ReadRootDirectory(true);
    queue.clear();
    // A ".." entry of 0 names the root; so does the FAT32 root's own cluster.
    directories[0] = root;
    if (walkRoot && type == FILESYSTEM_FAT32)
        directories.emplace(rootCluster, root);

    const auto [lo, hi] = records.Range(dataStart, partitionFirst + sectorCount);
    const std::size_t count = static_cast<std::size_t>(hi - lo);
    if (count == 0 || status == FATSCAN_CANCELLED) {
        if (status == FATSCAN_CANCELLED) {
            FreeScannerTree(root);
            root = nullptr;
        }
        return FileTreePtr(root);
    }

    // Every directory from its own first sector; subdirectories are built from their own
    // records, not followed.
    callback->BeginStage("Building normal files...", static_cast<std::int32_t>(count));
    for (auto it = lo; it != hi && status != FATSCAN_CANCELLED; ++it) {
        if (callback->StepBy(1) == -1) {
            status = FATSCAN_CANCELLED;
            break;
        }
        if (!it->IsFirstSector())
            continue;
        const std::uint64_t rel = it->sector - dataStart;
        if (rel % sectorsPerCluster)
            continue;
        const std::uint64_t m = rel / sectorsPerCluster + 2;
        if (m != it->dotCluster || !IsDataCluster(m))
            continue;
        const std::uint32_t cluster = static_cast<std::uint32_t>(m);
        ReleaseTrace("Build Cluster %u Sector %llu", cluster,
                     static_cast<unsigned long long>(it->sector));
        CFileNode* node = nullptr;
        if (auto found = directories.find(cluster); found != directories.end()) {
            node = found->second;
        } else {
            node = MakeFatDirNode(cluster, it->dotDotCluster);
            if (!node)
                continue;
            directories[cluster] = node;
        }
        {
            ReadAsOwnEntries own(node);
            ReadDirectoryChain(node, cluster, false, true);
        }
        queue.clear();
    }

    // Join the directories by their ".." clusters; what has no known parent, or would become
    // its own ancestor, goes under "Lost Folders".
    CFileNode* lost = nullptr;
    auto lostFolders = [&]() -> CFileNode* {
        if (!lost && (lost = MakeLostFoldersNode()) != nullptr)
            root->AddChild(lost);
        return lost;
    };
    if (status != FATSCAN_CANCELLED) {
        callback->Reset();
        callback->BeginStage("Building layout...", static_cast<std::int32_t>(directories.size()));
        for (auto& [cluster, node] : directories) {
            callback->StepBy(1);
            if (node == root || node->m_pParent)
                continue;
            CFileNode* parent = nullptr;
            const CFATFileProperties* props = PropsOf(node);
            const std::uint32_t pc = props ? props->m_u32ParentCluster : kNoCluster;
            if (pc != kNoCluster)
                if (auto it = directories.find(pc); it != directories.end())
                    parent = it->second;
            if (parent && IsSameOrAncestor(node, parent))
                parent = nullptr;
            if (!parent)
                parent = lostFolders();
            (parent ? parent : root)->AddChild(node);
        }
        callback->Reset();
        lostFolders();
        BuildFatLostFiles(records, lost, count);
    }

    // Placeholders take the names of deleted entries that point at them; entries below a
    // deleted directory are deleted.
    if (status != FATSCAN_CANCELLED) {
        callback->BeginStage("Fixing directories...", 100);
        std::deque<CFileNode*> pending{root};
        std::uint64_t done = 0;
        std::int32_t lastPos = 0;
        while (!pending.empty()) {
            CFileNode* folder = pending.front();
            pending.pop_front();
            ++done;
            if (folder->m_pFirstChild)
                FixTempDirectories(folder);
            const CFATFileProperties* fp = PropsOf(folder);
            const bool deletedDir =
                folder != root && fp && (fp->m_state & kDeletedBit) && !(fp->m_state & kBuilderBit);
            for (CFileNode* ch = folder->m_pFirstChild; ch; ch = ch->m_pNextSibling) {
                if (deletedDir)
                    if (CFATFileProperties* cp = PropsOf(ch))
                        cp->m_state |= kDeletedBit;
                if (IsFolderEntry(ch))
                    pending.push_back(ch);
            }
            if (done > 5) {
                const auto pos = static_cast<std::int32_t>(100 * done / (done + pending.size()));
                if (pos > lastPos) {
                    lastPos = pos;
                    if (callback->SetPos(pos) == -1) {
                        status = FATSCAN_CANCELLED;
                        break;
                    }
                }
            }
        }
        callback->Reset();
    }

    if (status == FATSCAN_CANCELLED) {
        // Directories not joined yet hold subtrees of their own: hang them on the root so that
        // freeing the tree frees them too.
        for (auto& [cluster, node] : directories)
            if (node != root && !node->m_pParent)
                root->AddChild(node);
        FreeScannerTree(root);
        root = nullptr;
        return nullptr;
    }
    return FileTreePtr(root);
}

void FatDirectoryScanner::BuildFatLostFiles(const FatDirectorySectorSet& records,
                                            CFileNode* lostFolders, std::size_t recordCount) {
    const auto [lo, hi] = records.Range(dataStart, partitionFirst + sectorCount);
    if (lo == hi || !lostFolders)
        return;
    callback->BeginStage("Building lost files...", static_cast<std::int32_t>(recordCount));
    std::vector<std::uint8_t> block(static_cast<std::size_t>(sectorsPerCluster) * kSectorSize);
    for (auto it = lo; it != hi; ++it) {
        callback->StepBy(1);
        if (it->IsFirstSector())
            continue;
        const std::uint64_t rel = it->sector - dataStart;
        if (rel % sectorsPerCluster)
            continue;
        const std::uint64_t m = rel / sectorsPerCluster + 2;
        if (!IsDataCluster(m) || readClusters[m])
            continue;
        if (callback->Poll() == -1)
            break; // the build ends as cancelled
        if (!device->ReadSectors(block.data(), it->sector, sectorsPerCluster))
            continue;
        readClusters[m] = true;
        ReleaseTrace("Build Lost Cluster %u Sector %llu", static_cast<std::uint32_t>(m),
                     static_cast<unsigned long long>(it->sector));
        CFileNode* node = MakeFatDirNode(kNoCluster, kNoCluster);
        if (!node)
            continue;
        lostFolders->AddChild(node);
        {
            ReadAsOwnEntries own(node);
            ParseDirectoryBlock(block.data(), block.size(), node, true, true);
        }
        queue.clear();
    }
    callback->Reset();
}

// ---------------------------------------------------------------------------------------------

void FixTempDirectories(CFileNode* folder) {
    std::vector<CFileNode*> placeholders, deleted;
    for (CFileNode* ch = folder->m_pFirstChild; ch; ch = ch->m_pNextSibling) {
        const CFATFileProperties* p = PropsOf(ch);
        if (!p || !(p->m_u16Attributes & FILEATTR_DIRECTORY))
            continue;
        if (p->m_state & kBuilderBit) {
            if (p->m_u32FirstCluster != kNoCluster)
                placeholders.push_back(ch);
        } else if ((p->m_state & kDeletedBit) && !ch->m_pFirstChild) {
            deleted.push_back(ch);
        }
    }
    for (CFileNode* b : deleted) {
        CFATFileProperties* bp = PropsOf(b);
        const std::uint32_t c = bp->m_u32FirstCluster;
        if (c < 2)
            continue;
        auto match = std::find_if(placeholders.begin(), placeholders.end(), [c](CFileNode* a) {
            const std::uint32_t ac = PropsOf(a)->m_u32FirstCluster;
            return ac == c || (c <= 0xFFFF && (ac & 0xFFFF) == c);
        });
        if (match == placeholders.end())
            continue;
        CFileNode* a = *match;
        CFATFileProperties* ap = PropsOf(a);
        ReleaseTrace("Replace a temp directory %s first clusternum %x with directory %s "
                     "firstclusternum %x!",
                     ap->GetName(), ap->m_u32FirstCluster, bp->GetName(), c);
        bp->m_u32FirstCluster = ap->m_u32FirstCluster;
        a->m_pProperties.Swap(b->m_pProperties);
        placeholders.erase(match);
    }
}

std::unique_ptr<CClusterUseBitMap> MakeFatClusterUseBitMap(const FatDirectoryScanner& scanner,
                                                           std::vector<std::uint64_t>* bits) {
    auto map = std::make_unique<CClusterUseBitMap>(
        bits, scanner.dataStart, static_cast<std::uint8_t>(scanner.sectorsPerCluster),
        scanner.clusterCount);
    const std::size_t used = std::min<std::size_t>(scanner.clusterUse.size(), scanner.clusterCount);
    for (std::size_t i = 0; i < used; ++i)
        if (scanner.clusterUse[i])
            map->MarkCluster(i);
    for (std::size_t c = 2; c < scanner.readClusters.size(); ++c)
        if (scanner.readClusters[c])
            map->MarkCluster(c - 2);
    return map;
}

FileTreePtr CarveUnusedFatClusters(IStorageDevice* device, CRawFileList* resultSink,
                                   const CClusterUseBitMap& used, IDIRBuildCallback* callback) {
    if (!resultSink)
        return nullptr;
    CRawFileTreeBuilder builder;
    return builder.Build(device, resultSink->GetIterator(), &used, callback);
}

// ---------------------------------------------------------------------------------------------

FileTreePtr FatCompleteBuildTree(CFATSearchedPartitionInfo* partition, IDIRBuildCallback* callback,
                                 const FatDirectorySectorSet* directorySectors,
                                 CRawFileList* resultSink, IStorageDevice* device,
                                 std::uint32_t partitionIndex) {
    const auto started = std::chrono::steady_clock::now();
    FatDirectoryScanner scanner(callback, device);
    IDIRBuildCallback* cb = scanner.callback;
    if (!partition || !device)
        return nullptr;
    cb->BeginStage("Reading partition parameters...", 100);

    const std::uint32_t flags = partition->m_u32EvidenceFlags;
    std::unique_ptr<CDoubleFATTable> tables;
    if (partition->m_fileSystemType <= FILESYSTEM_FAT32)
        tables = CreateFATTables(device,
                                 partition->m_u64KeptFirstSector + partition->m_u16ReservedSectors,
                                 static_cast<FileSystemType>(partition->m_fileSystemType),
                                 partition->m_u32SectorsPerFat, flags & FATEVIDENCE_USE_FIRST_FAT,
                                 flags & FATEVIDENCE_USE_SECOND_FAT);
    cb->StepBy(50);
    const ScanOptions& options = GetScanOptions();
    scanner.checks.checkDate = options.CheckFatDateField != 0;
    scanner.checks.checkTime = options.CheckFatTimeField != 0;
    scanner.SetSearchedLayout(*partition, tables && tables->HasAnyCopy() ? tables.get() : nullptr);
    cb->Reset();

    static const FatDirectorySectorSet kNoRecords;
    FileTreePtr root = scanner.BuildCompleteTree(directorySectors ? *directorySectors : kNoRecords,
                                                 partitionIndex);
    if (root) {
        FlagFatCrossLinks(root.get(), scanner.fat, scanner.clusterCount);
        std::vector<std::uint64_t> bits;
        std::unique_ptr<CClusterUseBitMap> used = MakeFatClusterUseBitMap(scanner, &bits);
        if (FileTreePtr carved = CarveUnusedFatClusters(device, resultSink, *used, cb))
            root->AddChild(carved.release());
        if (cb->Poll() != -1)
            PruneEmptyDeletedFolders(root.get());
    }
    if (root && cb->Poll() == -1)
        root.reset();
    scanner.fat = nullptr;
    tables.reset();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    ReleaseTrace("FAT Complete Build directory tree used %d millseconds!", static_cast<int>(ms));
    return root;
}

FileTreePtr FatTreeBuildTask::Run(IDIRBuildCallback* callback,
                                  const FatDirectorySectorSet* directorySectors,
                                  CFATSearchedPartitionInfo* partition, CRawFileList* resultSink,
                                  IStorageDevice* device, std::uint32_t partitionIndex) {
    FatTreeBuildTask task;
    task.callback = callback;
    task.partition = partition;
    task.device = device;
    task.directorySectors = directorySectors;
    task.resultSink = resultSink;
    task.partitionIndex = partitionIndex;
    const bool ran = platform::RunWorker(
        task.done,
        [&task] {
            task.result = FatCompleteBuildTree(task.partition, task.callback, task.directorySectors,
                                               task.resultSink, task.device, task.partitionIndex);
        },
        0);
    return ran ? std::move(task.result) : nullptr;
}
