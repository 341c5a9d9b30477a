#include "recovery/ScanStateSections.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <utility>

#include "carving/RAWFileProperties.h"
#include "carving/RAWSearchController.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "filesystems/probes/FileSystems.h"
#include "logging/Log.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/ByteSpan.h"
#include "storage/DeviceBounds.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"

namespace {

constexpr std::uint32_t kEndOfFolder = 0xFFFFFFFF;
constexpr std::uint32_t kTreeMarker = 1;

[[noreturn]] void BadRecord() {
    throw CRSException(RSERR_BAD_HEADER);
}

void LogStoreError(const IRSException& e) {
    ReleaseTrace("RS Exception:%d", e.GetErrorCode());
}

// Copies a fixed text field into `out` (size bytes) and keeps it 0-terminated.
void CopyText(char* out, std::size_t size, const std::uint8_t* in, std::size_t inSize) {
    std::memset(out, 0, size);
    std::memcpy(out, in, std::min(size, inSize));
    out[size - 1] = '\0';
}

void PutBytes(const MutableByteSpan& out, std::size_t offset, const void* data, std::size_t n) {
    if (out.has(offset, n))
        std::memcpy(out.data() + offset, data, n);
}

// A text field of `size` bytes; the stored text stays 0-terminated inside it.
void PutText(const MutableByteSpan& out, std::size_t offset, const char* text, std::size_t size) {
    PutBytes(out, offset, text, strnlen(text, size - 1));
}

// Members of a volume record as the file keeps them: the entries up to the first without a
// disk or with no sectors (a stored entry has no disk pointer; its sector count marks it
// used); a table with all 32 entries used counts as none.
std::uint32_t StoredMemberCount(const VolumeRecord& r) {
    std::uint32_t n = 0;
    while (n < kMaxMemberExtents && r.members[n].pDisk && r.members[n].u64SectorCount)
        ++n;
    return n == kMaxMemberExtents ? 0 : n;
}

} // namespace

// ---- Controller chain --------------------------------------------------------------------

int SaveControllerChain(IRSData* store, const std::vector<std::uint32_t>& types) {
    std::vector<std::uint32_t> kept;
    for (std::uint32_t t : types)
        if (t < WIZARD_NOT_PERSISTED)
            kept.push_back(t);
    store->OpenSection(kControllerChainSection);
    RSWriteValue<std::uint32_t>(store, static_cast<std::uint32_t>(kept.size()));
    for (std::uint32_t t : kept)
        RSWriteValue<std::uint32_t>(store, t);
    store->CloseSection();
    return 1;
}

int RecreateControllerChain(IRSData* store, std::uint32_t limit, std::vector<std::uint32_t>& out) {
    out.clear();
    try {
        store->OpenSection(kControllerChainSection);
        const std::uint32_t count = RSReadValue<std::uint32_t>(store);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t type = RSReadValue<std::uint32_t>(store);
            if (type >= WIZARD_NOT_PERSISTED)
                BadRecord();
            if (type <= limit)
                out.push_back(type);
        }
        store->CloseSection();
    } catch (const IRSException& e) {
        LogStoreError(e);
        out.clear();
        throw;
    }
    return 1;
}

// ---- Search controllers ------------------------------------------------------------------

std::unique_ptr<IFileSystemSearchController> CreateSearchControllerByKind(std::uint32_t kind) {
    if (kind == SEARCH_CONTROLLER_RAW)
        return std::make_unique<CRAWSearchController>();
    const FileSystemDescriptor* fs = FindFileSystemBySearchController(kind);
    return std::unique_ptr<IFileSystemSearchController>(fs ? fs->newSearchController() : nullptr);
}

int SaveSearchControllers(IRSData* store, const std::vector<IFileSystemSearchController*>& list) {
    store->OpenSection(kSearchControllersSection);
    RSWriteValue<std::uint64_t>(store, list.size());
    for (IFileSystemSearchController* c : list) {
        RSWriteValue<std::uint32_t>(store, c->GetKind());
        c->SaveState(store);
    }
    store->CloseSection();
    return 1;
}

