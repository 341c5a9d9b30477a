#include "app/wizard/FileTreeRoots.h"

#include "carving/RAWFileProperties.h"
#include "filesystems/FileProperties.h"
#include "tools/FileFilters.h"

#include <memory>
#include <vector>

namespace {

FileTreePtr MakeFolder(const char* name) {
    FileTreePtr node(CreateFileSystemNode());
    auto props = std::make_unique<CRAWFileProperties>();
    props->SetName(name);
    props->m_u64Size = 0;
    props->m_u16Attributes = FILEATTR_DIRECTORY;
    node->SetProperties(std::move(props));
    node->SetName(name);
    return node;
}

bool IsDirectoryEntry(const CFileNode* node) {
    return node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) != 0;
}

// Appends `child` as the last child of `parent` (`tail` is the parent's current last child).
void Append(CFileNode* parent, CFileNode*& tail, CFileNode* child) {
    child->m_pParent = parent;
    child->m_pNextSibling = nullptr;
    if (tail)
        tail->m_pNextSibling = child;
    else
        parent->m_pFirstChild = child;
    tail = child;
}

CFileNode* CopyNode(const CFileNode* scanned) {
    CFileNode* copy;
    if (auto* folder = dynamic_cast<const CFileSystemNode*>(scanned)) {
        auto* f = CreateFileSystemNode();
        f->SetFileSystemInfo(folder->m_u64FirstSector, folder->m_u32SectorsPerCluster);
        f->SetFileSystemType(folder->m_fileSystemType);
        f->SetName(folder->GetName());
        copy = f;
    } else {
        copy = CreateFileNode();
    }
    copy->BorrowProperties(scanned->m_pProperties); // owned by the scanned tree
    return copy;
}

} // namespace

FileTreePtr CreateFileTreeRoot() { return MakeFolder("Root"); }

FileTreePtr CreateDeletedFilesRoot() {
    FileTreePtr node = MakeFolder("Deleted Files");
    node->SetFileSystemInfo(0, 1);
    node->SetFileSystemType(FILESYSTEM_UNKNOWN);
    FolderVolumeBlock block;
    block.kind = kFolderVolumeKindDerived;
    node->SetVolumeBlock(&block);
    return node;
}

CFileSystemNode* BuildNodeTreeFromDirectory(CFileNode* scannedRoot, const NodeTreeBuildContext& context) {
    CFileSystemNode* folder = context.folder;
    if (!folder || !scannedRoot)
        return folder;
    if (scannedRoot->m_pProperties) {
        if (auto* raw = dynamic_cast<CRAWFileProperties*>(folder->m_pProperties.get()))
            raw->SetName(scannedRoot->m_pProperties->GetName());
    }
    if (auto* scannedFolder = dynamic_cast<CFileSystemNode*>(scannedRoot)) {
        folder->SetName(scannedFolder->GetName() ? scannedFolder->GetName()
                                                 : (scannedRoot->m_pProperties ? scannedRoot->m_pProperties->GetName() : nullptr));
    }

    // One frame per scanned folder being copied: its copy, the copy's last child, and the next
    // scanned child to look at.
    struct Frame {
        CFileNode* copy;
        CFileNode* tail;
        CFileNode* next;
    };
    std::vector<Frame> stack;
    stack.push_back({folder, nullptr, scannedRoot->m_pFirstChild});
    // Folders already in the tail of the folder's children are kept as they are.
    for (CFileNode* c = folder->m_pFirstChild; c; c = c->m_pNextSibling)
        stack.back().tail = c;
    while (!stack.empty()) {
        Frame& top = stack.back();
        CFileNode* child = top.next;
        if (!child) {
            // Done with this folder: a copied folder that kept nothing goes away.
            Frame done = top;
            stack.pop_back();
            if (!stack.empty()) {
                Frame& parent = stack.back();
                if (done.copy->m_pFirstChild)
                    Append(parent.copy, parent.tail, done.copy);
                else
                    delete done.copy; // its properties are borrowed: they stay
            }
            continue;
        }
        top.next = child->m_pNextSibling;
        if (child->m_pFirstChild) {
            stack.push_back({CopyNode(child), nullptr, child->m_pFirstChild});
        } else if (!IsDirectoryEntry(child) && child->m_pProperties &&
                   (!context.filter || context.filter->Match(child->m_pProperties))) {
            Append(top.copy, top.tail, CopyNode(child));
        }
    }
    if (auto* scannedFolder = dynamic_cast<CFileSystemNode*>(scannedRoot)) {
        folder->SetFileSystemInfo(scannedFolder->m_u64FirstSector, scannedFolder->m_u32SectorsPerCluster);
        folder->SetFileSystemType(scannedFolder->m_fileSystemType);
    }
    return folder;
}

FileTreePtr BuildDeletedFilesTree(SharedFileTree scanned) {
    FileTreePtr root = CreateFileTreeRoot();
    FileTreePtr deleted = CreateDeletedFilesRoot();
    CFileStateFilter filter;
    BuildNodeTreeFromDirectory(scanned.get(), {deleted.get(), &filter});
    FolderVolumeBlock block;
    root->GetVolumeBlock(&block);
    block.kind = kFolderVolumeKindDerived;
    root->SetVolumeBlock(&block);
    root->SetFileSystemInfo(deleted->m_u64FirstSector, deleted->m_u32SectorsPerCluster);
    root->SetFileSystemType(deleted->m_fileSystemType);
    CFileSystemNode* folder = deleted.get();
    root->AddChild(deleted.release());
    folder->RecountCounters();
    root->RecountCounters();
    root->KeepSourceAlive(std::move(scanned)); // the copies borrow its properties
    return root;
}
