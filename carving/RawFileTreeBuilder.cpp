#include "carving/RawFileTreeBuilder.h"

#include "carving/analysers/AnalyserCalls.h"
#include "carving/RAWFileProperties.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SizedFileCover.h"
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"
#include "storage/DeviceBounds.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

CRAWFileProperties* FolderProperties(const char* name) {
    CRAWFileProperties* p = CreateRAWFileProperties();
    if (!p)
        return nullptr;
    p->SetName(name);
    p->m_u16Attributes = FILEATTR_DIRECTORY;
    p->m_state = FILESTATE_RAW_MADE_FOLDER;
    CRAWDataRunList runs;
    runs.AddRun(kSparseRunStart, 0);
    p->m_runRecord = CreateRunListRecord(&runs);
    p->m_u64Size = 0;
    return p;
}

void RangeName(char* out, std::size_t size, long long first, long long last) {
    std::snprintf(out, size, "%lld-%lld", first, last);
}

} // namespace

CRawFileTreeBuilder::CRawFileTreeBuilder()
    : m_counts(kRawFileTypeTableSize, 0), m_folders(kRawFileTypeTableSize, nullptr) {}

CFileNode* CRawFileTreeBuilder::MakeFolder(const char* name) {
    CFileNode* node = CreateFileNode();
    if (node)
        node->SetProperties(std::unique_ptr<IFileProperties>(FolderProperties(name)));
    return node;
}

CFileNode* CRawFileTreeBuilder::NewTypeFolder(std::uint32_t type) {
    const char* description = GetRawFileTypeDescription(type);
    CFileNode* folder = MakeFolder(*description ? description : GetRawFileTypeExtension(type));
    if (folder)
        m_root->AddChild(folder);
    m_folders[type] = folder;
    return folder;
}

CFileNode* CRawFileTreeBuilder::AddFile(std::uint64_t startSector, std::uint64_t size,
                                        std::uint32_t type) {
    if (!m_root || type >= kRawFileTypeTableSize)
        return nullptr;
    CFileNode* folder = m_folders[type];
    if (!folder && !(folder = NewTypeFolder(type)))
        return nullptr;
    const int n = ++m_counts[type];
    // The range folder for files 301, 601, ... is made when its first file arrives, so a count
    // that ends at a multiple of 300 leaves no empty folder behind.
    if (n > static_cast<int>(kRawRangeFolderFiles) && n % kRawRangeFolderFiles == 1) {
        if (n == static_cast<int>(kRawRangeFolderFiles) + 1) {
            // The type folder so far becomes the range 1-300 inside a new type folder.
            UnlinkChildNode(m_root, folder);
            static_cast<CRAWFileProperties*>(folder->m_pProperties.get())->SetName("1-300");
            CFileNode* fresh = NewTypeFolder(type);
            if (!fresh) {
                m_root->AddChild(folder); // keep what was built
                m_folders[type] = folder;
                return nullptr;
            }
            fresh->AddChild(folder);
            folder = fresh;
        }
        char name[48];
        RangeName(name, sizeof name, n, static_cast<long long>(n) + kRawRangeFolderFiles - 1);
        CFileNode* range = MakeFolder(name);
        if (!range)
            return nullptr;
        folder->AddChild(range);
    }
    CFileNode* file = CreateFileNode();
    CRAWFileProperties* p = CreateRAWFileProperties();
    if (!file || !p) {
        delete file;
        delete p;
        return nullptr;
    }
    char name[300];
    std::snprintf(name, sizeof name, "FILE%03d.%s", n, GetRawFileTypeExtension(type));
    p->SetName(name);
    p->m_u16Attributes = FILEATTR_ARCHIVE;
    p->m_state = FILESTATE_LIVE;
    p->SetExtent(startSector, size);
    file->SetProperties(std::unique_ptr<IFileProperties>(p));
    if (n <= static_cast<int>(kRawRangeFolderFiles))
        folder->AddChild(file);
    else
        folder->m_pFirstChild->AddChild(file); // the newest range folder
    return file;
}

void CRawFileTreeBuilder::Finish() {
    for (std::uint32_t t = 0; t < kRawFileTypeTableSize; ++t) {
        const int n = m_counts[t];
        if (n <= static_cast<int>(kRawRangeFolderFiles) || !m_folders[t] ||
            !m_folders[t]->m_pFirstChild)
            continue;
        char name[48];
        RangeName(name, sizeof name, static_cast<long long>((n - 1) / kRawRangeFolderFiles) *
                                             kRawRangeFolderFiles + 1,
                  n);
        static_cast<CRAWFileProperties*>(m_folders[t]->m_pFirstChild->m_pProperties.get())
            ->SetName(name);
    }
    m_finished = true;
}

