#include "filesystems/ntfs/NtfsFoundTreeBuilder.h"

#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/ntfs/NtfsCrossLinks.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsTreeBuildCommon.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

using namespace ntfs_tree;

namespace {

constexpr std::uint32_t kBlockSectors = 128;

} // namespace

CNtfsFoundTreeBuilder::~CNtfsFoundTreeBuilder() {
    for (auto& g : m_groups) {
        FreeEntries(&g->list);
        if (g->list.tempRoot) {
            ForgetSourceRecords(g->list.tempRoot);
            DeleteFileTree(g->list.tempRoot);
        }
    }
    FreeEntries(&m_loose);
    if (m_loose.tempRoot) {
        ForgetSourceRecords(m_loose.tempRoot);
        DeleteFileTree(m_loose.tempRoot);
    }
}

IDIRBuildCallback* CNtfsFoundTreeBuilder::Callback() {
    if (m_callback)
        return m_callback;
    if (!m_quiet)
        m_quiet = std::make_unique<CNullDirBuildCallback>();
    return m_quiet.get();
}

std::uint64_t CNtfsFoundTreeBuilder::SectorCount() const {
    return m_partition ? m_partition->GetSectorCount64() : 0;
}

void CNtfsFoundTreeBuilder::MakeGroups() {
    m_groups.clear();
    if (!m_mftRecords || m_sectorsPerCluster == 0)
        return;
    const std::uint64_t spc = m_sectorsPerCluster;
    for (const NtfsRecordNode& node : *m_mftRecords) {
        // The $MFT record must sit where its own data says the MFT starts...
        const std::int64_t firstCluster = node.FirstCluster();
        if (firstCluster < 0 || node.sector < m_firstSector ||
            (node.sector - m_firstSector) % spc != 0 ||
            (node.sector - m_firstSector) / spc != static_cast<std::uint64_t>(firstCluster))
            continue;
        // ... and its extents must lie inside the partition.
        std::uint64_t highest = 0;
        bool ok = true;
        for (const NtfsExtent& e : node.extents) {
            if (e.lcn < 0)
                continue;
            std::uint64_t last;
            if (e.count == 0 ||
                __builtin_add_overflow(static_cast<std::uint64_t>(e.lcn), e.count - 1, &last)) {
                ok = ok && e.count == 0;
                continue;
            }
            highest = std::max(highest, last);
        }
        if (!ok || highest > UINT64_MAX / spc || highest * spc >= SectorCount())
            continue;
        auto group = std::make_unique<NtfsMftGroup>();
        group->mft = &node;
        group->info.startSector = node.sector;
        group->info.extents = node.extents;
        group->info.sectorsPerClusterEstimate = node.sectorsPerCluster;
        group->list.mft = &group->info;
        group->list.arena = &m_arena;
        m_groups.push_back(std::move(group));
    }
}

