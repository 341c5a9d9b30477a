#include "filesystems/ext2/Ext2FileProperties.h"

#include "filesystems/StoreSection.h"
#include "filesystems/ext2/Ext2FileSystem.h"

#include <cstdio>
#include <new>
#include <set>

CExt2FileProperties::~CExt2FileProperties() = default;

CExt2FileProperties* CreateExt2FileProperties() { return new (std::nothrow) CExt2FileProperties(); }

FileTime* CExt2FileProperties::GetCreationTime(FileTime* time) const {
    *time = m_creationTime;
    return time;
}
FileTime* CExt2FileProperties::GetLastWriteTime(FileTime* time) const {
    *time = m_lastWriteTime;
    return time;
}
FileTime* CExt2FileProperties::GetLastAccessTime(FileTime* time) const {
    *time = m_lastAccessTime;
    return time;
}

IDataRunList* CExt2FileProperties::GetDataRunList() const {
    if (!m_runRecord)
        return nullptr;
    // The record keeps the runs; the list handed out is an EXT2 list (holes start at 0).
    std::unique_ptr<IDataRunList> decoded(CreateDataRunListFromRecord(m_runRecord.get()));
    if (!decoded || decoded->IsResident())
        return decoded.release(); // a fast symbolic link's text inside its inode
    auto* list = new (std::nothrow) CExt2DataRunList();
    if (!list)
        return nullptr;
    for (const DataRun& run : decoded->Runs())
        list->AppendRun(run.start < 0 ? 0 : run.start, run.count);
    return list;
}

int CExt2FileProperties::Save(IRSData* section) const {
    RSWriteValue<std::uint16_t>(section, GetNameLength());
    if (GetNameLength())
        section->Write(m_name.data(), GetNameLength());
    RSWriteValue<std::uint64_t>(section, m_u64Size);
    RSWriteValue<std::uint16_t>(section, m_u16Attributes);
    RSWriteValue<std::uint64_t>(section, m_creationTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastWriteTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastAccessTime.ticks);
    RSWriteValue<std::uint8_t>(section, m_state);
    SaveRunListRecordField(section, m_runRecord.get());
    return 1;
}

int CExt2FileProperties::Load(IRSData* section) {
    const std::uint16_t length = RSReadValue<std::uint16_t>(section);
    std::string name;
    if (length)
        RSReadBytes(section, name, length);
    m_name = std::move(name);
    m_u64Size = RSReadValue<std::uint64_t>(section);
    m_u16Attributes = RSReadValue<std::uint16_t>(section);
    m_creationTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastWriteTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastAccessTime.ticks = RSReadValue<std::uint64_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_checkState = 0;
    m_mark = 0;
    m_runRecord = LoadRunListRecordField(section);
    return 1;
}

void CExt2FileProperties::AddChildName(std::uint32_t inode, const std::string& name) {
    if (!m_childNames)
        m_childNames = std::make_unique<std::map<std::uint32_t, std::string>>();
    (*m_childNames)[inode] = name;
}

std::string CExt2FileProperties::GetChildName(std::uint32_t inode) const {
    if (!m_childNames)
        return std::string();
    auto it = m_childNames->find(inode);
    return it == m_childNames->end() ? std::string() : it->second;
}

FileTime Ext2TimeToFileTime(std::int32_t seconds) {
    constexpr std::uint64_t kSeconds1601To1970 = 11644473600ull;
    const std::uint64_t t = seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
    return FileTime{(t + kSeconds1601To1970) * 10000000ull};
}

// ---- Runs -----------------------------------------------------------------------------------

namespace {

class RunWalker {
public:
    RunWalker(const CExt2Inode& inode, std::vector<std::uint64_t>* used)
        : m_inode(inode), m_fs(*inode.m_fs), m_used(used), m_p(m_fs.BlockSize() / 4) {
        // Real data blocks a file can have: no more than its allocated sectors say (they count
        // the indirect blocks too) and than the file system holds.
        const std::uint64_t spb = m_fs.SectorsPerBlock();
        m_budget = std::min<std::uint64_t>(inode.AllocatedSectors() / (spb ? spb : 1), m_fs.BlockCount());
    }

