#include "filesystems/fat/FatTreeBuilder.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatCrossLinks.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"
#include "storage/StorageDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace {

constexpr std::uint32_t kMaxSectorsPerRead = 128;
constexpr std::size_t kMaxCarry = 1023;
constexpr std::uint32_t kNoCluster = 0xFFFFFFFF;

CFATFileProperties* PropsOf(const CFileNode* node) {
    return static_cast<CFATFileProperties*>(node->m_pProperties.get());
}

bool IsSameOrAncestor(const CFileNode* candidate, const CFileNode* node) {
    for (const CFileNode* n = node; n; n = n->m_pParent)
        if (n == candidate)
            return true;
    return false;
}

CFATFileProperties* MakeFolderProps(const char* name, std::uint8_t state, std::uint32_t first,
                                    std::uint32_t parent) {
    CFATFileProperties* p = CreateFATFileProperties();
    if (!p)
        return nullptr;
    p->SetName(name);
    p->m_u16Attributes |= FILEATTR_DIRECTORY;
    p->m_state = state;
    p->m_u32FirstCluster = first;
    p->m_u32ParentCluster = parent;
    return p;
}

} // namespace

// ---------------------------------------------------------------------------------------------

FatDirectoryScanner::FatDirectoryScanner(IDIRBuildCallback* cb, IStorageDevice* dev)
    : callback(cb), device(dev) {
    if (!callback) {
        m_nullCallback = std::make_unique<CNullDirBuildCallback>();
        callback = m_nullCallback.get();
    }
}

FatDirectoryScanner::~FatDirectoryScanner() = default;

void FatDirectoryScanner::SetLayout(const CFATDBR& dbr, std::uint64_t first,
                                    const IFATTable* table) {
    type = dbr.GetFileSystemType();
    partitionFirst = first;
    sectorsPerCluster = std::max<std::uint32_t>(1, dbr.GetSectorsPerCluster());
    fat = table;
    const std::uint64_t spf = dbr.GetSectorsPerFAT();
    const std::uint64_t afterFats = first + dbr.GetReservedSectors() + dbr.GetFATCount() * spf;
    if (type == FILESYSTEM_FAT32) {
        dataStart = afterFats;
        rootCluster = dbr.GetRootCluster();
        rootSector = rootCluster >= 2 ? ClusterToSector(rootCluster) : UINT64_MAX;
        rootSectors = 0;
    } else {
        rootSector = afterFats;
        rootSectors = dbr.GetRootDirSectors();
        dataStart = rootSector + rootSectors;
        rootCluster = 0;
    }
    sectorCount = dbr.GetTotalSectors();
    walkRoot = true;

    // Data clusters: what the partition holds after the data start, no more than its FAT can
    // name and the device holds.
    const std::uint64_t end = first + sectorCount;
    std::uint64_t clusters = end > dataStart ? (end - dataStart) / sectorsPerCluster : 0;
    std::uint64_t fatEntries = type == FILESYSTEM_FAT32   ? spf * 128
                               : type == FILESYSTEM_FAT16 ? spf * 256
                                                          : spf * 512 * 2 / 3;
    clusters = std::min(clusters, fatEntries > 2 ? fatEntries - 2 : 0);
    // Clusters past the end of the device cannot be read: they hold no directory and no file.
    const std::uint64_t deviceSectors = device ? device->GetSectorCount() : 0;
    clusters = std::min(clusters, deviceSectors > dataStart
                                      ? (deviceSectors - dataStart) / sectorsPerCluster
                                      : 0);
    clusterCount = std::min<std::uint64_t>(clusters, 0x0FFFFFF5);
    readClusters.assign(clusterCount + 2, false);
    clusterUse.assign(clusterCount + 3, false);
    m_buffer.assign(kMaxSectorsPerRead * kSectorSize + kMaxCarry + 1, 0);
}

FatRunSource FatDirectoryScanner::RunSource() {
    FatRunSource s;
    s.fat = fat;
    s.sectorsPerCluster = sectorsPerCluster;
    s.clusterCount = clusterCount;
    s.clusterUse = &clusterUse;
    return s;
}

