#pragma once
// The tree of found files and folders that every scanner hands over: CFileNode (any entry) and
// CFileSystemNode (a folder, and the root of a partition's tree), the per-folder totals, the
// tri-state check toggle and the tree deletions. All walks are iterative, so a damaged disk
// that nests folders very deep cannot exhaust the stack.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/TreeArena.h"
#include "storage/FileSystemType.h"

class IFileProperties;
class IRSData;

class CFileNode {
public:
    CFileNode() = default;
    CFileNode(const CFileNode&) = delete;
    CFileNode& operator=(const CFileNode&) = delete;
    // Clears the links; does not free the properties (the tree deletions do).
    virtual ~CFileNode();

    // A plain `new` takes the heap, `new (arena)` a build's arena (filesystems/TreeArena.h; the
    // heap for a null arena); `delete` frees either.
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void* operator new(std::size_t size, CTreeArena* arena) { return AllocateTreeStorage(arena, size); }
    static void operator delete(void* p, std::size_t size) noexcept { FreeTreeObject(p, size); }
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return ::operator new(size, std::nothrow);
    }
    static void operator delete(void* p, CTreeArena*) noexcept { FreeTreeObject(p, 0); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept { FreeTreeObject(p, 0); }

    virtual bool IsFolder() const { return false; }
    // First sector and sectors per cluster of the file system the entry belongs to: a folder
    // answers its own (1); a file asks its nearest folder ancestor (0 and zeros when none).
    virtual int GetFileSystemInfo(std::uint64_t* firstSector,
                                  std::uint32_t* sectorsPerCluster) const;
    // A folder's own type; a file walks up to its nearest folder; FILESYSTEM_UNKNOWN if none.
    virtual std::uint32_t GetFileSystemType() const;
    // A file node has no record of its own: writes nothing, reads nothing, returns 0.
    virtual int Save(IRSData* section) const;
    virtual int Load(IRSData* section);

    // Inserts `child` at the head of this node's child chain (there is no append).
    void AddChild(CFileNode* child);

    // The owning way to hand properties to a node of an ordinary tree: frees any properties
    // the node held and takes `properties`. (m_pProperties stays a plain pointer because the
    // deeper nodes of a derived tree share another tree's properties without owning them.)
    void SetProperties(std::unique_ptr<IFileProperties> properties);
    // Gives the node's properties up to the caller; the node is left without any.
    std::unique_ptr<IFileProperties> TakeProperties();

    CFileNode* m_pParent = nullptr;
    CFileNode* m_pFirstChild = nullptr;
    CFileNode* m_pNextSibling = nullptr;
    IFileProperties* m_pProperties = nullptr; // owned by the tree, freed by the deletions
    void* m_pSourceRecord = nullptr;          // the builder's own record; not owned, not saved
};

// Totals of a folder's subtree (40 bytes). Only entries without FILEATTR_DIRECTORY count;
// "checked" means check state 2.
struct FileTreeCounters {
    std::uint32_t files = 0;
    std::uint32_t checkedFiles = 0;
    std::uint64_t bytes = 0;
    std::uint64_t checkedBytes = 0;
    std::uint32_t compressedFiles = 0; // FILEATTR_COMPRESSED
    std::uint32_t checkedCompressedFiles = 0;
    std::uint32_t encryptedFiles = 0; // FILEATTR_ENCRYPTED
    std::uint32_t checkedEncryptedFiles = 0;
    friend bool operator==(const FileTreeCounters&, const FileTreeCounters&) = default;
};
static_assert(sizeof(FileTreeCounters) == 40);

// The argument of a counting walk: the totals being summed, whether to set check states on
// the way, and the state to set.
struct FileTreeWalkContext {
    FileTreeCounters counters;
    std::uint32_t setCheckState = 0;
    std::uint8_t checkState = 0;
};

