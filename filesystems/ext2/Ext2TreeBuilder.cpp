#include "filesystems/ext2/Ext2TreeBuilder.h"

#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2CrossLinks.h"
#include "filesystems/TreeArena.h"
#include "filesystems/ext2/Ext2FileProperties.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "logging/GuardedCall.h"
#include "platform/WorkerRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace {

using FileSlot = Ext2TreeBuildContext::FileSlot;
using DirectorySlot = Ext2TreeBuildContext::DirectorySlot;

constexpr GuardedSite kListingSite{"Listing an EXT2 directory", nullptr};
constexpr GuardedSite kEntrySite{"Reading an EXT2 directory entry", nullptr};
constexpr GuardedSite kRootSite{"Reading the EXT2 root directory", nullptr};

CExt2FileProperties* PropsOf(const CFileNode* node) {
    return static_cast<CExt2FileProperties*>(node->m_pProperties.get());
}

bool IsAsciiLetterOrDigit(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// `candidate` is `node` or one of its ancestors.
bool IsSelfOrAncestor(const CFileNode* candidate, const CFileNode* node) {
    for (const CFileNode* n = node; n; n = n->m_pParent)
        if (n == candidate)
            return true;
    return false;
}

// Links `node` under `folder`, named as the folder names it (when it does, with a name that is
// not empty). `entry` is the folder's entry for the node when the caller has it at hand.
void Attach(CFileNode* node, CFileNode* folder, CExt2ChildNames::Entry* entry = nullptr) {
    CExt2FileProperties* props = PropsOf(node);
    if (CExt2ChildNames* names = entry ? nullptr : PropsOf(folder)->ChildNames())
        entry = names->Find(props->m_u32Inode);
    if (entry && entry->name && entry->length) {
        props->AdoptName(entry->name, entry->length);
        entry->name = nullptr;
    }
    node->m_pParent = folder;
    node->m_pNextSibling = folder->m_pFirstChild;
    folder->m_pFirstChild = node;
}

// Lists a directory's entries (but "." and "..") into `names`; returns the inode number its
// second entry (its "..") names, 0 when there is none. Whether an entry names a usable inode is
// decided when the nodes are linked: only inodes with a node are looked up.
std::uint32_t ListDirectory(const CExt2Inode& dir, CExt2ChildNames& names, CTreeArena* arena, std::string& name) {
    std::uint32_t dotdot = 0;
    std::uint32_t index = 0;
    // An entry that cannot be read is skipped; a listing that cannot go on ends there.
    GuardedCall(kListingSite, 0, [&] {
        for (CExt2DirEntry e(&dir); !e.AtEnd(); e.Advance(), ++index) {
            GuardedCall(kEntrySite, 0, [&] {
                const std::uint32_t number = e.EntryInode();
                if (number == 0)
                    return;
                if (index == 1)
                    dotdot = number;
                e.EntryName(name);
                if (name != "." && name != "..")
                    names.Add(number, name.data(), name.size(), arena);
            });
        }
    });
    names.Seal();
    return dotdot;
}

// The inodes the walk skips because their inode table lies past the device's end, logged one
// line for each stretch of consecutive ones.
class SkippedInodes {
public:
    SkippedInodes() = default;
    SkippedInodes(const SkippedInodes&) = delete;
    SkippedInodes& operator=(const SkippedInodes&) = delete;
    ~SkippedInodes() { Flush(); }

    void Add(std::uint32_t first, std::uint32_t last, std::uint32_t group) {
        if (m_pending && first == m_last + 1) {
            m_last = last;
            m_lastGroup = group;
            return;
        }
        Flush();
        m_pending = true;
        m_first = first;
        m_last = last;
        m_firstGroup = m_lastGroup = group;
    }

    void Flush() {
        if (!m_pending)
            return;
        m_pending = false;
        char line[160];
        std::snprintf(line, sizeof line,
                      "Inodes %u to %u (block groups %u to %u) lie past the end of the device: not read",
                      m_first, m_last, m_firstGroup, m_lastGroup);
        WriteExt2ErrorLog(line);
    }

private:
    bool m_pending = false;
    std::uint32_t m_first = 0, m_last = 0, m_firstGroup = 0, m_lastGroup = 0;
};

// What the inode walk reuses from one inode to the next.
struct WalkScratch {
    Ext2RunScratch runs;
    std::string name;
};

void ProcessInode(Ext2TreeBuildContext* context, const CExt2Inode& inode, WalkScratch& scratch) {
    std::vector<std::uint64_t>* used = context->usedBlocks.empty() ? nullptr : &context->usedBlocks;
    // The slots first, so that every node made is held and indexed (also when memory runs out).
    const auto position = static_cast<std::uint32_t>(context->made.size());
    const bool directory = inode.IsDirectory();
    context->made.push_back(nullptr);
    if (directory)
        context->directories.push_back({0, inode.m_number, position});
    else
        context->files.push_back({inode.m_number, position});
    std::unique_ptr<CExt2FileProperties> owned;
    try {
        owned.reset(MakeUnnamedExt2FileProperties(inode, used, context->arena, scratch.runs));
        if (owned)
            context->made.back() = new (context->arena) CFileNode();
    } catch (const std::bad_alloc&) {
        owned.reset();
    }
    if (!context->made.back()) {
        context->made.pop_back();
        if (directory)
            context->directories.pop_back();
        else
            context->files.pop_back();
        return;
    }
    CExt2FileProperties* props = owned.get();
    context->made.back()->SetProperties(std::move(owned));
    if (directory)
        context->directories.back().parent =
            ListDirectory(inode, props->ChildNameTable(), context->arena, scratch.name);
}

// Drops an unfinished build: every node made, one by one (each with its properties), as
// they may be linked in any state.
void DropMadeNodes(Ext2TreeBuildContext* context) {
    for (CFileNode* node : context->made) {
        if (!node)
            continue;
        node->m_pParent = node->m_pFirstChild = node->m_pNextSibling = nullptr;
        delete node;
    }
    context->made.clear();
    context->files.clear();
    context->directories.clear();
}

// Room for the inodes the group descriptors count as used (deleted ones come on top).
void ReserveForUsedInodes(Ext2TreeBuildContext* context, const CExt2FileSystem& fs) {
    const ByteSpan table(fs.GroupTable().data(), fs.GroupTable().size());
    const std::uint32_t perGroup = fs.InodesPerGroup();
    std::uint64_t used = 0;
    for (std::uint32_t g = 0; g < fs.GroupCount(); ++g)
        used += std::min(fs.InodesOnDevice(g),
                         perGroup - std::min<std::uint32_t>(perGroup, table.u16(std::size_t{g} * ext2::kGroupDescriptorSize + 14)));
    constexpr std::uint64_t kMostReserved = 1u << 24; // beyond it (or on a damaged table) they grow
    used = std::min<std::uint64_t>({used + used / 16 + 64, fs.InodeCount(), kMostReserved});
    context->made.reserve(static_cast<std::size_t>(used));
    context->files.reserve(static_cast<std::size_t>(used));
}

// Whether the walk made a node for inode `number`.
bool HasNode(const Ext2TreeBuildContext& context, std::uint32_t number) {
    auto file = std::lower_bound(context.files.begin(), context.files.end(), number,
                                 [](const FileSlot& s, std::uint32_t n) { return s.inode < n; });
    if (file != context.files.end() && file->inode == number)
        return true;
    auto dir = std::lower_bound(context.directories.begin(), context.directories.end(), number,
                                [](const DirectorySlot& s, std::uint32_t n) { return s.inode < n; });
    return dir != context.directories.end() && dir->inode == number;
}

// The position in context.files of the file node of inode `number`, or files.size(). Folders list
// their files mostly in inode order, so the slot after the last one found is tried first.
std::size_t FindFile(const Ext2TreeBuildContext& context, std::uint32_t number, std::size_t hint) {
    const std::vector<FileSlot>& files = context.files;
    if (hint < files.size() && files[hint].inode == number)
        return hint;
    auto it = std::lower_bound(files.begin(), files.end(), number,
                               [](const FileSlot& s, std::uint32_t n) { return s.inode < n; });
    return it != files.end() && it->inode == number ? static_cast<std::size_t>(it - files.begin()) : files.size();
}

// Every node still without a name is called after its inode.
void NameUnnamedNodes(Ext2TreeBuildContext* context) {
    for (CFileNode* node : context->made) {
        CExt2FileProperties* props = node ? PropsOf(node) : nullptr;
        if (!props || props->HasName())
            continue;
        const std::string name = Ext2InodeName(props->m_u32Inode);
        auto* text = static_cast<char*>(AllocateTreeStorage(context->arena, name.size() + 1));
        std::memcpy(text, name.c_str(), name.size() + 1);
        props->AdoptName(text, name.size());
    }
}

} // namespace