    void Walk() {
        const std::uint64_t p = m_p;
        const std::uint64_t maxBlocks = ext2::kDirectBlocks + p + p * p + p * p * p;
        m_total = std::min(m_inode.GetBlockCount(), maxBlocks);
        for (std::uint32_t i = 0; i < ext2::kDirectBlocks && More(); ++i)
            Emit(Checked(m_inode.BlockPointer(i)), 1);
        for (int level = 1; level <= 3 && More(); ++level)
            Indirect(m_inode.BlockPointer(11 + level), level);
    }

    CExt2DataRunList list;
    bool holes = false;
    bool realBlocks = false;
    bool stopped = false;

private:
    bool More() const { return !stopped && m_pos < m_total; }
    std::uint32_t Checked(std::uint32_t block) const { return block < m_fs.BlockCount() ? block : 0; }

    void Mark(std::uint32_t block) {
        if (m_used && block / 64 < m_used->size())
            (*m_used)[block / 64] |= std::uint64_t{1} << (block % 64);
    }

    void Emit(std::uint32_t block, std::uint64_t count) {
        count = std::min(count, m_total - m_pos);
        if (count == 0)
            return;
        if (block != 0) {
            if (m_real >= m_budget) {
                stopped = true; // more blocks than the inode owns: the pointers are not its own
                return;
            }
            ++m_real;
            realBlocks = true;
            Mark(block);
        } else {
            holes = true;
        }
        list.AddRun(block, static_cast<std::int64_t>(count));
        m_pos += count;
    }

    // The blocks under one indirect block of `level` (1 single, 2 double, 3 triple).
    void Indirect(std::uint32_t block, int level) {
        std::uint64_t span = 1;
        for (int i = 0; i < level; ++i)
            span *= m_p;
        block = Checked(block);
        // A hole, a block outside the file system, or an indirect block met twice (a loop or
        // a shared block: not this file's) covers its whole span with a hole.
        if (block == 0 || !m_seenIndirect.insert(block).second) {
            Emit(0, span);
            return;
        }
        std::vector<std::uint8_t> data(m_fs.BlockSize(), 0);
        try {
            m_fs.ReadBlocks(data.data(), block, 1);
        } catch (const std::exception&) {
            Emit(0, span); // unreadable: its blocks are lost
            return;
        }
        Mark(block);
        const ByteSpan entries(data.data(), data.size());
        for (std::uint32_t e = 0; e < m_p && More(); ++e) {
            const std::uint32_t child = Checked(entries.u32(4 * static_cast<std::size_t>(e)));
            if (level == 1)
                Emit(child, 1);
            else
                Indirect(child, level - 1);
        }
    }

    const CExt2Inode& m_inode;
    CExt2FileSystem& m_fs;
    std::vector<std::uint64_t>* m_used;
    std::uint64_t m_p;
    std::uint64_t m_budget = 0;
    std::uint64_t m_total = 0;
    std::uint64_t m_pos = 0;
    std::uint64_t m_real = 0;
    std::set<std::uint32_t> m_seenIndirect;
};

} // namespace

std::unique_ptr<CExt2DataRunList> BuildExt2DataRunList(const CExt2Inode& inode, bool* holes,
                                                       std::vector<std::uint64_t>* usedBlocks) {
    if (holes)
        *holes = false;
    if (!inode.m_fs || inode.IsDirectory() || inode.UsesExtents() || inode.GetFileSize() == 0)
        return nullptr;
    RunWalker walker(inode, usedBlocks);
    walker.Walk();
    // A deleted file whose pointers were cleared has nothing left to read: not recoverable
    // (zeros in its place would be garbage).
    if (!walker.realBlocks && inode.DeletionTime() != 0)
        return nullptr;
    if (walker.list.GetRunCount() == 0)
        return nullptr;
    if (holes)
        *holes = walker.holes;
    return std::make_unique<CExt2DataRunList>(std::move(walker.list));
}