void CNtfsFoundTreeBuilder::ParseMftRecordBlock(std::uint8_t* block, std::uint64_t firstSector,
                                                std::uint32_t sectors) {
    const auto* ntfs = dynamic_cast<const CSearchedNTFSPartitionInfo*>(m_partition);
    const bool mftOnly = ntfs && ntfs->m_u32MftOnly != 0;
    const bool useMft = !ntfs || ntfs->m_u32UseMftFile != 0;
    const std::uint64_t spc = m_sectorsPerCluster;
    std::uint8_t raw[kNtfsRecordSize];
    std::uint8_t rec[kNtfsRecordSize];
    for (std::uint32_t i = 0; i + kNtfsSectorsPerRecord <= sectors; ++i) {
        const std::uint8_t* p = block + std::size_t{i} * kSectorSize;
        if (!CheckFileRecordHeader(p, kNtfsRecordSize) || IsExtensionRecord(p, kNtfsRecordSize))
            continue;
        const std::uint64_t sector = firstSector + i;
        if (sector < m_firstSector)
            continue;
        const std::uint64_t cluster = (sector - m_firstSector) / spc;
        NtfsMftGroup* group = nullptr;
        std::int64_t vcn = -1;
        for (auto& g : m_groups) {
            vcn = MapLcnToVcn(g->info.extents, cluster);
            if (vcn >= 0) {
                group = g.get();
                break;
            }
        }
        if (mftOnly && !group)
            continue;
        if (!useMft)
            group = nullptr;

        std::memcpy(raw, p, kNtfsRecordSize);
        std::memcpy(rec, p, kNtfsRecordSize);
        NtfsExtensionList extensions;
        if (group && ApplyFixups(raw, kNtfsRecordSize) &&
            FindAttribute(raw, kNtfsRecordSize, kNtfsAttrAttributeList, 0)) {
            std::memcpy(raw, p, kNtfsRecordSize);
            extensions = ReadAttributeListEntries(raw, kNtfsRecordSize, m_firstSector,
                                                  m_sectorsPerCluster, m_device);
            ResolveExtensionRecords(extensions, sector, kNtfsSectorsPerRecord, m_sectorsPerCluster,
                                    m_firstSector, group->info.extents);
        }
        MftRecordView view;
        if (!view.Attach(rec, kNtfsRecordSize, static_cast<std::int64_t>(sector), m_device))
            continue;
        i += kNtfsSectorsPerRecord - 1; // a record's second sector starts no record
        if (IsSystemFileRecord(view.Record(), kNtfsRecordSize))
            continue;

        NtfsRecordEntry entry;
        entry.isDirectory = (GetRecordFlags(view.Record(), view.Length()) & kNtfsRecordDirectory) ? 1 : 0;
        entry.record = GetHeaderRecordNumber(view.Record(), kNtfsRecordSize);
        if (group) {
            const std::uint64_t index =
                static_cast<std::uint64_t>(vcn) * spc + (sector - m_firstSector) % spc;
            if (index % kNtfsSectorsPerRecord == 0)
                entry.record = static_cast<std::int64_t>(index / kNtfsSectorsPerRecord);
        }
        entry.parent = BaseParentReference(view);
        view.SetExtensions(extensions);
        if (entry.record >= 0)
            view.SetBaseRecordNumber(entry.record);
        std::int64_t reported = -1;
        CNTFSFileProperties* props = CreateNtfsFilePropertiesFromRecord(&view, sector, &reported, &m_arena);
        if (props) {
            FixNtfsFileSize(props, m_sectorsPerCluster);
            props->SetExtensionRecords(extensions);
        }
        entry.properties = props;
        if (entry.parent == -1)
            entry.parent = reported;
        (group ? group->list : m_loose).entries.push_back(entry);
    }
}