int LoadSearchControllers(IRSData* store, SearchControllerList& list) {
    const std::size_t before = list.size();
    try {
        store->OpenSection(kSearchControllersSection);
        const std::uint64_t count = RSReadValue<std::uint64_t>(store);
        for (std::uint64_t i = 0; i < count; ++i) {
            auto controller = CreateSearchControllerByKind(RSReadValue<std::uint32_t>(store));
            if (!controller)
                BadRecord();
            controller->LoadState(store);
            list.push_back(std::move(controller));
        }
        store->CloseSection();
    } catch (const IRSException& e) {
        LogStoreError(e);
        list.resize(before);
        throw;
    }
    return 1;
}

// ---- Searched partitions -----------------------------------------------------------------

std::unique_ptr<CSearchedPartitionInfo> CreateSearchedPartitionInfoByKind(std::uint32_t kind) {
    if (kind == SEARCHED_PARTITION_BASE)
        return std::make_unique<CSearchedPartitionInfo>();
    const FileSystemDescriptor* fs = FindFileSystemBySearchedPartition(kind);
    return std::unique_ptr<CSearchedPartitionInfo>(fs ? fs->newSearchedPartition() : nullptr);
}

int SaveSearchedPartitions(IRSData* store, const std::vector<CSearchedPartitionInfo*>& list) {
    store->OpenSection(kSearchedPartitionsSection);
    RSWriteValue<std::uint64_t>(store, list.size());
    for (const CSearchedPartitionInfo* p : list) {
        RSWriteValue<std::uint32_t>(store, p->GetKind());
        p->Save(store);
    }
    store->CloseSection();
    return 1;
}

int LoadSearchedPartitions(IRSData* store, SearchedPartitionList& list) {
    list.clear();
    try {
        store->OpenSection(kSearchedPartitionsSection);
        const std::uint64_t count = RSReadValue<std::uint64_t>(store);
        for (std::uint64_t i = 0; i < count; ++i) {
            auto record = CreateSearchedPartitionInfoByKind(RSReadValue<std::uint32_t>(store));
            if (!record)
                BadRecord();
            record->Load(store);
            list.push_back(std::move(record));
        }
        store->CloseSection();
    } catch (const IRSException& e) {
        LogStoreError(e);
        list.clear();
        throw;
    }
    return 1;
}

// ---- File properties ---------------------------------------------------------------------

namespace {

constexpr std::uint16_t kMaxProgramFolderName = sizeof(MyFilePropertiesRecord::name) - 1;

void SaveProgramFolderRecord(IRSData* store, const IFileProperties* p) {
    const char* name = p ? p->GetName() : nullptr;
    const std::uint16_t length =
        name ? static_cast<std::uint16_t>(strnlen(name, kMaxProgramFolderName)) : 0;
    RSWriteValue<std::uint16_t>(store, length);
    if (length)
        store->Write(name, length);
    RSWriteValue<std::uint64_t>(store, p ? p->GetFileSize() : 0);
    RSWriteValue<std::uint16_t>(store, p ? p->GetAttributes() : std::uint16_t{FILEATTR_DIRECTORY});
    RSWriteValue<std::uint8_t>(store, p ? p->GetFileState() : 0);
    RSWriteValue<std::uint32_t>(store, p ? p->GetValidFields() : 0);
}

std::unique_ptr<IFileProperties> LoadProgramFolderRecord(IRSData* store) {
    MyFilePropertiesRecord record;
    const std::uint16_t length = RSReadValue<std::uint16_t>(store);
    if (length > kMaxProgramFolderName)
        BadRecord();
    if (length)
        store->Read(record.name, length);
    record.nameLength = length;
    record.size = RSReadValue<std::uint64_t>(store);
    record.attributes = RSReadValue<std::uint16_t>(store);
    record.entryState = RSReadValue<std::uint8_t>(store);
    record.validFields = RSReadValue<std::uint32_t>(store);
    auto p = std::unique_ptr<CMyFileProperties>(CreateMyFileProperties());
    p->SetRecord(record);
    return p;
}

} // namespace

int SaveFileProperties(IRSData* store, const IFileProperties* properties) {
    const std::uint32_t kind = properties ? properties->GetFileSystemKind() : FILEPROPS_VIEW;
    RSWriteValue<std::uint32_t>(store, kind);
    if (kind == FILEPROPS_VIEW)
        SaveProgramFolderRecord(store, properties);
    else
        properties->Save(store);
    return 1;
}