// Volume block of a folder (264 bytes): kind 0 is an ordinary tree; kind 2 marks the root
// (and filtered folder) of a derived tree whose deeper nodes share another tree's properties.
struct FolderVolumeBlock {
    std::uint32_t reserved = 0;
    std::uint32_t kind = 0;
    std::uint8_t data[256] = {};
};
static_assert(sizeof(FolderVolumeBlock) == 264);

constexpr std::uint32_t kFolderVolumeKindOrdinary = 0;
constexpr std::uint32_t kFolderVolumeKindDerived = 2;
constexpr std::uint32_t kMaxFolderCaptionLength = 40;

class CFileSystemNode : public CFileNode {
public:
    CFileSystemNode() = default;
    ~CFileSystemNode() override;

    bool IsFolder() const override { return true; }
    int GetFileSystemInfo(std::uint64_t* firstSector,
                          std::uint32_t* sectorsPerCluster) const override;
    std::uint32_t GetFileSystemType() const override { return m_fileSystemType; }
    // The folder record: counters (checked ones as 0), first sector, sectors per cluster,
    // type, caption length and characters. Return 1; store failures pass through.
    int Save(IRSData* section) const override;
    int Load(IRSData* section) override;

    virtual void SetFileSystemInfo(std::uint64_t firstSector, std::uint32_t sectorsPerCluster);
    virtual void SetFileSystemType(std::uint32_t type) { m_fileSystemType = type; }
    virtual int GetVolumeBlock(FolderVolumeBlock* block) const;
    virtual int SetVolumeBlock(const FolderVolumeBlock* block);
    // Toggles the check state (checked -> unchecked, anything else -> checked). With
    // `thisOnly` only this node's state changes; otherwise the whole subtree takes the new
    // state and this folder's and every ancestor's checked totals and states follow. 1.
    virtual int SetCheckState(bool thisOnly);
    // Forwards to the properties' SetMark; 0 without properties.
    virtual int SetMark(std::uint8_t mark);
    virtual int GetCounters(FileTreeCounters* counters) const;
    // Recomputes this folder's totals from its subtree. 1.
    virtual int RecountCounters();

    // Caption of at most 40 characters (longer texts are cut); null clears it.
    void SetName(const char* caption);
    // The caption, or null when there is none.
    const char* GetName() const { return m_caption.empty() ? nullptr : m_caption.c_str(); }
    std::uint32_t GetNameLength() const { return static_cast<std::uint32_t>(m_caption.size()); }

    FileTreeCounters m_counters;
    FolderVolumeBlock m_volumeBlock;
    std::uint64_t m_u64FirstSector = 0;
    std::uint32_t m_u32SectorsPerCluster = 0;
    std::uint32_t m_fileSystemType = FILESYSTEM_UNKNOWN;

private:
    std::string m_caption;
};

// Toggles the check state of any node: folders as CFileSystemNode::SetCheckState; a file node
// takes the new state and its ancestors' totals and states follow. 1, or 0 without properties.
int ToggleCheckState(CFileNode* node, bool thisOnly);

CFileNode* CreateFileNode();
CFileSystemNode* CreateFileSystemNode();
// Removes `child` from `parent`'s chain; 1, or 0 (and nothing changed) when it is not there.
int UnlinkChildNode(CFileNode* parent, CFileNode* child);
// Breadth-first counting walk from `start`; when `setState`, every node of the subtree
// (folders too) then has check state `state`, and the folders below `start` have their checked
// totals set to match (all or nothing). The counts describe the states before the walk.
void WalkSubtreeCounters(bool setState, std::uint8_t state, CFileNode* start,
                         FileTreeCounters* out);
// Derives every folder's check state in the subtree from its children; 0 for null, else 1.
int RecomputeCheckStates(CFileNode* node);
// Appends every node of the subtree, children before their parent.
void CollectTreeNodes(CFileNode* node, std::vector<CFileNode*>& nodes);
// Frees the subtree and its properties; for a derived tree (volume block kind 2) only the
// root's and its direct children's properties are freed with the nodes.
void DeleteFileTree(CFileNode* root);
void DeleteTreeAndProperties(CFileNode* root);
void DeleteTreeNodesOnly(CFileNode* root);