CFileSystemNode* FatDirectoryScanner::MakeFatRootNode(std::uint32_t partitionIndex) {
    const char* typeName = type == FILESYSTEM_FAT12   ? "FAT12"
                           : type == FILESYSTEM_FAT16 ? "FAT16"
                           : type == FILESYSTEM_FAT32 ? "FAT32"
                                                      : "UNKNOWN";
    char name[48];
    std::snprintf(name, sizeof name, "%u %s", partitionIndex + 1, typeName);
    CFileSystemNode* node = CreateFileSystemNode();
    if (!node)
        return nullptr;
    node->SetProperties(
        std::unique_ptr<IFileProperties>(MakeFolderProps(name, FILESTATE_LIVE, 0, kNoCluster)));
    node->SetFileSystemInfo(dataStart, sectorsPerCluster);
    node->SetFileSystemType(type);
    return node;
}

CFileNode* FatDirectoryScanner::MakeFatDirNode(std::uint32_t firstCluster,
                                               std::uint32_t parentCluster) {
    char name[32];
    std::snprintf(name, sizeof name, "DIR%u", m_dirCounter++);
    CFileNode* node = CreateFileNode();
    if (node)
        node->SetProperties(std::unique_ptr<IFileProperties>(
            MakeFolderProps(name, FILESTATE_FAT_MADE_FOLDER, firstCluster, parentCluster)));
    return node;
}

CFileNode* FatDirectoryScanner::MakeLostFoldersNode() {
    CFileNode* node = CreateFileNode();
    if (node)
        node->SetProperties(std::unique_ptr<IFileProperties>(
            MakeFolderProps("Lost Folders", FILESTATE_FAT_MADE_FOLDER, kNoCluster, kNoCluster)));
    return node;
}

// ---------------------------------------------------------------------------------------------

FileTreePtr FatDirectoryScanner::BuildQuickTree(bool takeAll) {
    root = MakeFatRootNode(0);
    if (!root)
        return nullptr;
    callback->SetPos(1);
    queue.clear();
    std::int32_t lastPos = 1;
    // Folders found before a damaged part of the root are still read.
    ReadRootDirectory(takeAll);
    if (status != FATSCAN_CANCELLED) {
        for (std::uint64_t k = 1; !queue.empty(); ++k) {
            CFileNode* dir = queue.front();
            queue.pop_front();
            std::int32_t pos = static_cast<std::int32_t>(100 * (k + 1) / (k + 1 + queue.size()));
            if (pos > lastPos) {
                lastPos = pos;
                if (callback->SetPos(pos) == -1) {
                    status = FATSCAN_CANCELLED;
                    break;
                }
            }
            if (dir->m_pFirstChild)
                continue;
            if (!ReadDirectoryChain(dir, PropsOf(dir)->m_u32FirstCluster, false, takeAll) &&
                status == FATSCAN_CANCELLED)
                break;
        }
    }
    if (status == FATSCAN_CANCELLED) {
        FreeScannerTree(root);
        root = nullptr;
        return nullptr;
    }
    return FileTreePtr(root);
}

int FatDirectoryScanner::ReadRootDirectory(bool takeAll) {
    if (!walkRoot)
        return 0;
    if (type == FILESYSTEM_FAT32)
        return ReadDirectoryChain(root, rootCluster, true, takeAll);
    if (rootSectors == 0 || rootSector == UINT64_MAX)
        return 0;
    std::vector<std::uint8_t> area(static_cast<std::size_t>(rootSectors) * kSectorSize);
    if (!device->ReadSectors(area.data(), rootSector, rootSectors))
        return 0;
    ParseDirectoryBlock(area.data(), area.size(), root, false, takeAll);
    return 1;
}