std::unique_ptr<IFileProperties> LoadFileProperties(IRSData* store) {
    try {
        const std::uint32_t kind = RSReadValue<std::uint32_t>(store);
        if (kind == FILEPROPS_VIEW)
            return LoadProgramFolderRecord(store);
        std::unique_ptr<IFileProperties> p;
        if (kind == FILEPROPS_RAW) {
            p.reset(CreateRAWFileProperties());
        } else {
            const FileSystemDescriptor* fs = FindFileSystemByFileProperties(kind);
            if (!fs)
                BadRecord();
            p.reset(fs->newFileProperties());
        }
        if (!p)
            BadRecord();
        p->Load(store);
        return p;
    } catch (const IRSException& e) {
        ReleaseTrace("RS Exception:%d\n", e.GetErrorCode());
        throw;
    }
}

// ---- File tree ---------------------------------------------------------------------------

namespace {

// Positions 40 to 90 of a 0-100 bar; moves only forward.
class TreeProgress {
public:
    explicit TreeProgress(IDIRBuildCallback* cb) : m_cb(cb) {}
    void Advance(std::uint64_t numerator, std::uint64_t denominator) {
        std::uint64_t next = m_pos + 1;
        if (m_pos > 44 && denominator)
            next = numerator / denominator + 40;
        next = std::clamp<std::uint64_t>(next, 40, 90);
        if (next > m_pos) {
            m_pos = next;
            if (m_cb)
                m_cb->SetPos(static_cast<std::int32_t>(m_pos));
        }
    }
    void Poll() {
        if (m_cb)
            m_cb->Poll();
    }

private:
    IDIRBuildCallback* m_cb;
    std::uint64_t m_pos = 40;
};

bool IsDirectory(const CFileNode* node) {
    return node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
}

} // namespace

int SaveFileTree(IRSData* store, CFileSystemNode* root, IDIRBuildCallback* progress) {
    store->OpenSection(kFileTreeSection);
    RSWriteValue<std::uint32_t>(store, kTreeMarker);
    root->Save(store);
    SaveFileProperties(store, root->m_pProperties);

    TreeProgress bar(progress);
    std::deque<CFileNode*> queue{root};
    std::uint64_t taken = 0;
    std::vector<CFileNode*> children;
    while (!queue.empty()) {
        bar.Advance(taken * 50 + 50, 2 * queue.size());
        CFileNode* folder = queue.front();
        queue.pop_front();
        ++taken;
        children.clear();
        for (CFileNode* c = folder->m_pFirstChild; c; c = c->m_pNextSibling)
            children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            CFileNode* child = *it;
            if (!child->m_pProperties)
                continue; // nothing to describe it by; its subtree stays out too
            RSWriteValue<std::uint32_t>(store, child->IsFolder() ? 1u : 0u);
            child->Save(store);
            SaveFileProperties(store, child->m_pProperties);
            if (IsDirectory(child))
                queue.push_back(child);
            bar.Poll();
        }
        RSWriteValue<std::uint32_t>(store, kEndOfFolder);
    }
    store->CloseSection();
    return 1;
}

FileTreePtr LoadFileTree(IRSData* store, IDIRBuildCallback* progress) {
    FileTreePtr root;
    try {
        store->OpenSection(kFileTreeSection);
        if (RSReadValue<std::uint32_t>(store) != kTreeMarker)
            return nullptr;
        root.reset(CreateFileSystemNode());
        root->Load(store);
        root->SetProperties(LoadFileProperties(store));

        TreeProgress bar(progress);
        std::deque<CFileNode*> queue{root.get()};
        std::uint64_t taken = 0;
        while (!queue.empty()) {
            CFileNode* folder = queue.front();
            queue.pop_front();
            ++taken;
            bar.Advance(taken * 50, queue.size() + taken);
            for (;;) {
                const std::uint32_t marker = RSReadValue<std::uint32_t>(store);
                if (marker == kEndOfFolder)
                    break;
                std::unique_ptr<CFileNode> node;
                if (marker == 0)
                    node.reset(CreateFileNode());
                else if (marker == 1)
                    node.reset(CreateFileSystemNode());
                else
                    BadRecord();
                node->Load(store);
                node->SetProperties(LoadFileProperties(store));
                CFileNode* child = node.release();
                folder->AddChild(child);
                if (IsDirectory(child))
                    queue.push_back(child);
                bar.Poll();
            }
        }
        store->CloseSection();
    } catch (const IRSException& e) {
        LogStoreError(e);
        throw; // the partial tree goes with `root`
    }
    return root;
}

