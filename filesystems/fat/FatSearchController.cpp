#include "filesystems/fat/FatSearchController.h"

#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "logging/Log.h"
#include "storage/StorageDevice.h"

#include <algorithm>

namespace {

constexpr FatTypeLimits kFat12Limits{1, 4085, 3};
constexpr FatTypeLimits kFat16Limits{4085, 0xFFF4, 4};
constexpr FatTypeLimits kFat32Limits{0xFFF4, 0x0FFFFFF4, 8};

// Cluster sizes a directory's position is tried with, in this order.
constexpr std::uint32_t kClusterSizes[] = {1, 2, 4, 8, 16, 32, 64, 128};

// Largest chunk read at once; longer ranges are read in pieces of this size.
constexpr std::uint64_t kMaxSectorsPerRead = 2048;

// A FAT partition never counts more sectors than its 32-bit total-sectors field holds.
constexpr std::uint64_t kMaxPartitionSectors = 0xFFFFFFFF;

// How many clusters of the type a partition whose data area starts at `dataStart` can have:
// up to the device's end, within the type's window, and no more than two FATs in front of the
// data area (after one boot sector) can map. Zero when the type does not fit.
FatTypeGuess FitFatType(std::uint32_t type, std::uint64_t dataStart, std::uint32_t spc,
                        std::uint64_t deviceSectors) {
    FatTypeGuess g;
    const FatTypeLimits* lim = GetFatTypeLimits(type);
    if (!lim || deviceSectors <= dataStart || spc == 0)
        return g;
    std::uint64_t clusters = (deviceSectors - dataStart) / spc;
    if (clusters < lim->minClusters)
        return g;
    clusters = std::min(clusters, lim->maxClusters - 1);
    std::uint64_t f = FatSectorsNeeded(*lim, clusters);
    if (2 * f + 1 > dataStart) {
        // Fewer clusters: as many as the room in front of the data area can map.
        const std::uint64_t room = dataStart == 0 ? 0 : (dataStart - 1) / 2;
        clusters = std::min(clusters, room * 1024 / lim->halfBytes);
        if (clusters < lim->minClusters)
            return g;
        f = FatSectorsNeeded(*lim, clusters);
        if (2 * f + 1 > dataStart)
            return g;
    }
    g.type = type;
    g.clusters = clusters;
    g.sectorsPerFat = f;
    return g;
}

} // namespace

const FatTypeLimits* GetFatTypeLimits(std::uint32_t type) {
    switch (type) {
    case FILESYSTEM_FAT12:
        return &kFat12Limits;
    case FILESYSTEM_FAT16:
        return &kFat16Limits;
    case FILESYSTEM_FAT32:
        return &kFat32Limits;
    default:
        return nullptr;
    }
}

std::uint64_t FatSectorsNeeded(const FatTypeLimits& limits, std::uint64_t clusters) {
    return (limits.halfBytes * clusters + 1023) / 1024;
}

FatTypeGuess GuessFatType(std::uint64_t dataStart, std::uint32_t spc,
                          std::uint64_t deviceSectors) {
    for (std::uint32_t type : {FILESYSTEM_FAT32, FILESYSTEM_FAT16, FILESYSTEM_FAT12}) {
        FatTypeGuess g = FitFatType(type, dataStart, spc, deviceSectors);
        if (g.type != FILESYSTEM_UNKNOWN)
            return g;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------

CFATSearchController::CFATSearchController() = default;
CFATSearchController::~CFATSearchController() = default;

void CFATSearchController::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_deviceSectors = device ? device->GetSectorCount() : 0;
}

void CFATSearchController::SetSectorsPerStep(std::uint32_t sectors) {
    m_sectorsPerStep = sectors ? sectors : 1;
}

int CFATSearchController::AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                                         IntelligentSearchStats* stats) {
    if (!m_device)
        return 1;
    TakeOptions();

    const std::uint64_t piece =
        std::min<std::uint64_t>(std::max<std::uint64_t>(m_sectorsPerStep, 1), kMaxSectorsPerRead);
    if (m_buffer.size() < piece * kSectorSize)
        m_buffer.assign(piece * kSectorSize, 0);
    std::uint8_t* buf = m_buffer.data();
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t s0 = first + done;
        const std::uint64_t n = std::min(piece, count - done);
        if (m_device->ReadSectors(buf, s0, n)) {
            for (std::uint64_t i = 0; i < n; ++i)
                AnalyzeSector(s0 + i, buf + i * kSectorSize, stats);
        } else {
            // Something in the piece is unreadable: sector by sector, skipping what fails.
            for (std::uint64_t i = 0; i < n; ++i)
                if (m_device->ReadSectors(buf, s0 + i, 1))
                    AnalyzeSector(s0 + i, buf, stats);
        }
        done += n;
    }
    return 1;
}

