#include "filesystems/ext2/Ext2FileProperties.h"

#include "filesystems/StoreSection.h"
#include "filesystems/ext2/Ext2FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>

namespace {

// `length` bytes and a NUL in storage from `arena` (the heap for null).
char* CopyName(const char* name, std::size_t length, CTreeArena* arena) {
    auto* copy = static_cast<char*>(AllocateTreeStorage(arena, length + 1));
    if (length)
        std::memcpy(copy, name, length);
    copy[length] = 0;
    return copy;
}

} // namespace

// ---- Child names ----------------------------------------------------------------------------

CExt2ChildNames::~CExt2ChildNames() {
    for (Entry& e : m_entries)
        FreeTreeObject(e.name, std::size_t{e.length} + 1);
}

void CExt2ChildNames::Add(std::uint32_t inode, const char* name, std::size_t length, CTreeArena* arena) {
    length = std::min<std::size_t>(length, UINT16_MAX);
    if (!m_entries.empty() && m_entries.back().inode >= inode)
        m_sealed = false;
    m_entries.push_back({inode, static_cast<std::uint32_t>(length), CopyName(name, length, arena)});
}

void CExt2ChildNames::Seal() {
    if (!m_sealed) {
        std::stable_sort(m_entries.begin(), m_entries.end(),
                         [](const Entry& a, const Entry& b) { return a.inode < b.inode; });
        // Of the names given to one inode, the last one counts.
        std::size_t out = 0;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            if (i + 1 < m_entries.size() && m_entries[i + 1].inode == m_entries[i].inode) {
                FreeTreeObject(m_entries[i].name, std::size_t{m_entries[i].length} + 1);
                continue;
            }
            m_entries[out++] = m_entries[i];
        }
        m_entries.resize(out);
        m_sealed = true;
    }
    m_entries.shrink_to_fit();
}

CExt2ChildNames::Entry* CExt2ChildNames::Find(std::uint32_t inode) {
    if (!m_sealed) {
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
            if (it->inode == inode)
                return &*it;
        return nullptr;
    }
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), inode,
                               [](const Entry& e, std::uint32_t n) { return e.inode < n; });
    return it != m_entries.end() && it->inode == inode ? &*it : nullptr;
}

// ---- Properties -----------------------------------------------------------------------------

CExt2FileProperties::~CExt2FileProperties() {
    FreeName();
    FreeRunRecord();
}

CExt2FileProperties* CreateExt2FileProperties() { return new (std::nothrow) CExt2FileProperties(); }

void CExt2FileProperties::FreeName() {
    FreeTreeObject(m_name, std::size_t{m_nameLength} + 1);
    m_name = nullptr;
    m_nameLength = 0;
}

void CExt2FileProperties::SetName(const std::string& name) {
    const std::size_t length = std::min<std::size_t>(name.size(), UINT16_MAX);
    AdoptName(CopyName(name.data(), length, nullptr), length);
}

void CExt2FileProperties::AdoptName(char* name, std::size_t length) {
    FreeName();
    m_name = name;
    m_nameLength = name ? static_cast<std::uint16_t>(std::min<std::size_t>(length, UINT16_MAX)) : 0;
}

void CExt2FileProperties::FreeRunRecord() {
    if (m_runBytes > sizeof(m_runInline))
        FreeTreeObject(m_runData, m_runBytes);
    m_runBytes = 0;
    m_residentOffset = 0;
}

void CExt2FileProperties::SetRunRecord(const std::uint8_t* bytes, std::size_t length, std::uint16_t residentOffset,
                                       CTreeArena* arena) {
    FreeRunRecord();
    length = bytes ? std::min<std::size_t>(length, kMaxRunListRecordBytes) : 0;
    if (length == 0)
        return;
    if (length <= sizeof(m_runInline)) {
        std::memcpy(m_runInline, bytes, length);
    } else {
        m_runData = static_cast<std::uint8_t*>(AllocateTreeStorage(arena, length));
        std::memcpy(m_runData, bytes, length);
    }
    m_runBytes = static_cast<std::uint32_t>(length);
    m_residentOffset = residentOffset;
}

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
    if (!HasRunRecord())
        return nullptr;
    // The record keeps the runs; the list handed out is an EXT2 list (holes start at 0). Any
    // other start below 0 (only a damaged record has one besides the unknown spans) is not
    // known either.
    std::unique_ptr<IDataRunList> decoded(CreateDataRunListFromBytes(RunBytes(), m_runBytes, m_residentOffset));
    if (!decoded || decoded->IsResident())
        return decoded.release(); // a fast symbolic link's text inside its inode
    auto* list = new (std::nothrow) CExt2DataRunList();
    if (!list)
        return nullptr;
    for (const DataRun& run : decoded->Runs())
        list->AppendRun(run.start == kSparseRunStart ? 0 : (run.start < 0 ? kUnknownRunStart : run.start), run.count);
    return list;
}