// ---- Found partitions --------------------------------------------------------------------

void SaveFoundPartitionRecord(IRSData* store, const FoundPartitionInfo& record) {
    RSWriteValue<std::uint64_t>(store, record.u64FirstSector);
    RSWriteValue<std::uint64_t>(store, record.u64SectorCount);
    std::uint8_t label[kFoundPartitionLabelBytes] = {};
    std::memcpy(label, record.szVolumeLabel, kFoundPartitionLabelBytes);
    store->Write(label, kFoundPartitionLabelBytes);
    RSWriteValue<std::uint32_t>(store, record.fileSystemType);
    const std::uint64_t windowFirst = record.pDevice ? record.pDevice->GetStartSector() : 0;
    const std::uint64_t windowCount = record.pDevice ? record.pDevice->GetSectorCount() : 0;
    RSWriteValue<std::uint64_t>(store, windowFirst);
    RSWriteValue<std::uint64_t>(store, windowCount);
}

std::unique_ptr<FoundPartitionInfo> LoadFoundPartitionRecord(IRSData* store,
                                                             IStorageDevice* device) {
    auto record = std::make_unique<FoundPartitionInfo>();
    record->u64FirstSector = RSReadValue<std::uint64_t>(store);
    record->u64SectorCount = RSReadValue<std::uint64_t>(store);
    std::uint8_t label[kFoundPartitionLabelBytes];
    store->Read(label, kFoundPartitionLabelBytes);
    std::memcpy(record->szVolumeLabel, label, kFoundPartitionLabelBytes);
    const std::uint32_t type = RSReadValue<std::uint32_t>(store);
    if (type > FILESYSTEM_UNKNOWN)
        BadRecord();
    record->fileSystemType = static_cast<FileSystemType>(type);
    const std::uint64_t windowFirst = RSReadValue<std::uint64_t>(store);
    const std::uint64_t windowCount = RSReadValue<std::uint64_t>(store);
    if (windowFirst + windowCount < windowFirst ||
        record->u64FirstSector + record->u64SectorCount < record->u64FirstSector)
        BadRecord();
    if (device)
        record->pDevice = std::make_unique<CBasicPartitionDevice>(device, windowFirst, windowCount);
    return record;
}

int SaveFoundPartitionList(IRSData* store, const std::vector<const FoundPartitionInfo*>& list,
                           const FoundPartitionInfo* selected) {
    store->OpenSection(kFoundPartitionsSection);
    RSWriteValue<std::uint32_t>(store, static_cast<std::uint32_t>(list.size()));
    std::uint32_t index = kNoSelection;
    for (std::size_t i = 0; i < list.size(); ++i) {
        SaveFoundPartitionRecord(store, *list[i]);
        if (selected && list[i] == selected && index == kNoSelection)
            index = static_cast<std::uint32_t>(i);
    }
    RSWriteValue<std::uint32_t>(store, index);
    store->CloseSection();
    return 1;
}

int LoadFoundPartitionList(IRSData* store, FoundPartitionList& list, FoundPartitionInfo** selected,
                           IStorageDevice* device) {
    list.clear();
    if (selected)
        *selected = nullptr;
    try {
        store->OpenSection(kFoundPartitionsSection);
        const std::uint32_t count = RSReadValue<std::uint32_t>(store);
        for (std::uint32_t i = 0; i < count; ++i)
            list.push_back(LoadFoundPartitionRecord(store, device));
        const std::uint32_t index = RSReadValue<std::uint32_t>(store);
        if (selected && index < list.size())
            *selected = list[index].get();
        store->CloseSection();
        if (device)
            FitFoundPartitionsToDevice(list, selected, device->GetSectorCount());
    } catch (const IRSException& e) {
        LogStoreError(e);
        list.clear();
        if (selected)
            *selected = nullptr;
        throw;
    }
    return 1;
}

// ---- A restored state against its device ------------------------------------------------

