#include "filesystems/ext2/Ext2TreeBuilder.h"

#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2CrossLinks.h"
#include "filesystems/ext2/Ext2FileProperties.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "platform/ThreadStart.h"
#include "platform/WorkerWait.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace {

CExt2FileProperties* PropsOf(const CFileNode* node) {
    return static_cast<CExt2FileProperties*>(node->m_pProperties);
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

void Attach(CFileNode* node, CFileNode* folder) {
    const std::string name = PropsOf(folder)->GetChildName(PropsOf(node)->m_u32Inode);
    if (!name.empty())
        PropsOf(node)->SetName(name);
    node->m_pParent = folder;
    node->m_pNextSibling = folder->m_pFirstChild;
    folder->m_pFirstChild = node;
}

// Lists a directory's entries into its properties' child names; returns the parent inode
// number (the second entry's inode when it is usable, else the root's).
std::uint32_t ListDirectory(const CExt2Inode& dir, CExt2FileProperties* props) {
    std::uint32_t parent = ext2::kRootInode;
    std::uint32_t index = 0;
    try {
        for (CExt2DirEntry e(&dir); !e.AtEnd(); e.Advance(), ++index) {
            try {
                const CExt2Inode child = e.GetInode();
                if (!child.m_number || !child.IsUsable())
                    continue;
                if (index == 1)
                    parent = child.m_number;
                if (child.m_name != "." && child.m_name != "..")
                    props->AddChildName(child.m_number, child.m_name);
            } catch (const std::exception&) {
                // this entry is skipped
            }
        }
    } catch (const std::exception&) {
        // the listing ends here
    }
    return parent;
}

CFileNode* NewNode(Ext2TreeBuildContext* context, CExt2FileProperties* props) {
    CFileNode* node = CreateFileNode();
    if (!node) {
        delete props;
        return nullptr;
    }
    node->m_pProperties = props;
    context->made.push_back(node);
    return node;
}

void ProcessInode(Ext2TreeBuildContext* context, const CExt2Inode& inode) {
    std::vector<std::uint64_t>* used = context->usedBlocks.empty() ? nullptr : &context->usedBlocks;
    if (inode.IsDirectory()) {
        CExt2FileProperties* props = MakeExt2FileProperties(inode, used);
        if (!props)
            return;
        const std::uint32_t parent = ListDirectory(inode, props);
        if (CFileNode* node = NewNode(context, props))
            context->directories.emplace(parent, node);
    } else if (inode.Mode() != 0 && !context->files.count(inode.m_number)) {
        CExt2FileProperties* props = MakeExt2FileProperties(inode, used);
        if (!props)
            return;
        if (CFileNode* node = NewNode(context, props))
            context->files[inode.m_number] = node;
    }
}

void FreeMadeNodes(Ext2TreeBuildContext* context) {
    for (CFileNode* node : context->made) {
        delete node->m_pProperties;
        node->m_pProperties = nullptr;
        node->m_pParent = node->m_pFirstChild = node->m_pNextSibling = nullptr;
        delete node;
    }
    context->made.clear();
    context->files.clear();
    context->directories.clear();
}

} // namespace

Ext2TreeBuildContext::~Ext2TreeBuildContext() = default;

CFileSystemNode* MakeExt2RootNode(CExt2FileSystem* fs) {
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
    CFileSystemNode* root = props ? CreateFileSystemNode() : nullptr;
    if (!root)
        return nullptr;
    props->SetName(name);
    props->m_u16Attributes = FILEATTR_DIRECTORY;
    props->m_u32Inode = ext2::kRootInode;
    root->m_pProperties = props.release();
    root->SetFileSystemType(sb.HasJournal() ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2);
    root->SetFileSystemInfo(fs->GetPartitionStart(), fs->SectorsPerBlock());
    try {
        CExt2Inode inode(fs);
        inode.Load(ext2::kRootInode);
        if (inode.IsUsable() && inode.IsDirectory())
            ListDirectory(inode, PropsOf(root));
    } catch (const std::exception&) {
        // the root keeps no child names
    }
    return root;
}

void Ext2ReadInodes(Ext2TreeBuildContext* context, CExt2FileSystem* fs) {
    IDIRBuildCallback* callback = context->callback;
    if (callback)
        callback->BeginStage("Reading files", static_cast<std::int32_t>(fs->GroupCount()));
    const std::uint32_t perGroup = fs->InodesPerGroup();
    std::uint32_t previousGroup = 0;
    for (CExt2InodeIterator it(fs); !it.AtEnd(); it.Next()) {
        CExt2Inode inode(fs);
        try {
            it.Get(inode);
        } catch (const std::range_error&) {
            break;
        } catch (const std::exception&) {
            continue;
        }
        if (callback) {
            const std::uint32_t group = (inode.m_number - 1) / perGroup;
            if (group != previousGroup) {
                previousGroup = group;
                callback->StepBy(1);
            }
            if (callback->Poll() == -1) {
                context->abort = true;
                break;
            }
        }
        // The root directory is the root node itself.
        if (inode.m_number == ext2::kRootInode || !inode.IsUsable())
            continue;
        ProcessInode(context, inode);
    }
}