namespace {

// A symbolic link's target text as the file's data: inside the inode for a fast link, in the
// first block for a slow one. The size becomes the length of the text.
void SetSymlinkText(CExt2FileProperties* p, const CExt2Inode& inode, std::vector<std::uint64_t>* usedBlocks) {
    if (!inode.m_fs)
        return;
    CExt2FileSystem& fs = *inode.m_fs;
    const bool fast = inode.IsFastSymlink();
    const std::uint64_t length = std::min<std::uint64_t>(inode.SizeLow(), fast ? ext2::kFastLinkBytes : fs.BlockSize());
    p->m_u64Size = length;
    if (length == 0)
        return;
    if (fast) {
        std::uint32_t block = 0;
        std::uint32_t offset = 0;
        if (!fs.LocateInode(inode.m_number, &block, &offset))
            return;
        // Inodes are at least 128 bytes and aligned to their size, so the text never crosses
        // the inode's sector.
        const std::uint64_t sector = fs.GetPartitionStart() + std::uint64_t{block} * fs.SectorsPerBlock() + offset / 512;
        CResidentNTFSDataRunList text;
        text.SetRun(static_cast<std::int64_t>(sector), 1, offset % 512 + ext2::kBlockPointerOffset);
        p->m_runRecord = CreateRunListRecord(&text);
        return;
    }
    const std::uint32_t block = inode.BlockPointer(0);
    if (block == 0 || block >= fs.BlockCount())
        return;
    if (usedBlocks && block / 64 < usedBlocks->size())
        (*usedBlocks)[block / 64] |= std::uint64_t{1} << (block % 64);
    CExt2DataRunList runs;
    runs.AppendRun(block, 1);
    p->m_runRecord = CreateRunListRecord(&runs);
}

} // namespace

CExt2FileProperties* MakeExt2FileProperties(const CExt2Inode& inode,
                                            std::vector<std::uint64_t>* usedBlocks) {
    CExt2FileProperties* p = CreateExt2FileProperties();
    if (!p)
        return nullptr;
    if (!inode.m_name.empty()) {
        p->m_name = inode.m_name;
    } else {
        char name[32];
        std::snprintf(name, sizeof name, "Inode_%x", inode.m_number);
        p->m_name = name;
    }
    p->m_creationTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.ChangeTime()));
    p->m_lastWriteTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.ModificationTime()));
    p->m_lastAccessTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.AccessTime()));
    p->m_u64Size = inode.GetFileSize();
    if (inode.IsDirectory()) {
        p->m_u16Attributes |= FILEATTR_DIRECTORY;
    } else if (inode.IsSymlink()) {
        SetSymlinkText(p, inode, usedBlocks);
    } else if (!inode.IsRegular() && inode.Mode() != 0) {
        p->m_u16Attributes |= kExt2SpecialFileAttribute;
    } else {
        bool holes = false;
        std::unique_ptr<CExt2DataRunList> runs = BuildExt2DataRunList(inode, &holes, usedBlocks);
        if (runs) {
            // Holes are stored as sparse runs so that the record keeps them apart from blocks.
            CExt2DataRunList stored;
            for (const DataRun& run : runs->Runs())
                stored.AppendRun(run.start == 0 ? kSparseRunStart : run.start, run.count);
            p->m_runRecord = CreateRunListRecord(&stored);
        }
        if (holes && p->m_runRecord)
            p->m_u16Attributes |= kExt2HolesAttribute;
    }
    p->m_u32Inode = inode.m_number;
    p->m_state = inode.DeletionTime() != 0 ? FILESTATE_DELETED : FILESTATE_LIVE;
    return p;
}