bool CNtfsFoundTreeBuilder::ReadFoundMftRecords() {
    if (!m_runs)
        return true;
    const std::uint64_t first = m_firstSector;
    const std::uint64_t end = first + SectorCount();
    const std::uint64_t deviceSectors = m_device->GetSectorCount();
    // Cuts each run that reaches into the partition into blocks of at most kBlockSectors
    // sectors that start at a record, clipped at the partition's and the device's end.
    auto forEachBlock = [&](auto&& fn) {
        for (const FileRecordRun& run : *m_runs) {
            std::uint64_t runEnd;
            if (run.recordCount == 0 ||
                __builtin_mul_overflow(run.recordCount, std::uint64_t{kNtfsSectorsPerRecord},
                                       &runEnd) ||
                __builtin_add_overflow(runEnd, run.firstSector, &runEnd))
                continue;
            std::uint64_t s = run.firstSector;
            if (s < first) // start at the first record inside the partition
                s += (first - s + kNtfsSectorsPerRecord - 1) / kNtfsSectorsPerRecord *
                     kNtfsSectorsPerRecord;
            const std::uint64_t stop = std::min({runEnd, end, deviceSectors});
            while (s < stop) {
                const auto n =
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSectors, stop - s));
                if (!fn(s, n))
                    return false;
                s += n;
            }
        }
        return true;
    };
    std::uint64_t blocks = 0;
    forEachBlock([&](std::uint64_t, std::uint32_t) {
        ++blocks;
        return true;
    });
    IDIRBuildCallback* cb = Callback();
    if (Cancelled(cb, cb->BeginStage("NTFS:Reading files",
                                     static_cast<std::int32_t>(
                                         std::min<std::uint64_t>(blocks, INT32_MAX)))))
        return false;
    m_block.assign(std::size_t{kBlockSectors} * kSectorSize, 0);
    std::uint64_t unreadable = 0;
    const bool finished = forEachBlock([&](std::uint64_t s, std::uint32_t n) {
        std::uint8_t* buf = m_block.data();
        if (!m_device->ReadSectors(buf, s, n)) {
            // Sector by sector: a sector that cannot be read holds zeros and no record.
            for (std::uint32_t k = 0; k < n; ++k)
                if (!m_device->ReadSectors(buf + std::size_t{k} * kSectorSize, s + k, 1)) {
                    std::memset(buf + std::size_t{k} * kSectorSize, 0, kSectorSize);
                    ++unreadable;
                }
        }
        ParseMftRecordBlock(buf, s, n);
        return !Cancelled(cb, cb->StepBy(1));
    });
    if (unreadable)
        LogWarning("NTFS: %" PRIu64 " sector(s) of found FILE records could not be read",
                   unreadable);
    return finished;
}

FileTreePtr CNtfsFoundTreeBuilder::Build() {
    m_lostFilesCounter = 0;
    auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(m_partition);
    if (!ntfs || !m_device || ntfs->m_sectorsPerCluster == 0)
        return nullptr;
    m_firstSector = ntfs->m_u64FirstSector;
    m_sectorsPerCluster = ntfs->m_sectorsPerCluster;
    MakeGroups();
    m_loose.tempRoot = CreateFileNode();
    m_loose.arena = &m_arena;
    NtfsMftInfo looseInfo; // no extents: loose entries know their numbers from their headers
    m_loose.mft = &looseInfo;
    for (auto& g : m_groups)
        g->list.tempRoot = CreateFileNode();

    const bool read = ReadFoundMftRecords();
    IDIRBuildCallback* cb = Callback();
    std::uint64_t total = m_loose.entries.size();
    for (auto& g : m_groups)
        total += g->list.entries.size();
    bool cancelled = !read;
    if (!cancelled && m_callback &&
        Cancelled(m_callback, m_callback->BeginStage(
            "NTFS:Building directory tree",
            static_cast<std::int32_t>(std::min<std::uint64_t>(total, INT32_MAX)))))
        cancelled = true;

    CSearchedPartitionInfo volume;
    volume.m_u64FirstSector = m_firstSector;
    volume.m_sectorsPerCluster = m_sectorsPerCluster;
    FileTreePtr root;
    if (!cancelled) {
        char label[100] = {};
        const bool haveLabel =
            ntfs->m_u64MftRecordSector != kNtfsUnknown &&
            ReadNtfsVolumeRecordLabel(*m_device, ntfs->m_u64MftRecordSector, kNtfsRecordSize, label);
        root = CreateNtfsRootNode(m_firstSector, m_sectorsPerCluster,
                                  static_cast<int>(m_partitionIndex),
                                  haveLabel && label[0] ? label : nullptr);
        for (auto& g : m_groups) {
            if (!LinkNtfsTree(&g->list, volume, cb, &m_lostFilesCounter)) {
                cancelled = true;
                break;
            }
            MoveChildren(g->list.tempRoot, root.get());
        }
        if (!cancelled && !m_loose.entries.empty()) {
            if (LinkNtfsTree(&m_loose, volume, cb, &m_lostFilesCounter))
                MoveChildren(m_loose.tempRoot, root.get());
            else
                cancelled = true;
        }
    }
    if (root) {
        ForgetSourceRecords(root.get());
        if (!cancelled && !Cancelled(cb, cb->Poll())) {
            // The map has one bit per cluster of the partition as far as the device holds it;
            // a count from a damaged record or saved file never sizes it alone.
            const std::uint64_t deviceSectors = m_device->GetSectorCount();
            std::uint64_t clusters = deviceSectors > m_firstSector
                                         ? (deviceSectors - m_firstSector) / m_sectorsPerCluster
                                         : 0;
            if (ntfs->m_u64ClusterCount != kNtfsUnknown)
                clusters = std::min(clusters, ntfs->m_u64ClusterCount);
            const CNTFSFileProperties* bitmap = nullptr;
            for (auto& g : m_groups)
                if (!bitmap)
                    bitmap = FindNtfsBitmapEntry(g->list);
            if (!bitmap)
                bitmap = FindNtfsBitmapEntry(m_loose);
            FlagNtfsCrossLinks(root.get(), m_device, bitmap, clusters);
            if (FileTreePtr carved = ScanUnusedClustersForRawFiles(root.get(), m_device, clusters,
                                                                   m_carved, m_callback))
                root->AddChild(carved.release());
        }
        if (!root->m_pFirstChild)
            root.reset();
    }
    m_loose.mft = nullptr;
    return root;
}