namespace {

// The size a carved file starting at `startSector` may claim.
std::uint64_t CapCarvedSize(std::uint64_t size, std::uint64_t startSector, std::uint64_t deviceSectors,
                            std::uint64_t maxFileSize) {
    const std::uint64_t capped = std::min(CapSizeToDevice(size, deviceSectors, startSector), maxFileSize);
    if (capped != size)
        ReleaseTrace("Restored carved file at sector %" PRIu64 ": size %" PRIu64 " cut to %" PRIu64,
                     startSector, size, capped);
    return capped;
}

void LogPastEnd(const char* what, std::uint64_t startSector, std::uint64_t deviceSectors) {
    ReleaseTrace("Restored %s at sector %" PRIu64 " starts past the device's end (%" PRIu64
                 " sectors): dropped",
                 what, startSector, deviceSectors);
}

} // namespace

std::size_t FitCarvedFilesToDevice(CRawFileList& list, std::uint64_t deviceSectors,
                                   std::uint64_t maxFileSize) {
    const std::size_t dropped = list.DropWhere([&](const CRawFileInfo& r) {
        if (r.m_u64StartSector < deviceSectors)
            return false;
        LogPastEnd("carved file", r.m_u64StartSector, deviceSectors);
        return true;
    });
    for (CRawFileInfo* r : list.Records()) {
        const std::uint64_t claimed = std::max(r->m_u64Size, r->m_u64ClaimedSize);
        r->m_u64Size = CapCarvedSize(claimed, r->m_u64StartSector, deviceSectors, maxFileSize);
        r->m_u64ClaimedSize = claimed > r->m_u64Size ? claimed : 0;
    }
    return dropped;
}

std::size_t FitSearchedPartitionsToDevice(SearchedPartitionList& list, std::uint64_t deviceSectors) {
    const std::size_t before = list.size();
    std::erase_if(list, [&](const std::unique_ptr<CSearchedPartitionInfo>& p) {
        if (p->m_u64FirstSector < deviceSectors)
            return false;
        LogPastEnd("partition", p->m_u64FirstSector, deviceSectors);
        return true;
    });
    for (auto& p : list) {
        // Not a number compares false both ways and becomes 0.
        const double score = p->m_relativeScore;
        p->m_relativeScore = score >= 0.0 ? std::min(score, 1.0) : 0.0;
    }
    return before - list.size();
}

std::size_t FitFoundPartitionsToDevice(FoundPartitionList& list, FoundPartitionInfo** selected,
                                       std::uint64_t deviceSectors) {
    const std::size_t before = list.size();
    std::erase_if(list, [&](const std::unique_ptr<FoundPartitionInfo>& p) {
        const bool windowPast = p->pDevice && p->pDevice->GetStartSector() >= deviceSectors;
        if (p->u64FirstSector < deviceSectors && !windowPast)
            return false;
        LogPastEnd("found partition", p->u64FirstSector, deviceSectors);
        if (selected && *selected == p.get())
            *selected = nullptr;
        return true;
    });
    for (auto& p : list) {
        const std::uint64_t room = deviceSectors - p->u64FirstSector;
        if (p->u64SectorCount > room) {
            ReleaseTrace("Restored found partition at sector %" PRIu64 ": %" PRIu64
                         " sectors cut to %" PRIu64,
                         p->u64FirstSector, p->u64SectorCount, room);
            p->u64SectorCount = room;
        }
        if (p->pDevice) {
            const std::uint64_t first = p->pDevice->GetStartSector();
            if (p->pDevice->GetSectorCount() > deviceSectors - first)
                p->pDevice = std::make_unique<CBasicPartitionDevice>(p->pDevice->GetInnerDevice(), first,
                                                                     deviceSectors - first);
        }
    }
    return before - list.size();
}