FileDataLayout CExt2FileProperties::GetDataLayout(const IDataRunList* runs) const {
    if (m_u16Attributes & kExt2HolesAttribute)
        return FileDataLayout::SparseRuns;
    if (runs && runs->IsResident())
        return FileDataLayout::LinkText;
    return IFileProperties::GetDataLayout(runs);
}

const char* CExt2FileProperties::GetNoDataReason() const {
    if (IsSpecialFile())
        return "Not a file (a device, FIFO or socket), nothing to recover";
    if (IsDataCleared())
        return "Data cleared when the file was deleted";
    return nullptr;
}

int CExt2FileProperties::Save(IRSData* section) const {
    RSWriteValue<std::uint16_t>(section, GetNameLength());
    if (GetNameLength())
        section->Write(m_name, GetNameLength());
    RSWriteValue<std::uint64_t>(section, m_u64Size);
    RSWriteValue<std::uint16_t>(section, m_u16Attributes);
    RSWriteValue<std::uint64_t>(section, m_creationTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastWriteTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastAccessTime.ticks);
    RSWriteValue<std::uint8_t>(section, m_state);
    if (HasRunRecord())
        SaveRunListRecordFieldBytes(section, RunBytes(), m_runBytes, m_residentOffset);
    else
        SaveRunListRecordField(section, nullptr);
    return 1;
}

int CExt2FileProperties::Load(IRSData* section) {
    const std::uint16_t length = RSReadValue<std::uint16_t>(section);
    std::string name;
    if (length)
        RSReadBytes(section, name, length);
    SetName(name);
    m_u64Size = RSReadValue<std::uint64_t>(section);
    m_u16Attributes = RSReadValue<std::uint16_t>(section);
    m_creationTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastWriteTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastAccessTime.ticks = RSReadValue<std::uint64_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_checkState = 0;
    m_mark = 0;
    const std::unique_ptr<RunListRecord> record = LoadRunListRecordField(section);
    if (record)
        SetRunRecord(record->bytes.data(), GetRunListRecordSize(record.get()), record->residentOffset);
    else
        FreeRunRecord();
    return 1;
}

CExt2ChildNames& CExt2FileProperties::ChildNameTable() {
    if (!m_childNames)
        m_childNames = std::make_unique<CExt2ChildNames>();
    return *m_childNames;
}

void CExt2FileProperties::AddChildName(std::uint32_t inode, const std::string& name) {
    ChildNameTable().Add(inode, name.data(), name.size(), nullptr);
}

std::string CExt2FileProperties::GetChildName(std::uint32_t inode) const {
    const CExt2ChildNames::Entry* e = m_childNames ? m_childNames->Find(inode) : nullptr;
    return e && e->name ? std::string(e->name, e->length) : std::string();
}

FileTime Ext2TimeToFileTime(std::int32_t seconds) {
    constexpr std::uint64_t kSeconds1601To1970 = 11644473600ull;
    const std::uint64_t t = seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
    return FileTime{(t + kSeconds1601To1970) * 10000000ull};
}

std::string Ext2InodeName(std::uint32_t inode) {
    char name[32];
    std::snprintf(name, sizeof name, "Inode_%x", inode);
    return name;
}

// ---- Runs -----------------------------------------------------------------------------------