void CNtfsFoundTreeBuilder::Run() {
    m_result = Build();
    m_done.store(true, std::memory_order_release);
}

FileTreePtr BuildFoundNtfsFileTree(CNtfsFoundTreeBuilder* builder,
                                   CSearchedPartitionInfo* partition, CRawFileList* carved,
                                   IStorageDevice* device, std::uint32_t partitionIndex,
                                   IDIRBuildCallback* callback) {
    if (!builder)
        return nullptr;
    builder->m_partition = partition;
    builder->m_carved = carved;
    builder->m_device = device;
    builder->m_partitionIndex = partitionIndex;
    builder->m_callback = callback;
    builder->m_result.reset();
    builder->m_done.store(false);
    if (!platform::RunWorker(builder->m_done, [builder] { builder->Run(); }, 0))
        return nullptr;
    return std::move(builder->m_result);
}

std::unique_ptr<CClusterUseBitMap> CreateNtfsClusterUseBitMap(CFileNode* root,
                                                              std::vector<std::uint64_t>* bits,
                                                              std::uint64_t clusterCount) {
    return CreateClusterUseBitMap(
        root, bits, clusterCount, [](const IFileProperties& props, CClusterUseBitMap& map) {
            const auto* ntfs = dynamic_cast<const CNTFSFileProperties*>(&props);
            if (!ntfs || ntfs->GetRecordSector() < map.GetFirstSector())
                return;
            const std::uint64_t cluster =
                (ntfs->GetRecordSector() - map.GetFirstSector()) / map.GetSectorsPerCluster();
            map.MarkCluster(cluster);
            if (map.GetSectorsPerCluster() == 1)
                map.MarkCluster(cluster + 1); // the record's second sector
        });
}

FileTreePtr ScanUnusedClustersForRawFiles(CFileNode* root, IStorageDevice* device,
                                          std::uint64_t clusterCount, CRawFileList* carved,
                                          IDIRBuildCallback* callback) {
    if (!root || !device || !carved || (callback && callback->Poll() == -1))
        return nullptr;
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateNtfsClusterUseBitMap(root, &bits, clusterCount);
    if (!map)
        return nullptr;
    CRawFileTreeBuilder builder;
    FileTreePtr folder = builder.Build(device, carved->GetIterator(), map.get(), callback);
    if (folder && !folder->m_pFirstChild)
        folder.reset();
    return folder;
}
