#include "filesystems/fat/FatFileProperties.h"

#include "filesystems/StoreSection.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTables.h"
#include "logging/Log.h"

#include <new>

CFATFileProperties::~CFATFileProperties() = default;

CFATFileProperties* CreateFATFileProperties(CTreeArena* arena) {
    return arena ? new (arena) CFATFileProperties() : new (std::nothrow) CFATFileProperties();
}

void CFATFileProperties::SetName(const char* text) { m_name = text ? text : ""; }

FileTime* CFATFileProperties::GetCreationTime(FileTime* time) const {
    *time = m_creationTime;
    return time;
}
FileTime* CFATFileProperties::GetLastWriteTime(FileTime* time) const {
    *time = m_lastWriteTime;
    return time;
}
FileTime* CFATFileProperties::GetLastAccessTime(FileTime* time) const {
    *time = m_lastAccessTime;
    return time;
}

IDataRunList* CFATFileProperties::GetDataRunList() const {
    return CreateDataRunListFromRecord(m_runRecord.get());
}

int CFATFileProperties::Save(IRSData* section) const {
    RSWriteValue<std::uint16_t>(section, GetNameLength());
    if (!m_name.empty())
        section->Write(m_name.data(), GetNameLength());
    RSWriteValue<std::uint64_t>(section, m_u64Size);
    RSWriteValue<std::uint16_t>(section, m_u16Attributes);
    RSWriteValue<std::uint64_t>(section, m_creationTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastWriteTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastAccessTime.ticks);
    RSWriteValue<std::uint8_t>(section, m_state);
    RSWriteValue<std::uint32_t>(section, m_u32FirstCluster);
    RSWriteValue<std::uint32_t>(section, m_u32ParentCluster);
    SaveRunListRecordField(section, m_runRecord.get());
    return 1;
}

int CFATFileProperties::Load(IRSData* section) {
    std::uint16_t length = RSReadValue<std::uint16_t>(section);
    std::string name;
    RSReadBytes(section, name, length);
    m_name = std::move(name);
    m_u64Size = RSReadValue<std::uint64_t>(section);
    m_u16Attributes = RSReadValue<std::uint16_t>(section);
    m_creationTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastWriteTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastAccessTime.ticks = RSReadValue<std::uint64_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_u32FirstCluster = RSReadValue<std::uint32_t>(section);
    m_u32ParentCluster = RSReadValue<std::uint32_t>(section);
    m_runRecord = LoadRunListRecordField(section);
    m_checkState = 0;
    m_mark = 0;
    return 1;
}

// ---------------------------------------------------------------------------------------------

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

FileTime ConvertFatDateTime(std::uint16_t date, std::uint16_t time) {
    const unsigned year = 1980 + (date >> 9);
    const unsigned month = (date >> 5) & 0x0F;
    const unsigned day = date & 0x1F;
    const unsigned hour = time >> 11;
    const unsigned minute = (time >> 5) & 0x3F;
    const unsigned second = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return FileTime{};
    constexpr std::int64_t kDays1601To1970 = 134774;
    std::int64_t days = DaysFromCivil(year, month, day) + kDays1601To1970;
    std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return FileTime{static_cast<std::uint64_t>(seconds) * 10000000ull};
}

CFATFileProperties* CreateFATFilePropertiesFromEntry(const std::string& name,
                                                     const std::uint8_t* entry, CTreeArena* arena) {
    CFATFileProperties* p = CreateFATFileProperties(arena);
    if (!p)
        return nullptr;
    FatDirEntry e(entry);
    p->SetName(name);
    p->m_u64Size = e.FileSize();
    p->m_u16Attributes = e.Attributes();
    p->m_creationTime = ConvertFatDateTime(e.CreationDate(), e.CreationTime());
    p->m_lastWriteTime = ConvertFatDateTime(e.LastWriteDate(), e.LastWriteTime());
    p->m_lastAccessTime = ConvertFatDateTime(e.LastAccessDate(), 0);
    p->m_state = e.IsDeleted() ? FILESTATE_DELETED : FILESTATE_LIVE;
    p->SetCheckState(CHECKSTATE_UNCHECKED);
    p->SetMark(0);
    return p;
}