int FatDirectoryScanner::ReadDirectoryChain(CFileNode* node, std::uint32_t first, bool isRoot,
                                            bool takeAll) {
    if (!IsDataCluster(first))
        return 1; // no data: an empty directory
    std::size_t carry = 0;
    std::uint32_t d = first;
    for (std::uint64_t guard = 0; IsDataCluster(d) && guard <= clusterCount; ++guard) {
        // Consecutive clusters are read together, up to 128 sectors.
        std::uint32_t n = 1;
        std::uint32_t last = d;
        std::uint32_t e = fat ? fat->GetEntry(d) : 0;
        while (e == last + 1 && IsDataCluster(e) && n * sectorsPerCluster < kMaxSectorsPerRead) {
            ++n;
            last = e;
            e = fat->GetEntry(e);
        }
        if (callback->Poll() == -1) {
            status = FATSCAN_CANCELLED;
            return 0;
        }
        const std::uint64_t sectors = static_cast<std::uint64_t>(n) * sectorsPerCluster;
        if (!device->ReadSectors(m_buffer.data() + carry, ClusterToSector(d), sectors))
            return 0;
        if (readClusters[d])
            return 0; // a loop, or a directory read twice
        for (std::uint32_t i = 0; i < n; ++i)
            readClusters[d + i] = true;
        if (d == first) {
            FatDirEntry e0(m_buffer.data() + carry);
            FatDirEntry e1(m_buffer.data() + carry + fat::kDirEntrySize);
            if (e0.IsDotEntry() == isRoot || e1.IsDotDotEntry() == isRoot)
                return 0;
        }
        const std::size_t length = static_cast<std::size_t>(sectors) * kSectorSize + carry;
        std::int64_t p = ParseDirectoryBlock(m_buffer.data(), length, node, false, takeAll);
        if (p == -1)
            return 1;
        const std::size_t remaining = length - static_cast<std::size_t>(p);
        if (remaining >= 1 && remaining <= kMaxCarry) {
            ReleaseTrace("Found unproessed buffer, lengh:%d bytes", static_cast<int>(remaining));
            std::memmove(m_buffer.data(), m_buffer.data() + p, remaining);
            carry = remaining;
        } else {
            carry = 0;
        }
        if (IsFatChainStop(e))
            return 1;
        d = e;
    }
    return 1;
}

std::int64_t FatDirectoryScanner::ParseDirectoryBlock(const std::uint8_t* block,
                                                      std::size_t length, CFileNode* parent,
                                                      bool lostMode, bool takeAll) {
    const CFATFileProperties* parentProps = PropsOf(parent);
    const bool parentDeleted = parentProps && (parentProps->m_state & FILESTATE_DELETED);
    const std::uint32_t parentCluster = parentProps ? parentProps->m_u32FirstCluster : 0;
    const std::int64_t len = static_cast<std::int64_t>(length);
    std::int64_t lfnStart = -1;
    int dotEntries = 0;
    FatDirEntry e;
    for (std::size_t o = 0; o + fat::kDirEntrySize <= length; o += fat::kDirEntrySize) {
        e.Set(block + o);
        if (!e.IsValid(false, checks)) {
            lfnStart = -1;
            if (lostMode)
                return len;
            continue;
        }
        if (e.IsLongNameEntry()) {
            if (lfnStart < 0)
                lfnStart = static_cast<std::int64_t>(o);
            continue;
        }
        if (e.IsVolumeLabel()) {
            if (!lostMode && parent == root && root && !e.IsDeleted())
                root->SetName(e.GetShortName(true).c_str());
            lfnStart = -1;
            continue;
        }
        if (e.FirstByte() == '.') {
            lfnStart = -1;
            if (++dotEntries == 3)
                return -1;
            continue;
        }
        const bool taken = takeAll || parentDeleted || e.IsDirectory() || e.IsDeleted();
        if (!taken) {
            lfnStart = -1;
            continue;
        }
        const std::uint32_t c = e.GetFirstCluster();
        if (c >= 2 && !IsDataCluster(c)) {
            lfnStart = -1;
            if (lostMode)
                return len;
            continue;
        }
        if (c >= 2 && c == parentCluster) {
            lfnStart = -1;
            continue;
        }
        const std::size_t from = lfnStart >= 0 ? static_cast<std::size_t>(lfnStart) : o;
        lfnStart = -1;
        CFATFileProperties* props =
            CreateFATFilePropertiesFromEntries(block + from, o + fat::kDirEntrySize - from, &m_arena);
        if (!props)
            continue;
        if (parentDeleted)
            props->m_state |= FILESTATE_DELETED;
        props->m_u32ParentCluster = parentCluster;
        props->m_u32FirstCluster = c;
        CFileNode* node = new (&m_arena) CFileNode();
        node->SetProperties(std::unique_ptr<IFileProperties>(props));

        if (e.IsDirectory()) {
            DebugTrace("Find directory: %s at cluster :%x, parent :%x", props->GetName(), c,
                       parentCluster);
            if (c < 2) { // no data of its own: nothing to share or to read
                parent->AddChild(node);
                continue;
            }
            auto it = directories.find(c);
            if (it == directories.end()) {
                directories[c] = node;
                queue.push_back(node);
                parent->AddChild(node);
                continue;
            }
            CFileNode* existing = it->second;
            bool replace = CompareDuplicateDirectories(props, PropsOf(existing)) < 0;
            if (replace && !lostMode && IsSameOrAncestor(existing, parent))
                replace = false; // would make a folder its own ancestor
            if (!replace) {
                DebugTrace("Discard a directory named %s, cur:%x, parent:%x", props->GetName(), c,
                           parentCluster);
                delete node;
                continue;
            }
            CFATFileProperties* old = PropsOf(existing);
            DebugTrace("Discard a directory named %s, cur: %x, parent:%x", old->GetName(), c,
                       old->m_u32ParentCluster);
            if (lostMode) {
                props->m_u32ParentCluster = old->m_u32ParentCluster;
                existing->SetProperties(node->TakeProperties()); // frees `old`
                delete node;
                continue;
            }
            if (existing->m_pParent)
                UnlinkChildNode(existing->m_pParent, existing);
            std::vector<CFileNode*> children;
            for (CFileNode* ch = existing->m_pFirstChild; ch; ch = ch->m_pNextSibling)
                children.push_back(ch);
            for (auto ch = children.rbegin(); ch != children.rend(); ++ch) {
                UnlinkChildNode(existing, *ch);
                node->AddChild(*ch);
            }
            it->second = node;
            queue.erase(std::remove(queue.begin(), queue.end(), existing), queue.end());
            delete existing;
            queue.push_back(node);
            parent->AddChild(node);
            continue;
        }

        DebugTrace("Found a File %s!", props->GetName());
        std::unique_ptr<CFATDataRunList> list =
            BuildFatDataRunList(RunSource(), c, props->m_u64Size, props->m_state & FILESTATE_DELETED);
        if (!list) {
            DebugTrace("Failed build Datarun list!");
            delete node;
            continue;
        }
        props->m_runRecord = CreateRunListRecord(list.get());
        parent->AddChild(node);
    }
    if (lfnStart >= 0) {
        ReleaseTrace("Unporcessed long file name directory entry at %d", static_cast<int>(lfnStart));
        return lfnStart;
    }
    return len;
}

