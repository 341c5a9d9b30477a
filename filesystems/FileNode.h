#pragma once
// The tree of found files and folders that every scanner hands over: CFileNode (any entry) and
// CFileSystemNode (a folder, and the root of a partition's tree), the per-folder totals, the
// tri-state check toggle, the owning handle of a tree (FileTreePtr) and the one tree deletion.
// All walks are iterative, so a damaged disk that nests folders very deep cannot exhaust the
// stack.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/TreeArena.h"
#include "storage/FileSystemType.h"

class IFileProperties;
class IRSData;
class CFileSystemNode;

// The properties a node shows and whether the node owns them. A node of an ordinary tree owns
// its properties: they go with the node. A node of a derived tree (a filtered copy of a scanned
// tree) borrows the scanned node's properties; the derived tree's root keeps the scanned tree
// alive (CFileSystemNode::KeepSourceAlive), so they outlive the borrowing node. Reads as a plain
// `IFileProperties*`; changing what it holds says which of the two it is.
class NodeProperties {
public:
    NodeProperties() = default;
    NodeProperties(const NodeProperties&) = delete;
    NodeProperties& operator=(const NodeProperties&) = delete;
    ~NodeProperties() { Reset(); }

    IFileProperties* get() const noexcept {
        return reinterpret_cast<IFileProperties*>(m_bits & ~kOwnedBit);
    }
    IFileProperties* operator->() const noexcept { return get(); }
    IFileProperties& operator*() const noexcept { return *get(); }
    // Two conversions (the const one is the better match for const readers) so that
    // `delete node->m_pProperties` is ambiguous and does not compile: freeing goes through Reset.
    operator IFileProperties*() const noexcept { return get(); }
    operator const IFileProperties*() const noexcept { return get(); }
    explicit operator bool() const noexcept { return m_bits != 0; }
    friend bool operator==(const NodeProperties& a, const IFileProperties* b) noexcept {
        return a.get() == b;
    }
    friend bool operator==(const NodeProperties& a, std::nullptr_t) noexcept {
        return a.m_bits == 0;
    }
    bool IsOwned() const noexcept { return (m_bits & kOwnedBit) != 0; }

    // Takes `properties` as the node's own; what the node owned before is freed.
    void Own(std::unique_ptr<IFileProperties> properties);
    // Shows `properties` without owning them; what the node owned before is freed.
    void Borrow(IFileProperties* properties);
    // Gives owned properties up to the caller (null for borrowed ones); the node is left without
    // any.
    std::unique_ptr<IFileProperties> Release();
    // Frees owned properties and forgets borrowed ones.
    void Reset() noexcept;
    // Exchanges what two nodes hold, ownership included.
    void Swap(NodeProperties& other) noexcept {
        const std::uintptr_t bits = m_bits;
        m_bits = other.m_bits;
        other.m_bits = bits;
    }

private:
    // Properties are at least 8-aligned (heap or CTreeArena), so the lowest bit of the address
    // says whether the node owns them: the node stays as small as with a bare pointer.
    static constexpr std::uintptr_t kOwnedBit = 1;
    std::uintptr_t m_bits = 0;
};

class CFileNode {
public:
    CFileNode() = default;
    CFileNode(const CFileNode&) = delete;
    CFileNode& operator=(const CFileNode&) = delete;
    // Frees the node's own properties (borrowed ones stay); does not touch the linked nodes.
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

    // Properties the node owns (m_pProperties.Own): frees any it owned and takes `properties`.
    void SetProperties(std::unique_ptr<IFileProperties> properties);
    // Gives the node's own properties up to the caller; the node is left without any.
    std::unique_ptr<IFileProperties> TakeProperties();
    // Shows another tree's properties without owning them (m_pProperties.Borrow).
    void BorrowProperties(IFileProperties* properties) { m_pProperties.Borrow(properties); }

    CFileNode* m_pParent = nullptr;
    CFileNode* m_pFirstChild = nullptr;
    CFileNode* m_pNextSibling = nullptr;
    NodeProperties m_pProperties;    // owned or borrowed, see NodeProperties
    void* m_pSourceRecord = nullptr; // the builder's own record; not owned, not saved
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
// (and filtered folder) of a derived tree whose deeper nodes borrow another tree's properties.
// Only the saved state reads it: who frees what is said by NodeProperties.
struct FolderVolumeBlock {
    std::uint32_t reserved = 0;
    std::uint32_t kind = 0;
    std::uint8_t data[256] = {};
};
static_assert(sizeof(FolderVolumeBlock) == 264);

constexpr std::uint32_t kFolderVolumeKindOrdinary = 0;
constexpr std::uint32_t kFolderVolumeKindDerived = 2;
constexpr std::uint32_t kMaxFolderCaptionLength = 40;

// Frees the tree below and including `root`: every node, with the properties it owns. Null is
// ignored. The one way a tree goes; FileTreePtr calls it.
void DeleteFileTree(CFileNode* root);

struct FileTreeDeleter {
    void operator()(CFileNode* root) const noexcept { DeleteFileTree(root); }
};
// The owning handle of a whole tree, what every tree builder returns.
using FileTreePtr = std::unique_ptr<CFileSystemNode, FileTreeDeleter>;
// A part of a tree not (yet) linked into one, owned the same way.
using FileSubtreePtr = std::unique_ptr<CFileNode, FileTreeDeleter>;
// A tree shared between its holder and the derived trees that borrow its properties.
using SharedFileTree = std::shared_ptr<CFileSystemNode>;

class CFileSystemNode : public CFileNode {
public:
    CFileSystemNode() = default;
    ~CFileSystemNode() override;

    // For the root of a derived tree: holds `source`, the tree whose properties the derived
    // nodes borrow, until this root is freed (after every node below it).
    void KeepSourceAlive(SharedFileTree source) { m_source = std::move(source); }
    const SharedFileTree& Source() const { return m_source; }

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
    SharedFileTree m_source;
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