namespace {

class RunWalker {
public:
    RunWalker(const CExt2Inode& inode, std::vector<std::uint64_t>* used, std::vector<DataRun>& runs)
        : runs(runs), m_inode(inode), m_fs(*inode.m_fs), m_used(used), m_p(m_fs.BlockSize() / 4) {
        // Real data blocks a file can have: no more than its allocated sectors say (they count
        // the indirect blocks too) and than the file system holds.
        const std::uint64_t spb = m_fs.SectorsPerBlock();
        m_budget = std::min<std::uint64_t>(inode.AllocatedSectors() / (spb ? spb : 1), m_fs.BlockCount());
        runs.clear();
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

    // Runs of blocks (start 0: a hole, kUnknownRunStart: blocks under an unreadable indirect
    // block), as CExt2DataRunList::AddRun joins them.
    std::vector<DataRun>& runs;
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

    // `start` is a block, 0 for a hole or kUnknownRunStart.
    void Add(std::int64_t start, std::uint64_t count) {
        if (!runs.empty()) {
            DataRun& last = runs.back();
            const bool lastReal = last.start > 0;
            if ((!lastReal && last.start == start) ||
                (lastReal && start > 0 && last.start + last.count == start)) {
                last.count += static_cast<std::int64_t>(count);
                return;
            }
        }
        runs.push_back({start, static_cast<std::int64_t>(count)});
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
        Add(block, count);
        m_pos += count;
    }

    // The blocks under the unreadable indirect block `block`: where they lie is not known.
    // Its whole span (bounded by the size) becomes an unknown span, so the walk goes on with
    // the blocks after it, and the file never passes for whole.
    void EmitUnknown(std::uint32_t block, std::uint64_t span) {
        const std::uint64_t count = std::min(span, m_total - m_pos);
        if (count == 0)
            return;
        Mark(block); // the inode's own pointer names it
        const std::uint64_t bs = m_fs.BlockSize();
        const std::uint64_t size = m_inode.GetFileSize();
        const std::uint64_t from = m_pos * bs;
        const std::uint64_t bytes = std::min(count * bs, size > from ? size - from : 0);
        char line[200];
        std::snprintf(line, sizeof line,
                      "Inode %u: indirect block %u could not be read; %llu bytes of the file (from byte %llu) "
                      "are unknown",
                      m_inode.m_number, block, static_cast<unsigned long long>(bytes),
                      static_cast<unsigned long long>(from));
        WriteExt2ErrorLog(line);
        Add(kUnknownRunStart, count);
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
        } catch (const CExt2ReadSectorError&) {
            EmitUnknown(block, span); // a bad sector: the blocks after its span may read well
            return;
        } catch (const std::exception&) {
            // Past the end of the device (a copy cut short): so is what follows it. The runs
            // end here and the file is recovered up to there.
            stopped = true;
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

// The inode's runs into `runs`; false when it has none to keep (see BuildExt2DataRunList).
bool WalkRuns(const CExt2Inode& inode, std::vector<std::uint64_t>* usedBlocks, std::vector<DataRun>& runs,
              bool* holes) {
    *holes = false;
    runs.clear();
    if (!inode.m_fs || inode.IsDirectory() || inode.UsesExtents() || inode.GetFileSize() == 0)
        return false;
    RunWalker walker(inode, usedBlocks, runs);
    walker.Walk();
    // A deleted file whose pointers were cleared has nothing left to read: not recoverable
    // (zeros in its place would be garbage).
    if (!walker.realBlocks && inode.DeletionTime() != 0)
        return false;
    *holes = walker.holes;
    return !runs.empty();
}

void MarkBlock(std::vector<std::uint64_t>* usedBlocks, std::uint32_t block) {
    if (usedBlocks && block / 64 < usedBlocks->size())
        (*usedBlocks)[block / 64] |= std::uint64_t{1} << (block % 64);
}

// The run record of `runs`, holes stored as sparse runs so that the record keeps them apart
// from blocks.
void SetRuns(CExt2FileProperties* p, const std::vector<DataRun>& runs, std::uint16_t residentOffset,
             CTreeArena* arena, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::int64_t previous = 0;
    for (const DataRun& run : runs)
        AppendEncodedRun(bytes, {run.start == 0 ? kSparseRunStart : run.start, run.count}, &previous);
    bytes.push_back(0);
    p->SetRunRecord(bytes.data(), bytes.size(), residentOffset, arena);
}

// A symbolic link's target text as the file's data: inside the inode for a fast link, in the
// first block for a slow one. The size becomes the length of the text.
void SetSymlinkText(CExt2FileProperties* p, const CExt2Inode& inode, std::vector<std::uint64_t>* usedBlocks,
                    CTreeArena* arena, Ext2RunScratch& scratch) {
    if (!inode.m_fs)
        return;
    CExt2FileSystem& fs = *inode.m_fs;
    const bool fast = inode.IsFastSymlink();
    const std::uint64_t length = std::min<std::uint64_t>(inode.SizeLow(), fast ? ext2::kFastLinkBytes : fs.BlockSize());
    p->m_u64Size = length;
    if (length == 0)
        return;
    scratch.runs.clear();
    if (fast) {
        std::uint32_t block = 0;
        std::uint32_t offset = 0;
        if (!fs.LocateInode(inode.m_number, &block, &offset))
            return;
        // Inodes are at least 128 bytes and aligned to their size, so the text never crosses
        // the inode's sector. The run is that sector, as for data kept in an NTFS record.
        const std::uint64_t sector = fs.GetPartitionStart() + std::uint64_t{block} * fs.SectorsPerBlock() + offset / 512;
        scratch.runs.push_back({static_cast<std::int64_t>(sector), 1});
        SetRuns(p, scratch.runs, static_cast<std::uint16_t>(offset % 512 + ext2::kBlockPointerOffset), arena,
                scratch.bytes);
        return;
    }
    const std::uint32_t block = inode.BlockPointer(0);
    if (block == 0 || block >= fs.BlockCount())
        return;
    MarkBlock(usedBlocks, block);
    scratch.runs.push_back({block, 1});
    SetRuns(p, scratch.runs, 0, arena, scratch.bytes);
}

} // namespace

std::unique_ptr<CExt2DataRunList> BuildExt2DataRunList(const CExt2Inode& inode, bool* holes,
                                                       std::vector<std::uint64_t>* usedBlocks) {
    bool hasHoles = false;
    std::vector<DataRun> runs;
    const bool any = WalkRuns(inode, usedBlocks, runs, &hasHoles);
    if (holes)
        *holes = any && hasHoles;
    if (!any)
        return nullptr;
    auto list = std::make_unique<CExt2DataRunList>();
    for (const DataRun& run : runs)
        list->AppendRun(run.start, run.count);
    return list;
}

CExt2FileProperties* MakeUnnamedExt2FileProperties(const CExt2Inode& inode, std::vector<std::uint64_t>* usedBlocks,
                                                   CTreeArena* arena, Ext2RunScratch& scratch) {
    CExt2FileProperties* p = arena ? new (arena) CExt2FileProperties() : CreateExt2FileProperties();
    if (!p)
        return nullptr;
    p->m_creationTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.ChangeTime()));
    p->m_lastWriteTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.ModificationTime()));
    p->m_lastAccessTime = Ext2TimeToFileTime(static_cast<std::int32_t>(inode.AccessTime()));
    p->m_u64Size = inode.GetFileSize();
    if (inode.IsDirectory()) {
        p->m_u16Attributes |= FILEATTR_DIRECTORY;
    } else if (inode.IsSymlink()) {
        SetSymlinkText(p, inode, usedBlocks, arena, scratch);
    } else if (!inode.IsRegular() && inode.Mode() != 0) {
        p->m_u16Attributes |= kExt2SpecialFileAttribute;
    } else {
        bool holes = false;
        if (WalkRuns(inode, usedBlocks, scratch.runs, &holes)) {
            SetRuns(p, scratch.runs, 0, arena, scratch.bytes);
            if (holes)
                p->m_u16Attributes |= kExt2HolesAttribute;
        }
    }
    p->m_u32Inode = inode.m_number;
    p->m_state = inode.DeletionTime() != 0 ? FILESTATE_DELETED : FILESTATE_LIVE;
    return p;
}

CExt2FileProperties* MakeExt2FileProperties(const CExt2Inode& inode,
                                            std::vector<std::uint64_t>* usedBlocks) {
    Ext2RunScratch scratch;
    CExt2FileProperties* p = MakeUnnamedExt2FileProperties(inode, usedBlocks, nullptr, scratch);
    if (p)
        p->SetName(inode.m_name.empty() ? Ext2InodeName(inode.m_number) : inode.m_name);
    return p;
}