void FatDirectoryScanner::FreeScannerTree(CFileNode* treeRoot) {
    std::vector<CFileNode*> nodes;
    if (treeRoot)
        CollectTreeNodes(treeRoot, nodes);
    std::unordered_set<CFileNode*> inTree(nodes.begin(), nodes.end());
    for (CFileNode* n : nodes) {
        if (const CFATFileProperties* p = PropsOf(n)) {
            auto it = directories.find(p->m_u32FirstCluster);
            if (it != directories.end() && it->second == n)
                directories.erase(it);
        }
        delete n;
    }
    for (auto& [cluster, node] : directories)
        if (!inTree.count(node))
            delete node;
    directories.clear();
    queue.clear();
}

// ---------------------------------------------------------------------------------------------

int CompareDuplicateDirectories(const CFATFileProperties* newer,
                                const CFATFileProperties* existing) {
    // State bits: 0x01 deleted, 0x08 folder made by a builder (which also has 0x01 set).
    constexpr std::uint8_t kDeletedBit = 0x01, kMadeBit = 0x08;
    const bool newMade = newer->m_state & kMadeBit;
    const bool newDeleted = newer->m_state & kDeletedBit;
    if (existing->m_state & kMadeBit)
        return newMade ? 0 : -1;
    if (existing->m_state & kDeletedBit) {
        if (newMade)
            return 1;
        if (!newDeleted)
            return -1;
        return newer->m_lastWriteTime.ticks > existing->m_lastWriteTime.ticks ? -1 : 1;
    }
    if (!newMade && !newDeleted) {
        ReleaseTrace("Some thing must be wrong! \t\t\t\t\t\t\tWe found two undeleted directory got "
                     "the same first cluster number!");
        return 0;
    }
    return 1;
}

void PruneEmptyDeletedFolders(CFileNode* treeRoot) {
    if (!treeRoot)
        return;
    std::deque<CFileNode*> pending{treeRoot};
    while (!pending.empty()) {
        CFileNode* node = pending.front();
        pending.pop_front();
        const IFileProperties* p = node->m_pProperties;
        if (!p || !(p->GetAttributes() & FILEATTR_DIRECTORY))
            continue;
        if (node != treeRoot && (p->GetFileState() & FILESTATE_DELETED) && !node->m_pFirstChild) {
            UnlinkChildNode(node->m_pParent, node);
            delete node;
            continue;
        }
        for (CFileNode* ch = node->m_pFirstChild; ch; ch = ch->m_pNextSibling)
            pending.push_back(ch);
    }
}