std::size_t FitFileTreeToDevice(CFileSystemNode* root, std::uint64_t deviceSectors,
                                std::uint64_t maxFileSize) {
    if (!root)
        return 0;
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root, nodes);
    std::size_t dropped = 0;
    for (CFileNode* node : nodes) {
        // The type folders of "Raw Files" are file nodes with the folder attribute.
        auto* raw = node->IsFolder() || IsDirectory(node)
                        ? nullptr
                        : dynamic_cast<CRAWFileProperties*>(node->m_pProperties.get());
        if (!raw)
            continue;
        const std::unique_ptr<IDataRunList> runs(raw->GetDataRunList());
        if (!runs || runs->GetRunCount() == 0)
            continue;
        const DataRun first = runs->Runs().front();
        if (first.start < 0 || static_cast<std::uint64_t>(first.start) >= deviceSectors) {
            LogPastEnd("carved file", static_cast<std::uint64_t>(first.start), deviceSectors);
            if (node->m_pParent && UnlinkChildNode(node->m_pParent, node)) {
                DeleteFileTree(node);
                ++dropped;
            }
            continue;
        }
        // A carved file is one run from its start; anything else is rebuilt from the size.
        const auto start = static_cast<std::uint64_t>(first.start);
        const std::uint64_t stored = raw->m_u64Size;
        const std::uint64_t size = CapCarvedSize(stored, start, deviceSectors, maxFileSize);
        const auto sectors = static_cast<std::int64_t>(size / kSectorSize + (size % kSectorSize != 0));
        if (size != stored || runs->GetRunCount() != 1 || first.count != sectors)
            raw->SetExtent(start, size);
        // A cut file stores the size it claims: a size the device or the largest carved size
        // cannot hold leaves the file cut, for that reason.
        raw->SetClaimedSize(stored, FitCarvedSize(stored, start, deviceSectors, maxFileSize).cut);
    }
    root->RecountCounters();
    return dropped;
}

// ---- Records of disks and volumes --------------------------------------------------------

void EncodeDiskRecord(const DiskRecord& r, std::uint8_t out[kDiskRecordSize]) {
    std::memset(out, 0, kDiskRecordSize);
    MutableByteSpan s(out, kDiskRecordSize);
    s.put32(0, r.kind);
    // offset 4: device pointer slot, written as zero
    s.put32(8, r.headsPerCylinder);
    if (r.kind == DISKRECORD_DISK) {
        s.put32(12, r.isUsb);
        // offset 16: disk pointer slot, written as zero
        PutText(s, 20, r.szText, kDiskRecordTextSize);
    } else {
        s.put32(12, r.imageId);
        PutText(s, 16, r.szDisplayName, 260);
        s.put64(276, r.u64SectorCount);
        PutText(s, 284, r.szImagePath, 260);
    }
}

bool DecodeDiskRecord(const std::uint8_t in[kDiskRecordSize], DiskRecord* r) {
    ByteSpan s(in, kDiskRecordSize);
    const std::uint32_t kind = s.u32(0);
    if (kind != DISKRECORD_DISK && kind != DISKRECORD_IMAGE)
        return false;
    *r = DiskRecord{};
    r->kind = kind;
    r->headsPerCylinder = s.u32(8);
    if (kind == DISKRECORD_DISK) {
        r->isUsb = s.u32(12);
        CopyText(r->szText, sizeof(r->szText), in + 20, kDiskRecordTextSize);
    } else {
        r->imageId = s.u32(12);
        CopyText(r->szDisplayName, sizeof(r->szDisplayName), in + 16, 260);
        r->u64SectorCount = s.u64(276);
        CopyText(r->szImagePath, sizeof(r->szImagePath), in + 284, 260);
    }
    return true;
}

void EncodeVolumeRecord(const VolumeRecord& r, std::uint8_t out[kVolumeRecordSize]) {
    std::memset(out, 0, kVolumeRecordSize);
    MutableByteSpan s(out, kVolumeRecordSize);
    s.put32(0, r.form);
    // offset 4: device pointer slot, written as zero
    if (r.form == 0) {
        s.put32(8, r.isDynamic);
        s.put32(12, r.fileSystemType);
        s.put8(16, static_cast<std::uint8_t>(r.cDriveLetter));
        PutText(s, 17, r.szVolumeLabel, kVolumeRecordLabelSize);
        s.put32(117, r.isFloppy);
        s.put32(121, r.isUsb);
        const std::uint32_t members = StoredMemberCount(r);
        for (std::uint32_t i = 0; i < members; ++i) {
            // the disk pointer slot (offset 141 + 20 i) stays zero
            s.put64(125 + 20 * i, r.members[i].u64FirstSector);
            s.put64(133 + 20 * i, r.members[i].u64SectorCount);
        }
        PutText(s, 765, r.szParentDisk, kParentDiskTextSize);
    } else {
        s.put32(8, r.u32ImageId);
        PutText(s, 12, r.szImageDisplayName, 260);
        s.put64(272, r.u64ImageSectorCount);
        PutText(s, 280, r.szImagePath, 260);
    }
}