CFATFileProperties* CreateFATFilePropertiesFromEntries(const std::uint8_t* entries,
                                                       std::size_t length, CTreeArena* arena) {
    // A real long name has at most 255 UTF-16 units; a longer run is damage.
    constexpr std::size_t kMaxLongNameBytes = 255 * 3;
    std::string longName;
    bool longNameSeen = false;
    for (std::size_t off = 0; off + fat::kDirEntrySize <= length; off += fat::kDirEntrySize) {
        FatDirEntry e(entries + off);
        if (e.IsLongNameEntry()) {
            std::string part;
            if (e.GetLongNamePart(part)) {
                longName = part + longName;
                longNameSeen = true;
            }
            continue;
        }
        std::string name;
        if (longNameSeen && longName.size() <= kMaxLongNameBytes && IsValidFileName(longName))
            name = longName;
        else
            name = e.GetShortName(false);
        return CreateFATFilePropertiesFromEntry(name, entries + off, arena);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<CFATDataRunList> BuildFatDataRunList(const FatRunSource& source,
                                                     std::uint32_t firstCluster,
                                                     std::uint64_t size, bool deleted) {
    std::unique_ptr<CFATDataRunList> list(new (std::nothrow) CFATDataRunList());
    if (!list)
        return nullptr;
    if (size == 0)
        return list;
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(source.sectorsPerCluster) * 512;
    const std::uint64_t clusterEnd = source.clusterCount + 2; // first cluster past the data area
    if (clusterBytes == 0 || firstCluster < 2 || firstCluster >= clusterEnd) {
        ReleaseTrace("File overflows partition!");
        return nullptr;
    }
    auto clustersFor = [&](std::uint64_t bytes) { return (bytes + clusterBytes - 1) / clusterBytes; };

    if (deleted && source.fat) {
        // The chain is gone: take the free clusters from the first one on. A cluster whose
        // entry is not free belongs to another file (or is marked) and is passed over.
        std::uint64_t placed = 0;
        for (std::uint64_t c = firstCluster; c < clusterEnd && placed < size; ++c) {
            if (source.fat->GetEntry(static_cast<std::uint32_t>(c)) != kFatEntryFree)
                continue;
            list->AddRun(static_cast<std::int64_t>(c - 2), 1);
            placed += clusterBytes;
        }
        if (list->GetRunCount() == 0)
            return nullptr;
        return list;
    }

    std::uint64_t runStart = firstCluster - 2;
    std::uint64_t count = 1;
    std::uint64_t placed = 0;
    std::uint64_t c = firstCluster;
    std::uint64_t steps = 0;
    for (;;) {
        std::uint32_t e = 0;
        bool end = deleted || !source.fat;
        if (!end) {
            e = source.fat->GetEntry(static_cast<std::uint32_t>(c));
            end = IsFatChainStop(e) || e >= clusterEnd || ++steps > source.clusterCount;
        }
        if (end) {
            count = clustersFor(size - placed);
            if (runStart + count > source.clusterCount) {
                ReleaseTrace("File overflows partition!");
                return nullptr;
            }
            list->AddRun(static_cast<std::int64_t>(runStart), static_cast<std::int64_t>(count));
            break;
        }
        if (e == c + 1) {
            ++count;
            c = e;
            continue;
        }
        count = std::min(count, clustersFor(size - placed));
        if (runStart + count > source.clusterCount) {
            ReleaseTrace("File overflows partition!");
            return nullptr;
        }
        list->AddRun(static_cast<std::int64_t>(runStart), static_cast<std::int64_t>(count));
        placed += count * clusterBytes;
        if (placed >= size)
            break;
        runStart = e - 2;
        count = 1;
        c = e;
    }
    if (source.clusterUse) {
        std::vector<bool>& bits = *source.clusterUse;
        for (const DataRun& run : list->Runs())
            for (std::int64_t i = 0; i < run.count; ++i) {
                std::uint64_t index = static_cast<std::uint64_t>(run.start + i);
                if (index < bits.size())
                    bits[index] = true;
            }
    }
    return list;
}