Ext2TreeBuildContext::~Ext2TreeBuildContext() = default;

FileTreePtr MakeExt2RootNode(CExt2FileSystem* fs, CTreeArena* arena) {
    const CExt2SuperBlock& sb = fs->SuperBlock();
    std::string name = sb.HasJournal() ? "Ext3" : "Ext2";
    std::string label = sb.VolumeName();
    if (!label.empty()) {
        for (char& c : label)
            if (!IsAsciiLetterOrDigit(static_cast<unsigned char>(c)))
                c = '_';
        name += "(" + label + ")";
    }
    std::unique_ptr<CExt2FileProperties> props(CreateExt2FileProperties());
    FileTreePtr root(props ? CreateFileSystemNode() : nullptr);
    if (!root)
        return nullptr;
    props->SetName(name);
    props->m_u16Attributes = FILEATTR_DIRECTORY;
    props->m_u32Inode = ext2::kRootInode;
    root->SetProperties(std::move(props));
    root->SetFileSystemType(sb.HasJournal() ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2);
    root->SetFileSystemInfo(fs->GetPartitionStart(), fs->SectorsPerBlock());
    // When the root cannot be read, it keeps no child names.
    GuardedCall(kRootSite, 0, [&] {
        CExt2Inode inode(fs);
        inode.Load(ext2::kRootInode);
        std::string scratch;
        if (inode.IsUsable() && inode.IsDirectory())
            ListDirectory(inode, PropsOf(root.get())->ChildNameTable(), arena, scratch);
    });
    return root;
}