FileTreePtr CRawFileTreeBuilder::Build(IStorageDevice* device, IIterator<CRawFileInfo*>* files,
                                       const IIsClusterUsed* clusterMap,
                                       IDIRBuildCallback* callback) {
    const ScanOptions& options = GetScanOptions();
    if (!options.RecoverRawFiles)
        return nullptr;
    const std::uint64_t cap = options.MaxRawFileSize;
    const std::uint64_t deviceSectors = device ? device->GetSectorCount() : 0;
    std::vector<bool> chosen(kRawFileTypeTableSize, false);
    for (std::uint32_t id : options.RawFileTypes.Ids())
        if (id < kRawFileTypeTableSize)
            chosen[id] = true;

    FileTreePtr root(CreateFileSystemNode());
    m_root = root.get();
    if (!m_root)
        return nullptr;
    m_root->SetProperties(std::unique_ptr<IFileProperties>(FolderProperties("Raw Files")));
    m_root->SetFileSystemInfo(0, 1);
    m_root->SetFileSystemType(FILESYSTEM_RAW);
    m_rootCreated = true;

    if (callback && files) {
        std::int64_t total = 0;
        for (files->First(); !files->IsDone(); files->Next()) {
            const CRawFileInfo* r = files->Current();
            total += !clusterMap || !clusterMap->IsClusterUsed(r->m_u64StartSector);
        }
        callback->BeginStage("Building RAW file tree.",
                             static_cast<std::int32_t>(total > INT32_MAX ? INT32_MAX : total));
    }
    RawFileAnalyserList* analysers = GetRawFileAnalysers();

    // A file inside a listed file of its type is part of that file (a member of an archive).
    CSizedFileCover cover;
    bool cancelled = false;
    if (files)
        files->First();
    for (; files && !files->IsDone() && !cancelled; files->Next()) {
        CRawFileInfo* r = files->Current();
        if (callback)
            callback->Poll();
        if (!r || r->m_u32FileType >= kRawFileTypeTableSize)
            continue;
        // A sized record keeps its type; an unsized one may learn its real type while it is
        // sized (a compound file becomes a DOC or an XLS), so the choice is checked after.
        if (r->m_u64Size != 0 && !chosen[r->m_u32FileType])
            continue;
        if (clusterMap && clusterMap->IsClusterUsed(r->m_u64StartSector))
            continue;
        if (cover.Covers(*r, r->m_u64StartSector))
            continue;
        // A restored list holds sizes cut to the device beside what the files claim.
        std::uint64_t size = std::max(r->m_u64Size, r->m_u64ClaimedSize);
        bool scannedToLimit = r->m_bScannedToLimit;
        if (size == 0) {
            if (r->m_u32AnalyserType == kCustomAnalyserTypeId)
                continue;
            IRawFileAnalyser* a = analysers->FindByTypeId(r->m_u32AnalyserType);
            if (!a)
                continue;
            r->m_bScannedToLimit = false;
            const bool sized = GuardedComputeFileSize(*a, r, device);
            size = sized ? r->m_u64Size : 0;
            scannedToLimit = sized && r->m_bScannedToLimit;
            // The list keeps the file unsized for builds on other devices.
            r->m_u64Size = 0;
            r->m_bScannedToLimit = false;
            if (!sized)
                continue;
        }
        // Whatever a damaged header claims, a file holds no more than the device from its start
        // and than the largest carved size.
        const std::uint64_t claimed = size;
        CarvedSizeFit fit = FitCarvedSize(claimed, r->m_u64StartSector, deviceSectors, cap);
        // A scan that found no end before the limit gives no size of the file's own.
        if (fit.cut == ClaimCut::SizeLimit && scannedToLimit)
            fit.cut = ClaimCut::None;
        size = fit.size;
        if (size == 0 || r->m_u32FileType >= kRawFileTypeTableSize || !chosen[r->m_u32FileType])
            continue;
        cover.Note(*r, size);
        CFileNode* file = AddFile(r->m_u64StartSector, size, r->m_u32FileType);
        if (file && fit.cut != ClaimCut::None) {
            // The file keeps what it claims: recovery writes what the tree holds of it and does
            // not count it as recovered.
            static_cast<CRAWFileProperties*>(file->m_pProperties.get())->SetClaimedSize(claimed, fit.cut);
            LogInfo("%s (sector %" PRIu64 ") claims %" PRIu64 " bytes; it is cut %s to %" PRIu64 " bytes",
                    file->m_pProperties->GetName(), r->m_u64StartSector, claimed,
                    fit.cut == ClaimCut::DeviceEnd ? "at the end of the device"
                                                   : "at the largest carved file size",
                    size);
        }
        if (callback && callback->StepBy(1) == -1)
            cancelled = true;
    }
    Finish();
    LogGuardedFailureCounts();
    if (callback)
        callback->Reset();
    return root;
}

FileTreePtr BuildRawFileTree(IDIRBuildCallback* callback, const IIsClusterUsed* clusterMap,
                             CRawFileTreeBuilder* builder, IStorageDevice* device,
                             IIterator<CRawFileInfo*>* files, int onThread) {
    if (!builder)
        return nullptr;
    if (!onThread)
        return builder->Build(device, files, clusterMap, callback);
    builder->m_device = device;
    builder->m_files = files;
    builder->m_clusterMap = clusterMap;
    builder->m_callback = callback;
    builder->m_done = false;
    FileTreePtr root;
    platform::RunWorker(
        builder->m_done,
        [builder, &root] {
            root = builder->Build(builder->m_device, builder->m_files, builder->m_clusterMap,
                                  builder->m_callback);
        },
        0);
    return root;
}