bool ValidateFatBootSector(IStorageDevice* device, const std::uint8_t* sector,
                           std::uint64_t partitionFirst) {
    CFATDBR dbr(sector, kSectorSize);
    if (!dbr.IsValid())
        return false;
    const std::uint64_t spf = dbr.GetSectorsPerFAT();
    if (dbr.GetTotalSectors() < spf * dbr.GetFATCount())
        return false;
    std::uint8_t buf[kSectorSize];
    const std::uint64_t fat1 = partitionFirst + dbr.GetReservedSectors();
    for (std::uint64_t s : {fat1, fat1 + spf})
        if (device->ReadSectors(buf, s, 1) && IsFATTableStart(buf, sizeof buf))
            return true;
    return false;
}

FileTreePtr FatQuickBuildTree(CFATSearchedPartitionInfo* partition, IStorageDevice* device,
                              IDIRBuildCallback* callback, bool takeAll) {
    const auto started = std::chrono::steady_clock::now();
    FatDirectoryScanner scanner(callback, device);
    IDIRBuildCallback* cb = scanner.callback;
    if (!partition || !device)
        return nullptr;
    cb->BeginStage("Reading partition parameters...", 100);

    const std::uint64_t first = partition->m_u64KeptFirstSector;
    const std::uint32_t flags = partition->m_u32EvidenceFlags;
    std::uint8_t sector[kSectorSize];
    bool valid = false;
    if (flags & (FATEVIDENCE_FAT12_BOOT | FATEVIDENCE_FAT16_BOOT | FATEVIDENCE_FAT32_BOOT)) {
        valid = device->ReadSectors(sector, first, 1) &&
                ValidateFatBootSector(device, sector, first);
        cb->StepBy(30);
    }
    if (!valid && (flags & FATEVIDENCE_FAT32_BACKUP)) {
        valid = device->ReadSectors(sector, first + 6, 1) &&
                ValidateFatBootSector(device, sector, first);
        cb->StepBy(30);
    }
    if (!valid) {
        ReleaseTrace("Failed to read DBR information!");
        cb->Reset();
        return nullptr;
    }
    CFATDBR dbr(sector, sizeof sector);
    std::unique_ptr<CDoubleFATTable> tables =
        CreateFATTables(device, first + dbr.GetReservedSectors(), dbr.GetFileSystemType(),
                        dbr.GetSectorsPerFAT(), flags & FATEVIDENCE_USE_FIRST_FAT,
                        flags & FATEVIDENCE_USE_SECOND_FAT);
    if (cb->Reset() == -1) {
        ReleaseTrace("User abort searching!");
        return nullptr;
    }
    const ScanOptions& options = GetScanOptions();
    scanner.checks.checkDate = options.CheckFatDateField != 0;
    scanner.checks.checkTime = options.CheckFatTimeField != 0;
    scanner.SetLayout(dbr, first, tables && tables->HasAnyCopy() ? tables.get() : nullptr);

    cb->BeginStage("Building Directories...", 100);
    FileTreePtr root = scanner.BuildQuickTree(takeAll);
    FlagFatCrossLinks(root.get(), scanner.fat, scanner.clusterCount);
    scanner.fat = nullptr;
    tables.reset();
    if (root) {
        if (cb->Reset() == -1)
            return nullptr;
        PruneEmptyDeletedFolders(root.get());
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    ReleaseTrace("FAT Quick Build directory tree used %d millseconds!", static_cast<int>(ms));
    return root;
}

FileTreePtr BuildFatFileTree(IDIRBuildCallback* callback, CFATSearchedPartitionInfo* partition,
                             FatTreeBuildTask* task, IStorageDevice* device,
                             std::uint32_t takeAll) {
    FatTreeBuildTask local;
    if (!task)
        task = &local;
    task->callback = callback;
    task->partition = partition;
    task->device = device;
    task->takeAll = takeAll;
    task->result.reset();
    task->done.store(false);
    const bool ran = platform::RunWorker(
        task->done,
        [task] {
            task->result = FatQuickBuildTree(task->partition, task->device, task->callback,
                                             task->takeAll != 0);
        },
        10);
    return ran ? std::move(task->result) : nullptr;
}