void Ext2ReadInodes(Ext2TreeBuildContext* context, CExt2FileSystem* fs) {
    IDIRBuildCallback* callback = context->callback;
    if (callback)
        callback->BeginStage("Reading files", static_cast<std::int32_t>(fs->GroupCount()));
    ReserveForUsedInodes(context, *fs);
    const std::uint32_t perGroup = fs->InodesPerGroup();
    std::uint32_t previousGroup = 0;
    WalkScratch scratch;
    // The groups of a volume that runs past the device's end: their inodes there are skipped.
    std::uint32_t onDeviceGroup = UINT32_MAX;
    std::uint32_t onDevice = perGroup;
    SkippedInodes skipped;
    for (CExt2InodeIterator it(fs); !it.AtEnd(); it.Next()) {
        const std::uint32_t number = it.Number();
        const std::uint32_t group = (number - 1) / perGroup;
        if (group != onDeviceGroup) {
            onDeviceGroup = group;
            onDevice = fs->InodesOnDevice(group);
        }
        if ((number - 1) % perGroup >= onDevice) {
            const std::uint64_t next = (static_cast<std::uint64_t>(group) + 1) * perGroup + 1;
            const std::uint32_t last = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(next - 1, fs->InodeCount()));
            skipped.Add(number, last, group);
            if (next > UINT32_MAX)
                break;
            it.SkipTo(static_cast<std::uint32_t>(next - 1)); // Next() steps onto the next group
            continue;
        }
        skipped.Flush();
        CExt2Inode inode(fs);
        try {
            it.Get(inode);
        } catch (const std::range_error&) {
            break;
        } catch (const std::exception&) {
            continue;
        }
        if (callback) {
            if (group != previousGroup) {
                callback->StepBy(static_cast<std::int32_t>(group - previousGroup));
                previousGroup = group;
            }
            if (callback->Poll() == -1) {
                context->abort = true;
                break;
            }
        }
        // The root directory is the root node itself.
        if (inode.m_number == ext2::kRootInode || !inode.IsUsable())
            continue;
        ProcessInode(context, inode, scratch);
    }
}

