#pragma once
// A file or folder of an EXT2/EXT3 tree: the properties of one inode, its block runs, the
// per-directory table of child names the tree builder uses while it links the tree, and the
// record the scan-state store writes and reads.
//
// A tree build makes one of these per inode, so they are kept small: the name and the run
// record's bytes live in tree storage (filesystems/TreeArena.h) of their own, and a record of
// at most 8 bytes (a file in one piece) is kept inside the object.
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"

#include <cstdint>
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

// The names a directory gives its entries while the tree is built, in the order listed. Each
// entry owns its name (tree storage, NUL-terminated) until a node takes it over. Seal sorts the
// entries by inode number and keeps only the last name given to each inode.
class CExt2ChildNames {
public:
    struct Entry {
        std::uint32_t inode;
        std::uint32_t length;
        char* name; // null once taken
    };

    CExt2ChildNames() = default;
    ~CExt2ChildNames();
    CExt2ChildNames(const CExt2ChildNames&) = delete;
    CExt2ChildNames& operator=(const CExt2ChildNames&) = delete;

    // Copies the name into storage from `arena` (the heap for null).
    void Add(std::uint32_t inode, const char* name, std::size_t length, CTreeArena* arena);
    void Seal();
    // The entry of `inode` (the last one added when not sealed yet), or null.
    Entry* Find(std::uint32_t inode);
    const Entry* Find(std::uint32_t inode) const { return const_cast<CExt2ChildNames*>(this)->Find(inode); }
    std::vector<Entry>& Entries() { return m_entries; }

private:
    std::vector<Entry> m_entries;
    bool m_sealed = true;
};

class CExt2FileProperties : public IFileProperties {
public:
    CExt2FileProperties() = default;
    ~CExt2FileProperties() override;

    void SetName(const std::string& name);
    // Takes over a name from tree storage (`length` bytes and a NUL), freed with the object.
    void AdoptName(char* name, std::size_t length);
    bool HasName() const { return m_name != nullptr; }

    std::uint16_t GetNameLength() const override { return m_nameLength; }
    const char* GetName() const override { return m_name ? m_name : ""; }
    std::uint64_t GetFileSize() const override { return m_u64Size; }
    std::uint16_t GetAttributes() const override { return m_u16Attributes; }
    FileTime* GetCreationTime(FileTime* time) const override;
    FileTime* GetLastWriteTime(FileTime* time) const override;
    FileTime* GetLastAccessTime(FileTime* time) const override;
    std::uint8_t GetFileState() const override { return m_state; }
    void AddFileState(std::uint8_t bits) override { m_state = static_cast<std::uint8_t>(m_state | bits); }
    std::uint8_t GetCheckState() const override { return m_checkState; }
    void SetCheckState(std::uint8_t state) override { m_checkState = state; }
    // A list of the block runs decoded from the run record (holes start at 0, unknown spans at
    // kUnknownRunStart); null without a record.
    IDataRunList* GetDataRunList() const override;
    // Blocks with holes for a file that has them, a fast symbolic link's text for data inside
    // the inode.
    FileDataLayout GetDataLayout(const IDataRunList* runs) const override;
    // A device, FIFO or socket, and a deleted file whose data the file system cleared.
    const char* GetNoDataReason() const override;
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

    // The run record: mapping-pair bytes (0-terminated) and the resident offset (not 0 only
    // for data kept inside the inode). `arena` as for names.
    void SetRunRecord(const std::uint8_t* bytes, std::size_t length, std::uint16_t residentOffset,
                      CTreeArena* arena = nullptr);
    bool HasRunRecord() const { return m_runBytes != 0; }

    bool IsSpecialFile() const { return (m_u16Attributes & kExt2SpecialFileAttribute) != 0; }
    // A deleted file without any data left to read: the file system cleared its block pointers
    // (and on EXT3 its size) when it deleted it.
    bool IsDataCleared() const {
        return (m_state & FILESTATE_DELETED) && !(m_u16Attributes & FILEATTR_DIRECTORY) && !IsSpecialFile() &&
               !HasRunRecord();
    }

    // Child names of a directory while the tree is being built (a later name for the same
    // inode replaces the earlier one).
    void AddChildName(std::uint32_t inode, const std::string& name);
    std::string GetChildName(std::uint32_t inode) const;
    void FreeChildNames() { m_childNames.reset(); }
    CExt2ChildNames* ChildNames() const { return m_childNames.get(); }
    // The table, made on first use.
    CExt2ChildNames& ChildNameTable();

    std::uint64_t m_u64Size = 0;
    FileTime m_creationTime;
    FileTime m_lastWriteTime;
    FileTime m_lastAccessTime;
    std::unique_ptr<CExt2ChildNames> m_childNames;
    std::uint32_t m_u32Inode = 0; // not saved
    std::uint16_t m_u16Attributes = 0;
    std::uint8_t m_state = 0;
    std::uint8_t m_checkState = 0;
    std::uint8_t m_mark = 0;

private:
    const std::uint8_t* RunBytes() const { return m_runBytes <= sizeof(m_runInline) ? m_runInline : m_runData; }
    void FreeName();
    void FreeRunRecord();

    char* m_name = nullptr;
    union {
        std::uint8_t* m_runData; // more than 8 bytes
        std::uint8_t m_runInline[8];
    };
    std::uint32_t m_runBytes = 0;
    std::uint16_t m_nameLength = 0;
    std::uint16_t m_residentOffset = 0;
};

CExt2FileProperties* CreateExt2FileProperties();

// Seconds since 1970-01-01 UTC (negative values count as 0) as a FileTime (UTC).
FileTime Ext2TimeToFileTime(std::int32_t seconds);

// The blocks of one inode as runs of file-system blocks: real runs, and holes (start 0) for
// unallocated parts of the size. Returns null when the inode has no usable runs: a folder, an
// extent-mapped inode, a deleted inode whose block pointers are all gone (the file cannot be
// recovered), or a file of size 0. `holes` tells whether the list has holes. An indirect block
// that cannot be read covers its whole span (bounded by the size) with one unknown span
// (kUnknownRunStart, a line in the EXT2 error log) and the runs go on after it; one past the
// device's end ends the runs there: they fall short of the size. Every real data and indirect
// block is marked in `usedBlocks` (bit b for block b) when given.
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

// What MakeExt2FileProperties fills, into properties from tree storage of `arena`, without a
// name (the tree builder names them when it links them). `scratch` is reused between calls.
struct Ext2RunScratch {
    std::vector<DataRun> runs;
    std::vector<std::uint8_t> bytes;
};
CExt2FileProperties* MakeUnnamedExt2FileProperties(const CExt2Inode& inode, std::vector<std::uint64_t>* usedBlocks,
                                                   CTreeArena* arena, Ext2RunScratch& scratch);
// "Inode_" and the inode number in lower-case hex.
std::string Ext2InodeName(std::uint32_t inode);
