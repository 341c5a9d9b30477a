#pragma once
// A file or folder of an EXT2/EXT3 tree: the properties of one inode, its block runs, the
// per-directory table of child names the tree builder uses while it links the tree, and the
// record the scan-state store writes and reads.
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CExt2FileSystem;
class CExt2Inode;

// Attribute of a file whose run list has holes (runs with start 0 read as zeros).
constexpr std::uint16_t kExt2HolesAttribute = 0x200;
// Attribute of a device, FIFO or socket (any inode that is neither a regular file, a folder nor
// a symbolic link): listed, but it has no data and is never recovered as a file.
constexpr std::uint16_t kExt2SpecialFileAttribute = FILEATTR_SYSTEM;

class CExt2FileProperties : public IFileProperties {
public:
    CExt2FileProperties() = default;
    ~CExt2FileProperties() override;

    void SetName(const std::string& name) { m_name = name; }

    std::uint16_t GetNameLength() const override {
        return static_cast<std::uint16_t>(std::min<std::size_t>(m_name.size(), 0xFFFF));
    }
    const char* GetName() const override { return m_name.c_str(); }
    std::uint64_t GetFileSize() const override { return m_u64Size; }
    std::uint16_t GetAttributes() const override { return m_u16Attributes; }
    FileTime* GetCreationTime(FileTime* time) const override;
    FileTime* GetLastWriteTime(FileTime* time) const override;
    FileTime* GetLastAccessTime(FileTime* time) const override;
    std::uint8_t GetFileState() const override { return m_state; }
    std::uint8_t GetCheckState() const override { return m_checkState; }
    void SetCheckState(std::uint8_t state) override { m_checkState = state; }
    // A list of the block runs decoded from the run record; null without a record.
    IDataRunList* GetDataRunList() const override;
    std::uint32_t GetValidFields() const override { return VALIDFIELDS_FILESYSTEM; }
    std::uint8_t GetMark() const override { return m_mark ? 1 : 0; }
    int SetMark(std::uint8_t mark) override {
        const int previous = GetMark();
        m_mark = mark ? 1 : 0;
        return previous;
    }
    int Save(IRSData* section) const override;
    std::uint32_t GetFileSystemKind() const override { return FILEPROPS_EXT2; }
    int Load(IRSData* section) override;

    bool IsSpecialFile() const { return (m_u16Attributes & kExt2SpecialFileAttribute) != 0; }
    // A deleted file without any data left to read: the file system cleared its block pointers
    // (and on EXT3 its size) when it deleted it.
    bool IsDataCleared() const {
        return (m_state & FILESTATE_DELETED) && !(m_u16Attributes & FILEATTR_DIRECTORY) && !IsSpecialFile() &&
               !m_runRecord;
    }

    // Child names of a directory while the tree is being built (a later name for the same
    // inode replaces the earlier one).
    void AddChildName(std::uint32_t inode, const std::string& name);
    std::string GetChildName(std::uint32_t inode) const;
    void FreeChildNames() { m_childNames.reset(); }
    const std::map<std::uint32_t, std::string>* ChildNames() const { return m_childNames.get(); }

    std::string m_name;
    std::uint64_t m_u64Size = 0;
    std::uint16_t m_u16Attributes = 0;
    FileTime m_creationTime;
    FileTime m_lastWriteTime;
    FileTime m_lastAccessTime;
    std::uint8_t m_state = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;
    std::unique_ptr<RunListRecord> m_runRecord; // null for folders and files without runs
    std::unique_ptr<std::map<std::uint32_t, std::string>> m_childNames;
    std::uint32_t m_u32Inode = 0; // not saved
};

CExt2FileProperties* CreateExt2FileProperties();

// Seconds since 1970-01-01 UTC (negative values count as 0) as a FileTime (UTC).
FileTime Ext2TimeToFileTime(std::int32_t seconds);

// The blocks of one inode as runs of file-system blocks: real runs, and holes (start 0) for
// unallocated parts of the size. Returns null when the inode has no usable runs: a folder, an
// extent-mapped inode, a deleted inode whose block pointers are all gone (the file cannot be
// recovered), or a file of size 0. `holes` tells whether the list has holes. Every real data
// and indirect block is marked in `usedBlocks` (bit b for block b) when given.
std::unique_ptr<CExt2DataRunList> BuildExt2DataRunList(const CExt2Inode& inode, bool* holes,
                                                       std::vector<std::uint64_t>* usedBlocks);

// New properties filled from `inode`: name (or "Inode_" and the hex number), times, size,
// attributes, entry state and run record; marks used blocks as BuildExt2DataRunList does.
// Only a regular file has block runs. A symbolic link holds its target text: a fast link's
// from the inode itself (a run of the inode's sector, with the text's offset in it as resident
// offset), a slow link's from its first block; its size is the text's length, at most 60
// bytes or one block. Any other inode gets kExt2SpecialFileAttribute and no runs.
CExt2FileProperties* MakeExt2FileProperties(const CExt2Inode& inode,
                                            std::vector<std::uint64_t>* usedBlocks);