int Ext2BuildDirectoryTree(Ext2TreeBuildContext* context, CFileSystemNode* root,
                           IDIRBuildCallback* callback) {
    if (callback)
        callback->BeginStage("Building directory tree...",
                             static_cast<std::int32_t>(context->directories.size()));
    // A folder's parent is the inode its ".." names when that inode has a node, else the root.
    std::vector<DirectorySlot>& directories = context->directories;
    for (DirectorySlot& d : directories)
        if (d.parent == 0 || !HasNode(*context, d.parent))
            d.parent = ext2::kRootInode;
    const auto byParent = [](const DirectorySlot& a, const DirectorySlot& b) { return a.parent < b.parent; };
    std::stable_sort(directories.begin(), directories.end(), byParent);
    std::size_t hint = 0;
    for (const DirectorySlot& slot : directories) {
        if (callback) {
            callback->StepBy(1);
            if (callback->Poll() == -1)
                return 0;
        }
        CFileNode* folder = context->made[slot.made];
        auto range = std::equal_range(directories.begin(), directories.end(), DirectorySlot{slot.inode, 0, 0}, byParent);
        for (auto it = range.first; it != range.second; ++it) {
            CFileNode* sub = context->made[it->made];
            if (!IsSelfOrAncestor(sub, folder) && !sub->m_pParent)
                Attach(sub, folder);
        }
        CExt2FileProperties* props = PropsOf(folder);
        if (CExt2ChildNames* names = props->ChildNames()) {
            for (CExt2ChildNames::Entry& e : names->Entries()) {
                const std::size_t at = FindFile(*context, e.inode, hint);
                if (at == context->files.size())
                    continue;
                hint = at + 1;
                CFileNode* file = context->made[context->files[at].made];
                if (!file->m_pParent)
                    Attach(file, folder, &e);
            }
        }
        props->FreeChildNames();
    }
    // Everything not placed goes under the root: folders in the order above, then files by
    // inode number.
    for (const DirectorySlot& slot : directories) {
        CFileNode* folder = context->made[slot.made];
        if (!folder->m_pParent)
            Attach(folder, root);
    }
    for (const FileSlot& slot : context->files) {
        CFileNode* file = context->made[slot.made];
        if (!file->m_pParent)
            Attach(file, root);
    }
    PropsOf(root)->FreeChildNames();
    NameUnnamedNodes(context);
    context->directories.clear();
    context->files.clear();
    return 1;
}

FileTreePtr BuildExt2Tree(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
                          IDIRBuildCallback* callback, std::uint32_t bitmapFlag) {
    context->callback = callback;
    DropMadeNodes(context);
    context->usedBlocks.clear();
    CTreeArena arena; // the tree's nodes, properties, names and runs; its chunks live on with them
    context->arena = &arena;
    FileTreePtr root = MakeExt2RootNode(fs, &arena);
    if (!root) {
        context->arena = nullptr;
        return nullptr;
    }
    try {
        if (bitmapFlag)
            context->usedBlocks.assign(static_cast<std::size_t>((fs->BlocksOnDevice() + 63) / 64), 0);
        try {
            Ext2ReadInodes(context, fs);
        } catch (const std::exception& error) {
            LogExt2Exception(error); // the tree is built from what was read
        }
        if (!context->abort && Ext2BuildDirectoryTree(context, root.get(), callback)) {
            FlagExt2CrossLinks(root.get(), *fs);
            context->made.clear();
            context->arena = nullptr;
            LogGuardedFailureCounts();
            return root;
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error);
    }
    // Cancelled (or out of memory): nothing is kept. Every node below the root is in `made`.
    context->arena = nullptr;
    root->m_pFirstChild = nullptr;
    DropMadeNodes(context);
    context->usedBlocks.clear();
    return nullptr;
}

FileTreePtr CarveExt2UnusedBlocks(IStorageDevice* device, CRawFileList* resultSink,
                                  const CClusterUseBitMap& used, IDIRBuildCallback* callback) {
    if (!device || !resultSink)
        return nullptr;
    // Already on the build's worker thread: the RAW tree is built right here.
    CRawFileTreeBuilder builder;
    return BuildRawFileTree(callback, &used, &builder, device, resultSink->GetIterator(), 0);
}