int CFATSearchController::AnalyzeLoadedChunk(const SearchChunk& chunk,
                                             IntelligentSearchStats* stats) {
    if (!m_device)
        return 1;
    if (!chunk.data)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    TakeOptions();
    // Sectors that could not be read hold zeros, which AnalyzeSector passes over.
    for (std::uint64_t i = 0; i < chunk.count; ++i)
        AnalyzeSector(chunk.first + i, chunk.data + i * kSectorSize, stats);
    return 1;
}

void CFATSearchController::TakeOptions() {
    const ScanOptions& options = GetScanOptions();
    m_useBootRecords = options.UseBootRecords != 0;
    m_useFirstFat = options.UseFirstFatCopy != 0;
    m_useSecondFat = options.UseSecondFatCopy != 0;
    m_checks.checkDate = options.CheckFatDateField != 0;
    m_checks.checkTime = options.CheckFatTimeField != 0;
}

void CFATSearchController::AnalyzeSector(std::uint64_t s, const std::uint8_t* sector,
                                         IntelligentSearchStats* stats) {
    if (sector[0] == 0)
        return;
    if (sector[0] == 0x52 && IsFSInfoSector(sector, kSectorSize)) {
        m_fsInfoSectors.push_back({s, FSInfoFreeClusters(sector)});
        return;
    }
    if (HasBootSignature(sector, kSectorSize) && AddBootSector(s, sector)) {
        ReleaseTrace("Found a valid DBR at sector:%llu", static_cast<unsigned long long>(s));
        if (stats)
            ++stats->counters[ISS_FATBootRecords];
        return;
    }
    if (IsFATTableStart(sector, kSectorSize)) {
        FatStartSeen(s);
        return;
    }
    DirectorySectorInfo info;
    if (!ClassifyDirectorySector(sector, kSectorSize, info, m_checks))
        return;
    FatDirectorySectorRecord record;
    record.sector = s;
    if (info.kind == DirectorySectorInfo::kDirectoryFirst) {
        DebugTrace("Found a valid first dir entry at sector:%llu", static_cast<unsigned long long>(s));
        AddFirstDirectorySector(s, info.dotCluster);
        if (stats)
            ++stats->counters[ISS_FATFolders];
        record.dotCluster = info.dotCluster;
        record.dotDotCluster = info.dotDotCluster;
    } else {
        if (stats)
            ++stats->counters[ISS_FATFolderParts];
        DebugTrace("Found a valid part dir entry at sector:%llu", static_cast<unsigned long long>(s));
    }
    m_directorySectors.Insert(record);
    if (stats)
        stats->counters[ISS_TotalFilesFound] += info.entryCount;

    FatDirEntry e;
    for (std::size_t o = 0; o + fat::kDirEntrySize <= kSectorSize; o += fat::kDirEntrySize) {
        e.Set(sector + o);
        if (!e.IsValid(false, m_checks))
            break;
        if (e.IsLongNameEntry() || e.IsDirectory() || e.IsVolumeLabel())
            continue;
        // Data clusters only: cluster numbers below 2 place no file.
        const std::uint32_t c = e.GetFirstCluster();
        if (c >= 2) {
            const std::string name = e.GetShortName(false);
            m_foundFiles.AddFromName(name.c_str(), static_cast<std::uint8_t>(name.size()), c - 2, s);
        }
    }
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<CFATSearchedPartitionInfo>
CFATSearchController::MakePartitionFromBootSector(std::uint64_t s, const CFATDBR& dbr,
                                                  bool backup) const {
    const std::uint32_t type = dbr.GetFileSystemType();
    const FatTypeLimits* lim = GetFatTypeLimits(type);
    if (!lim || s >= m_deviceSectors)
        return nullptr;
    std::uint64_t n = dbr.GetTotalSectors();
    if (n > m_deviceSectors - s)
        n = m_deviceSectors - s;

    // FAT12 and FAT16 have no backup boot sector: a backup copy found of them is no evidence.
    std::uint32_t flag = 0;
    if (type == FILESYSTEM_FAT12)
        flag = backup ? 0u : std::uint32_t{FATEVIDENCE_FAT12_BOOT};
    else if (type == FILESYSTEM_FAT16)
        flag = backup ? 0u : std::uint32_t{FATEVIDENCE_FAT16_BOOT};
    else
        flag = backup ? FATEVIDENCE_FAT32_BACKUP : FATEVIDENCE_FAT32_BOOT;

    const std::uint64_t spc = dbr.GetSectorsPerCluster();
    const std::uint64_t reserved = dbr.GetReservedSectors();
    const std::uint64_t spf = dbr.GetSectorsPerFAT();
    const std::uint64_t fats = dbr.GetFATCount();
    std::uint64_t dataStart = s + reserved + fats * spf;
    std::uint32_t root = 0;
    if (type == FILESYSTEM_FAT32) {
        root = dbr.GetRootCluster();
    } else {
        root = dbr.GetRootDirSectors();
        dataStart += root;
    }
    if (spc == 0 || s + n <= dataStart)
        return nullptr;
    const std::uint64_t clusters = (s + n - dataStart) / spc;
    if (clusters < lim->minClusters || clusters >= lim->maxClusters)
        return nullptr;
    if (spf < FatSectorsNeeded(*lim, clusters))
        return nullptr;
    if (type == FILESYSTEM_FAT32 && clusters < root)
        return nullptr;

    auto p = std::make_unique<CFATSearchedPartitionInfo>();
    p->m_fileSystemType = type;
    p->m_sectorsPerCluster = static_cast<std::uint8_t>(spc);
    p->m_u64FirstSector = dataStart;
    p->m_u64KeptFirstSector = s;
    p->m_u32SectorCount = static_cast<std::uint32_t>(n);
    p->m_u16ReservedSectors = static_cast<std::uint16_t>(reserved);
    p->m_u32SectorsPerFat = static_cast<std::uint32_t>(spf);
    p->m_u32ClusterCount = static_cast<std::uint32_t>(clusters);
    p->m_u32Root = root;
    p->m_u32EvidenceFlags = flag;
    return p;
}

void CFATSearchController::AddPartition(std::unique_ptr<CFATSearchedPartitionInfo> partition,
                                        bool withFatStarts) {
    CFATSearchedPartitionInfo* p = partition.get();
    m_partitions.emplace(p->m_u64FirstSector, std::move(partition));
    if (withFatStarts) {
        const std::uint64_t fat1 = p->m_u64KeptFirstSector + p->m_u16ReservedSectors;
        m_fatStarts.emplace(fat1, p);
        m_fatStarts.emplace(fat1 + p->m_u32SectorsPerFat, p);
    }
}

CFATSearchedPartitionInfo* CFATSearchController::FindSamePartition(std::uint64_t dataStart,
                                                                   std::uint32_t spc) const {
    auto [lo, hi] = m_partitions.equal_range(dataStart);
    for (auto it = lo; it != hi; ++it)
        if (it->second->m_sectorsPerCluster == spc)
            return it->second.get();
    return nullptr;
}

bool CFATSearchController::AddBootSector(std::uint64_t s, const std::uint8_t* sector) {
    if (!m_useBootRecords)
        return false;
    CFATDBR dbr(sector, kSectorSize);
    if (!dbr.IsValid())
        return false;
    bool accepted = false;
    if (auto p = MakePartitionFromBootSector(s, dbr, false)) {
        AddPartition(std::move(p), true);
        accepted = true;
    }
    // A FAT32 boot sector may be the backup copy of one six sectors earlier.
    if (dbr.GetFileSystemType() == FILESYSTEM_FAT32 && s >= 6) {
        if (auto p = MakePartitionFromBootSector(s - 6, dbr, true)) {
            if (CFATSearchedPartitionInfo* same =
                    FindSamePartition(p->m_u64FirstSector, p->m_sectorsPerCluster))
                same->m_u32EvidenceFlags |= FATEVIDENCE_FAT32_BACKUP;
            else
                AddPartition(std::move(p), true);
            accepted = true;
        }
    }
    return accepted;
}

void CFATSearchController::FatStartSeen(std::uint64_t s) {
    auto [lo, hi] = m_fatStarts.equal_range(s);
    if (lo == hi)
        return;
    for (auto it = lo; it != hi; ++it) {
        CFATSearchedPartitionInfo* p = it->second;
        const std::uint64_t fat1 = p->m_u64KeptFirstSector + p->m_u16ReservedSectors;
        if (s == fat1) {
            p->m_u32EvidenceFlags |= FATEVIDENCE_FIRST_FAT_SEEN;
            if (m_useFirstFat)
                p->m_u32EvidenceFlags |= FATEVIDENCE_USE_FIRST_FAT;
        } else if (s == fat1 + p->m_u32SectorsPerFat) {
            p->m_u32EvidenceFlags |= FATEVIDENCE_SECOND_FAT_SEEN;
            if (m_useSecondFat)
                p->m_u32EvidenceFlags |= FATEVIDENCE_USE_SECOND_FAT;
        }
    }
    m_fatStarts.erase(lo, hi);
}

void CFATSearchController::AddFirstDirectorySector(std::uint64_t s, std::uint32_t c) {
    // A "." entry naming no data cluster places nothing.
    if (!IsValidClusterNumber(c))
        return;
    const std::uint64_t index = c - 2;
    bool tried[std::size(kClusterSizes)] = {};
    for (std::size_t i = 0; i < std::size(kClusterSizes); ++i) {
        const std::uint32_t k = kClusterSizes[i];
        const std::uint64_t offset = index * k;
        if (offset > s)
            continue;
        tried[i] = true;
        if (CFATSearchedPartitionInfo* p = FindSamePartition(s - offset, k)) {
            p->m_u32EvidenceFlags |= FATEVIDENCE_DIRECTORY;
            ++p->m_u64EvidenceA;
            return;
        }
    }
    for (std::size_t i = 0; i < std::size(kClusterSizes); ++i)
        if (tried[i])
            if (auto p = GuessPartitionFromDirectory(s, c, kClusterSizes[i]))
                AddPartition(std::move(p), false);
}

std::unique_ptr<CFATSearchedPartitionInfo>
CFATSearchController::GuessPartitionFromDirectory(std::uint64_t s, std::uint32_t c,
                                                  std::uint32_t k) const {
    if (!IsValidClusterNumber(c) || k == 0 || k > 128)
        return nullptr;
    const std::uint64_t offset = static_cast<std::uint64_t>(c - 2) * k;
    if (offset > s)
        return nullptr;
    const std::uint64_t d = s - offset;
    FatTypeGuess g = GuessFatType(d, k, m_deviceSectors);
    if (g.type == FILESYSTEM_UNKNOWN)
        return nullptr;
    // Room for a boot sector and two FATs in front of the data area (GuessFatType made sure).
    const std::uint64_t beforeData = 2 * g.sectorsPerFat + 1;
    if (beforeData > d)
        return nullptr;
    std::uint64_t rootSectors = 0;
    std::uint32_t root = 2;
    if (g.type != FILESYSTEM_FAT32) {
        rootSectors = std::min<std::uint64_t>(32, d - beforeData);
        root = static_cast<std::uint32_t>(rootSectors);
    }
    const std::uint64_t p = d - beforeData - rootSectors;
    const std::uint64_t head = beforeData + rootSectors;
    std::uint64_t clusters = g.clusters;
    if (head + clusters * k > kMaxPartitionSectors)
        clusters = (kMaxPartitionSectors - head) / k;

    auto part = std::make_unique<CFATSearchedPartitionInfo>();
    part->m_fileSystemType = g.type;
    part->m_sectorsPerCluster = static_cast<std::uint8_t>(k);
    part->m_u64FirstSector = d;
    part->m_u64KeptFirstSector = p;
    part->m_u32EvidenceFlags = FATEVIDENCE_DIRECTORY;
    part->m_u16ReservedSectors = 1;
    part->m_u32SectorsPerFat = static_cast<std::uint32_t>(g.sectorsPerFat);
    part->m_u32ClusterCount = static_cast<std::uint32_t>(clusters);
    part->m_u32Root = root;
    part->m_u32SectorCount = static_cast<std::uint32_t>(head + clusters * k);
    return part;
}

// ---------------------------------------------------------------------------------------------

void CFATSearchController::PlaceByFSInfo(CFATSearchedPartitionInfo& p) const {
    // FSInfo lies in sector 1 of every FAT32 volume the common tools make, its copy in sector
    // 7; between the volume's first sector and the data area lie the reserved sectors and the
    // two FATs, no more sectors than a 16-bit reserved count and FATs for every cluster up to
    // the device's end can take.
    const std::uint64_t d = p.m_u64FirstSector, k = p.m_sectorsPerCluster;
    if (k == 0 || d >= m_deviceSectors || m_fsInfoSectors.empty())
        return;
    const std::uint64_t clusterRoom = std::min<std::uint64_t>((m_deviceSectors - d) / k,
                                                              kFat32Limits.maxClusters - 1);
    const std::uint64_t reach = 0xFFFF + 2 * FatSectorsNeeded(kFat32Limits, clusterRoom + 2);
    const std::uint64_t lowest = d > reach ? d - reach : 0;
    auto isFSInfo = [&](std::uint64_t sector) {
        auto it = std::lower_bound(m_fsInfoSectors.begin(), m_fsInfoSectors.end(), sector,
                                   [](const FSInfoSeen& f, std::uint64_t s) { return f.sector < s; });
        return it != m_fsInfoSectors.end() && it->sector == sector;
    };
    auto it = std::lower_bound(m_fsInfoSectors.begin(), m_fsInfoSectors.end(), d,
                               [](const FSInfoSeen& f, std::uint64_t s) { return f.sector < s; });
    while (it != m_fsInfoSectors.begin()) {
        --it;
        if (it->sector < lowest || it->sector == 0)
            return;
        std::uint64_t fsInfo = it->sector;
        if (fsInfo >= 6 && isFSInfo(fsInfo - 6))
            fsInfo -= 6; // the copy; the volume's own FSInfo lies six sectors before it
        if (fsInfo == 0)
            continue;
        const std::uint64_t start = fsInfo - 1;
        const std::uint64_t span = d - start; // reserved sectors and two FATs
        if (span < 4)
            continue;
        // 32 reserved sectors unless the span says otherwise (what mkfs.fat and Windows use).
        const std::uint64_t reserved = span >= 34 ? 32 + ((span - 32) & 1) : 2 + (span & 1);
        const std::uint64_t perFat = (span - reserved) / 2;
        // Every cluster the FAT can map, up to the device's end.
        const std::uint64_t clusters = std::min(perFat * 128 - 2, clusterRoom);
        if (clusters < kFat32Limits.minClusters || span + clusters * k > kMaxPartitionSectors ||
            (it->freeClusters != 0xFFFFFFFF && it->freeClusters > clusters))
            continue;
        p.m_u64KeptFirstSector = start;
        p.m_u16ReservedSectors = static_cast<std::uint16_t>(reserved);
        p.m_u32SectorsPerFat = static_cast<std::uint32_t>(perFat);
        p.m_u32ClusterCount = static_cast<std::uint32_t>(clusters);
        p.m_u32SectorCount = span + clusters * k;
        return;
    }
}

void CFATSearchController::CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) {
    for (auto& [dataStart, owned] : m_partitions) {
        CFATSearchedPartitionInfo* p = owned.get();
        const std::uint32_t f = p->m_u32EvidenceFlags;
        const bool boot = (f & FATEVIDENCE_ANY_BOOT) != 0;
        const bool fatSeen = (f & (FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_SECOND_FAT_SEEN)) != 0;
        if (p->m_u64EvidenceA == 0 && (!boot || !fatSeen))
            continue; // dropped (freed below)
        if (!boot && p->m_fileSystemType == FILESYSTEM_FAT32)
            PlaceByFSInfo(*p);
        std::uint64_t fatScore = 10;
        if ((f & FATEVIDENCE_FIRST_FAT_SEEN) && (f & FATEVIDENCE_SECOND_FAT_SEEN))
            fatScore = 50;
        else if (fatSeen)
            fatScore = 45;
        std::uint64_t bootScore = 10;
        if (p->m_fileSystemType == FILESYSTEM_FAT32) {
            const bool primary = f & FATEVIDENCE_FAT32_BOOT, backup = f & FATEVIDENCE_FAT32_BACKUP;
            bootScore = primary && backup ? 50 : primary || backup ? 45 : 10;
        } else if (f & (FATEVIDENCE_FAT12_BOOT | FATEVIDENCE_FAT16_BOOT)) {
            bootScore = 50;
        }
        p->m_u64Score = fatScore + bootScore;
        CountEntriesConfirmedBySignature(m_foundFiles, m_sink, p);
        out.push_back(owned.release());
    }
    m_partitions.clear();
    m_fatStarts.clear();
    m_foundFiles.Clear();
    std::vector<FSInfoSeen>().swap(m_fsInfoSectors);
}

std::vector<const CFATSearchedPartitionInfo*> CFATSearchController::Partitions() const {
    std::vector<const CFATSearchedPartitionInfo*> out;
    for (const auto& [dataStart, p] : m_partitions)
        out.push_back(p.get());
    return out;
}

int CFATSearchController::SaveState(IRSData* section) {
    m_directorySectors.Save(section);
    return 1;
}

int CFATSearchController::LoadState(IRSData* section) {
    m_directorySectors.Load(section);
    return 1;
}

FileTreePtr CFATSearchController::BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                                     IStorageDevice* device,
                                                     std::uint32_t partitionIndex,
                                                     IDIRBuildCallback* callback) {
    if (!partition || !device || partition->GetKind() != SEARCHED_PARTITION_FAT)
        return nullptr;
    return FatTreeBuildTask::Run(callback, &m_directorySectors,
                                 static_cast<CFATSearchedPartitionInfo*>(partition), m_sink,
                                 device, partitionIndex);
}