bool DecodeVolumeRecord(const std::uint8_t in[kVolumeRecordSize], VolumeRecord* r) {
    ByteSpan s(in, kVolumeRecordSize);
    const std::uint32_t form = s.u32(0);
    if (form > 1)
        return false;
    *r = VolumeRecord{};
    r->form = form;
    if (form == 0) {
        r->isDynamic = s.u32(8);
        r->fileSystemType = s.u32(12);
        r->cDriveLetter = static_cast<char>(s.u8(16));
        CopyText(r->szVolumeLabel, sizeof(r->szVolumeLabel), in + 17, kVolumeRecordLabelSize);
        r->isFloppy = s.u32(117);
        r->isUsb = s.u32(121);
        for (int i = 0; i < kMaxMemberExtents; ++i) {
            r->members[i].u64FirstSector = s.u64(125 + 20 * i);
            r->members[i].u64SectorCount = s.u64(133 + 20 * i);
        }
        CopyText(r->szParentDisk, sizeof(r->szParentDisk), in + 765, kParentDiskTextSize);
    } else {
        r->u32ImageId = s.u32(8);
        CopyText(r->szImageDisplayName, sizeof(r->szImageDisplayName), in + 12, 260);
        r->u64ImageSectorCount = s.u64(272);
        CopyText(r->szImagePath, sizeof(r->szImagePath), in + 280, 260);
    }
    return true;
}

// ---- Disk identity -----------------------------------------------------------------------

bool BuildDeviceDescriptor(IStorageDevice* disk, std::uint8_t identity[kDiskIdentitySize]) {
    std::memset(identity, 0, kDiskIdentitySize);
    if (!disk)
        return false;
    if (auto* d = dynamic_cast<CDiskDevice*>(disk)) {
        DiskDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof(descriptor));
        if (d->QueryDeviceDescriptor(&descriptor)) {
            MutableByteSpan s(identity, kDiskIdentitySize);
            s.put32(0, descriptor.busType);
            PutBytes(s, 4, descriptor.vendor, 260);
            PutBytes(s, 264, descriptor.product, 260);
            PutBytes(s, 524, descriptor.productRevision, 260);
            PutBytes(s, 784, descriptor.serialNumber, 260);
            PutBytes(s, 1044, descriptor.busTypeName, 260);
        }
    }
    std::uint8_t sector[512] = {};
    if (!disk->ReadSectors(sector, 0, 1))
        return false;
    std::memset(sector + 446, 0, 64);
    std::memcpy(identity + 1304, sector, 512);
    return true;
}

namespace {

using Identity = std::vector<std::uint8_t>;

Identity ReadIdentity(IRSData* store) {
    Identity id(kDiskIdentitySize);
    store->Read(id.data(), kDiskIdentitySize);
    return id;
}

bool IdentityOf(IStorageDevice* disk, const DiskIdentityReader& reader, Identity& out) {
    out.assign(kDiskIdentitySize, 0);
    return disk && reader(disk, out.data());
}

} // namespace

int StoreDeviceIdentity(const DiskRecord& record, IRSData* store,
                        const DiskIdentityReader& identity) {
    std::uint8_t bytes[kDiskRecordSize];
    EncodeDiskRecord(record, bytes);
    store->OpenSection(kDiskIdentitySection);
    store->Write(bytes, kDiskRecordSize);
    if (record.kind == DISKRECORD_DISK) {
        Identity id;
        IdentityOf(record.pDevice, identity, id);
        store->Write(id.data(), kDiskIdentitySize);
    }
    store->CloseSection();
    return 1;
}

namespace {

// Opens the ".edi" at `path` again; null when it does not open whole.
std::unique_ptr<IStorageDevice> ReopenImage(const char* path) {
    if (!path[0])
        return nullptr;
    auto image = std::make_unique<CImageFileDeviceWithDecompress>(path);
    if (!image->CheckSliceFiles() || image->GetSectorCount() == 0)
        return nullptr;
    return image;
}

} // namespace