namespace {

void RunWorker(Ext2TreeBuildContext* context, void (*work)(Ext2TreeBuildContext*)) {
    context->done = false;
    if (!platform::RunWorker(
            context->done, [context, work] { work(context); }, 10))
        context->done = true;
}

void VolumeWork(Ext2TreeBuildContext* context) {
    context->result = nullptr;
    try {
        const std::unique_ptr<CExt2FileSystem> fs =
            OpenExt2FileSystem(context->device, context->superBlockSector - 2);
        context->result = BuildExt2Tree(context, fs.get(), context->callback, context->bitmapFlag);
    } catch (const std::exception&) {
        context->result = nullptr;
    }
}

// Marks the blocks no file can start in: everything before the first data block and each
// group's superblock copy, descriptor tables, bitmaps and inode table.
void MarkMetadata(const CExt2FileSystem& fs, CClusterUseBitMap& map) {
    const CExt2SuperBlock& sb = fs.SuperBlock();
    map.MarkClusters(0, sb.FirstDataBlock() + 1);
    const ByteSpan table(fs.GroupTable().data(), fs.GroupTable().size());
    const std::uint64_t tableBlocks =
        (static_cast<std::uint64_t>(sb.InodesPerGroup()) * sb.InodeSize() + fs.BlockSize() - 1) / fs.BlockSize();
    for (std::uint32_t g = 0; g < fs.GroupCount(); ++g) {
        const std::size_t off = static_cast<std::size_t>(g) * ext2::kGroupDescriptorSize;
        const std::uint64_t groupStart = sb.FirstDataBlock() + static_cast<std::uint64_t>(g) * sb.BlocksPerGroup();
        const std::uint64_t inodeTable = table.u32(off + 8);
        // Superblock copy and descriptor tables (when present) lie before the bitmaps.
        const std::uint64_t firstBitmap = std::min<std::uint64_t>(table.u32(off), table.u32(off + 4));
        if (firstBitmap > groupStart)
            map.MarkClusters(groupStart, firstBitmap - groupStart);
        map.MarkCluster(table.u32(off));
        map.MarkCluster(table.u32(off + 4));
        map.MarkClusters(inodeTable, tableBlocks);
    }
}

void SearchWork(Ext2TreeBuildContext* context) {
    context->result = nullptr;
    CExt2FileSystem* fs = context->fileSystem;
    FileTreePtr root;
    try {
        root = BuildExt2Tree(context, fs, context->callback, 1);
        if (!root)
            return;
        CExt2FileProperties* props = PropsOf(root.get());
        props->SetName(std::to_string(context->partitionIndex + 1) + " " + props->GetName());
        // Only the blocks on the device can be carved.
        const std::uint64_t blocks = fs->BlocksOnDevice();
        if (blocks > 0 && context->usedBlocks.size() * 64 >= blocks) {
            std::vector<std::uint64_t> bits;
            CClusterUseBitMap map(&bits, fs->GetPartitionStart(),
                                  static_cast<std::uint8_t>(fs->SectorsPerBlock()), blocks);
            for (std::size_t i = 0; i < bits.size() && i < context->usedBlocks.size(); ++i)
                bits[i] = context->usedBlocks[i];
            MarkMetadata(*fs, map);
            if (FileTreePtr carved = CarveExt2UnusedBlocks(fs->Device(), context->resultSink, map,
                                                           context->callback))
                root->AddChild(carved.release());
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error); // the tree stands without carved files
    }
    context->result = std::move(root);
}

} // namespace

FileTreePtr BuildExt2FileTree(IStorageDevice* device, IDIRBuildCallback* callback,
                              Ext2TreeBuildContext* context) {
    Ext2TreeBuildContext local;
    if (!context)
        context = &local;
    context->device = device;
    context->callback = callback;
    context->superBlockSector = 2;
    context->bitmapFlag = 0;
    context->result = nullptr;
    RunWorker(context, VolumeWork);
    return std::move(context->result);
}

FileTreePtr Ext2SearchTreeBuilder(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
                                  IDIRBuildCallback* callback, CRawFileList* resultSink,
                                  std::uint32_t partitionIndex) {
    Ext2TreeBuildContext local;
    if (!context)
        context = &local;
    context->fileSystem = fs;
    context->callback = callback;
    context->resultSink = resultSink;
    context->partitionIndex = partitionIndex;
    context->bitmapFlag = 1;
    context->result = nullptr;
    if (!fs)
        return nullptr;
    RunWorker(context, SearchWork);
    return std::move(context->result);
}