int Ext2BuildDirectoryTree(Ext2TreeBuildContext* context, CFileSystemNode* root,
                           IDIRBuildCallback* callback) {
    if (callback)
        callback->BeginStage("Building directory tree...",
                             static_cast<std::int32_t>(context->directories.size()));
    for (auto& [parent, folder] : context->directories) {
        (void)parent;
        if (callback) {
            callback->StepBy(1);
            if (callback->Poll() == -1)
                return 0;
        }
        CExt2FileProperties* props = PropsOf(folder);
        auto range = context->directories.equal_range(props->m_u32Inode);
        for (auto it = range.first; it != range.second; ++it) {
            CFileNode* sub = it->second;
            if (!IsSelfOrAncestor(sub, folder) && !sub->m_pParent)
                Attach(sub, folder);
        }
        if (const auto* names = props->ChildNames()) {
            for (const auto& [inode, name] : *names) {
                (void)name;
                auto file = context->files.find(inode);
                if (file != context->files.end()) {
                    Attach(file->second, folder);
                    context->files.erase(file);
                }
            }
        }
        props->FreeChildNames();
    }
    for (auto it = context->directories.begin(); it != context->directories.end();) {
        PropsOf(it->second)->FreeChildNames();
        it = it->second->m_pParent ? context->directories.erase(it) : std::next(it);
    }
    for (auto& [parent, folder] : context->directories) {
        (void)parent;
        Attach(folder, root);
    }
    context->directories.clear();
    for (auto& [inode, file] : context->files) {
        (void)inode;
        Attach(file, root);
    }
    context->files.clear();
    PropsOf(root)->FreeChildNames();
    return 1;
}

CFileSystemNode* BuildExt2Tree(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
                               IDIRBuildCallback* callback, std::uint32_t bitmapFlag) {
    context->callback = callback;
    FreeMadeNodes(context);
    context->usedBlocks.clear();
    CFileSystemNode* root = MakeExt2RootNode(fs);
    if (!root)
        return nullptr;
    try {
        if (bitmapFlag)
            context->usedBlocks.assign((static_cast<std::size_t>(fs->BlockCount()) + 63) / 64, 0);
        try {
            Ext2ReadInodes(context, fs);
        } catch (const std::exception& error) {
            LogExt2Exception(error); // the tree is built from what was read
        }
        if (!context->abort && Ext2BuildDirectoryTree(context, root, callback)) {
            FlagExt2CrossLinks(root, *fs);
            context->made.clear();
            return root;
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error);
    }
    // Cancelled (or out of memory): nothing is kept. Every node below the root is in `made`.
    root->m_pFirstChild = nullptr;
    FreeMadeNodes(context);
    context->usedBlocks.clear();
    delete root->m_pProperties;
    root->m_pProperties = nullptr;
    delete root;
    return nullptr;
}

CFileSystemNode* CarveExt2UnusedBlocks(IStorageDevice* device, CRawFileList* resultSink,
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
    std::thread worker;
    try {
        worker = platform::StartThread([context, work] {
            work(context);
            context->done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        context->done = true;
        return;
    }
    platform::WaitForWorker(context->done, 10);
    worker.join();
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
    CFileSystemNode* root = nullptr;
    try {
        root = BuildExt2Tree(context, fs, context->callback, 1);
        if (!root)
            return;
        CExt2FileProperties* props = PropsOf(root);
        props->SetName(std::to_string(context->partitionIndex + 1) + " " + props->m_name);
        if (context->usedBlocks.size() * 64 >= fs->BlockCount()) {
            std::vector<std::uint64_t> bits;
            CClusterUseBitMap map(&bits, fs->GetPartitionStart(),
                                  static_cast<std::uint8_t>(fs->SectorsPerBlock()), fs->BlockCount());
            for (std::size_t i = 0; i < bits.size() && i < context->usedBlocks.size(); ++i)
                bits[i] = context->usedBlocks[i];
            MarkMetadata(*fs, map);
            if (CFileSystemNode* carved =
                    CarveExt2UnusedBlocks(fs->Device(), context->resultSink, map, context->callback)) {
                carved->m_pParent = root;
                carved->m_pNextSibling = root->m_pFirstChild;
                root->m_pFirstChild = carved;
            }
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error); // the tree stands without carved files
    }
    context->result = root;
}

} // namespace

CFileSystemNode* BuildExt2FileTree(IStorageDevice* device, IDIRBuildCallback* callback,
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
    return context->result;
}

CFileSystemNode* Ext2SearchTreeBuilder(Ext2TreeBuildContext* context, CExt2FileSystem* fs,
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
    return context->result;
}