DiskRecord* FindStoredDevice(IRSData* store, DiskRecordList& list,
                             const DiskIdentityReader& identity) {
    try {
        store->OpenSection(kDiskIdentitySection);
        std::uint8_t bytes[kDiskRecordSize];
        store->Read(bytes, kDiskRecordSize);
        auto stored = std::make_unique<DiskRecord>();
        if (!DecodeDiskRecord(bytes, stored.get()))
            BadRecord();
        if (stored->kind == DISKRECORD_IMAGE) {
            store->CloseSection();
            for (auto& r : list)
                if (r->kind == DISKRECORD_IMAGE &&
                    std::strcmp(r->szImagePath, stored->szImagePath) == 0)
                    return r.get();
            stored->ownedDevice = ReopenImage(stored->szImagePath);
            if (!stored->ownedDevice)
                return nullptr;
            stored->pDevice = stored->ownedDevice.get();
            list.push_back(std::move(stored));
            return list.back().get();
        }
        const Identity wanted = ReadIdentity(store);
        store->CloseSection();
        DiskRecord* found = nullptr;
        Identity id;
        for (auto& r : list) {
            if (r->kind != DISKRECORD_DISK || !IdentityOf(r->pDevice, identity, id) || id != wanted)
                continue;
            if (found) {
                ReleaseTrace("The stored disk matches more than one disk; none is chosen.");
                return nullptr;
            }
            found = r.get();
        }
        return found;
    } catch (const IRSException& e) {
        LogStoreError(e);
        throw;
    }
}

int WriteVolumeDiskIdentities(const VolumeRecord& record, IRSData* store,
                              const DiskIdentityReader& identity) {
    const std::uint32_t n = StoredMemberCount(record);
    Identity id;
    for (std::uint32_t i = 0; i < n; ++i) {
        IdentityOf(record.members[i].pDisk, identity, id);
        store->Write(id.data(), kDiskIdentitySize);
    }
    return 1;
}

int StoreVolumeIdentity(const VolumeRecord& record, IRSData* store,
                        const DiskIdentityReader& identity) {
    std::uint8_t bytes[kVolumeRecordSize];
    EncodeVolumeRecord(record, bytes);
    store->OpenSection(kVolumeIdentitySection);
    store->Write(bytes, kVolumeRecordSize);
    if (record.form == 0)
        WriteVolumeDiskIdentities(record, store, identity);
    store->CloseSection();
    return 1;
}

VolumeRecord* FindStoredVolume(IRSData* store, const VolumeList& volumes, VolumeList& images,
                               const DiskIdentityReader& identity) {
    try {
        store->OpenSection(kVolumeIdentitySection);
        std::uint8_t bytes[kVolumeRecordSize];
        store->Read(bytes, kVolumeRecordSize);
        auto stored = std::make_unique<VolumeRecord>();
        if (!DecodeVolumeRecord(bytes, stored.get()))
            BadRecord();
        if (stored->form == 1) {
            store->CloseSection();
            for (const auto& r : images)
                if (r && r->form == 1 && std::strcmp(r->szImagePath, stored->szImagePath) == 0)
                    return r.get();
            auto device = ReopenImage(stored->szImagePath);
            if (!device)
                return nullptr;
            stored->AdoptDevice(std::move(device));
            return images.emplace_back(std::move(stored)).get();
        }
        // The stored member table: the entries up to the first without sectors.
        std::uint32_t members = 0;
        while (members < kMaxMemberExtents && stored->members[members].u64SectorCount)
            ++members;
        if (members == kMaxMemberExtents)
            members = 0;
        std::vector<Identity> wanted;
        for (std::uint32_t i = 0; i < members; ++i)
            wanted.push_back(ReadIdentity(store));
        store->CloseSection();

        VolumeRecord* found = nullptr;
        Identity id;
        for (const auto& r : volumes) {
            if (!r || r->form != 0 || r->isFloppy != stored->isFloppy ||
                r->isUsb != stored->isUsb || r->cDriveLetter != stored->cDriveLetter ||
                r->isDynamic != stored->isDynamic || r->fileSystemType != stored->fileSystemType ||
                StoredMemberCount(*r) != members)
                continue;
            bool same = true;
            for (std::uint32_t i = 0; same && i < members; ++i) {
                const MemberExtent& m = r->members[i];
                same = m.u64FirstSector == stored->members[i].u64FirstSector &&
                       m.u64SectorCount == stored->members[i].u64SectorCount &&
                       IdentityOf(m.pDisk, identity, id) && id == wanted[i];
            }
            if (!same)
                continue;
            if (found) {
                ReleaseTrace("The stored volume matches more than one volume; none is chosen.");
                return nullptr;
            }
            found = r.get();
        }
        return found;
    } catch (const IRSException& e) {
        LogStoreError(e);
        throw;
    }
}
