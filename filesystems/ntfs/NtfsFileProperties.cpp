#include "filesystems/ntfs/NtfsFileProperties.h"

#include "filesystems/StoreSection.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstring>

CNTFSFileProperties::~CNTFSFileProperties() { FreeText(); }

void CNTFSFileProperties::FreeText() {
    if (m_text)
        FreeTreeObject(m_text, std::size_t{m_nameLength} + 1 + m_runBytes);
    m_text = nullptr;
    m_nameLength = 0;
    m_runBytes = 0;
    m_residentOffset = 0;
    m_hasRunRecord = false;
}

void CNTFSFileProperties::SetText(const char* name, std::size_t nameLength, bool hasRuns,
                                  const std::uint8_t* runs, std::size_t runBytes, CTreeArena* arena) {
    FreeText();
    nameLength = std::min<std::size_t>(nameLength, UINT16_MAX);
    runBytes = hasRuns && runs ? std::min<std::size_t>(runBytes, UINT32_MAX - nameLength - 1) : 0;
    auto* text = static_cast<char*>(AllocateTreeStorage(arena, nameLength + 1 + runBytes));
    if (nameLength)
        std::memcpy(text, name, nameLength);
    text[nameLength] = 0;
    if (runBytes)
        std::memcpy(text + nameLength + 1, runs, runBytes);
    m_text = text;
    m_nameLength = static_cast<std::uint16_t>(nameLength);
    m_runBytes = static_cast<std::uint32_t>(runBytes);
    m_hasRunRecord = hasRuns;
}

IDataRunList* CNTFSFileProperties::GetDataRunList() const {
    return m_hasRunRecord ? CreateDataRunListFromBytes(RunBytes(), m_runBytes, m_residentOffset) : nullptr;
}

std::unique_ptr<RunListRecord> CNTFSFileProperties::GetRunListRecord() const {
    if (!m_hasRunRecord)
        return nullptr;
    auto record = std::make_unique<RunListRecord>();
    record->residentOffset = m_residentOffset;
    record->bytes.assign(RunBytes(), RunBytes() + m_runBytes);
    return record;
}

int CNTFSFileProperties::SetMark(std::uint8_t mark) {
    std::uint8_t old = m_mark;
    m_mark = mark;
    return old;
}

void CNTFSFileProperties::SetExtensionRecords(const NtfsExtensionList& list) {
    if (list.empty())
        m_extensions.reset();
    else
        m_extensions = std::make_unique<NtfsExtensionList>(list);
}

int CNTFSFileProperties::Save(IRSData* section) const {
    RSWriteValue<std::uint16_t>(section, GetNameLength());
    if (m_nameLength)
        section->Write(m_text, m_nameLength);
    RSWriteValue<std::uint64_t>(section, m_size);
    RSWriteValue<std::uint16_t>(section, m_attributes);
    RSWriteValue<std::uint64_t>(section, m_creationTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastWriteTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastAccessTime.ticks);
    RSWriteValue<std::uint8_t>(section, m_state);
    RSWriteValue<std::uint64_t>(section, m_recordSector);
    if (m_hasRunRecord)
        SaveRunListRecordFieldBytes(section, RunBytes(), m_runBytes, m_residentOffset);
    else
        SaveRunListRecordField(section, nullptr);
    RSWriteValue<std::uint64_t>(section, m_extensions ? m_extensions->size() : 0);
    if (m_extensions) {
        for (const auto& e : *m_extensions) {
            RSWriteValue<std::uint64_t>(section, static_cast<std::uint64_t>(e.sector));
            RSWriteValue<std::uint64_t>(section, e.record);
        }
    }
    return 1;
}

int CNTFSFileProperties::Load(IRSData* section) {
    std::uint16_t nameLength = RSReadValue<std::uint16_t>(section);
    std::string name;
    if (nameLength)
        RSReadBytes(section, name, nameLength);
    SetText(name.data(), name.size(), false, nullptr, 0, nullptr);
    m_size = RSReadValue<std::uint64_t>(section);
    m_attributes = RSReadValue<std::uint16_t>(section);
    m_creationTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastWriteTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastAccessTime.ticks = RSReadValue<std::uint64_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_recordSector = RSReadValue<std::uint64_t>(section);
    if (std::unique_ptr<RunListRecord> runs = LoadRunListRecordField(section)) {
        SetText(name.data(), name.size(), true, runs->bytes.data(), runs->bytes.size(), nullptr);
        m_residentOffset = runs->residentOffset;
    }
    std::uint64_t count = RSReadValue<std::uint64_t>(section);
    m_extensions.reset();
    if (count) {
        // Read one at a time: a damaged count ends in a short read, not a huge allocation.
        auto list = std::make_unique<NtfsExtensionList>();
        for (std::uint64_t i = 0; i < count; ++i) {
            NtfsExtensionRef e;
            e.sector = static_cast<std::int64_t>(RSReadValue<std::uint64_t>(section));
            e.record = RSReadValue<std::uint64_t>(section);
            list->push_back(e);
        }
        m_extensions = std::move(list);
    }
    m_checkState = 0;
    m_mark = 0;
    return 1;
}

CNTFSFileProperties* CreateNtfsFileProperties() { return new CNTFSFileProperties(); }

CNTFSFileProperties* CreateNtfsFilePropertiesFromRecord(MftRecordView* record, std::uint64_t recordSector,
                                                        std::int64_t* parentRef, CTreeArena* arena) {
    if (!record || !record->IsValid())
        return nullptr;

    // Names: the second one when it is the Win32 name, else the first.
    NtfsFileNameView first, second;
    bool hasFirst = false, hasSecond = false;
    if (auto ref = record->FindAttributeEx(kNtfsAttrFileName, 0); ref.attr)
        hasFirst = ReadFileNameAttr(ref.attr, first);
    if (auto ref = record->FindAttributeEx(kNtfsAttrFileName, 1); ref.attr)
        hasSecond = ReadFileNameAttr(ref.attr, second);
    const NtfsFileNameView* chosen = nullptr;
    if (hasSecond && second.nameSpace == 1)
        chosen = &second;
    else if (hasFirst)
        chosen = &first;
    if (!chosen || chosen->nameLength == 0)
        return nullptr;
    std::uint64_t parent = chosen->parent;
    if (hasSecond && second.parent >= kNtfsRootRecord)
        parent = second.parent;
    else if (hasFirst && first.parent >= kNtfsRootRecord)
        parent = first.parent;
    if (parentRef && parent != kNtfsRecordNumberMask)
        *parentRef = static_cast<std::int64_t>(parent);

    const std::string name = NtfsNameToNarrow(chosen->name, chosen->nameLength);
    if (name.empty())
        return nullptr;
    std::uint16_t attributes = 0;
    if (chosen->flags & kNtfsFileNameFlagDirectory)
        attributes |= FILEATTR_DIRECTORY;
    std::uint64_t size = chosen->realSize;
    FileTime creation, lastWrite, lastAccess;
    creation.ticks = lastWrite.ticks = lastAccess.ticks = chosen->creationTime;

    if (auto ref = record->FindAttributeEx(kNtfsAttrStandardInformation, 0); ref.attr) {
        NtfsStdInfoView si;
        if (ReadStdInfoAttr(ref.attr, si)) {
            creation.ticks = si.creationTime;
            lastWrite.ticks = si.lastWriteTime;
            lastAccess.ticks = si.lastAccessTime;
            attributes |= static_cast<std::uint16_t>(si.fileAttributes & 0x27);
        }
    }

    // Data: the unnamed $DATA pieces of the base record and its extension records, encoded
    // straight into mapping pairs (the scratch buffer keeps its capacity from record to record).
    thread_local std::vector<std::uint8_t> runs;
    runs.clear();
    bool hasRuns = false;
    std::uint16_t residentOffset = 0;
    thread_local NtfsExtentList extents;
    extents.clear();
    ForEachFileDataAttribute(
        [&](std::uint32_t type, int i) { return record->FindAttributeEx(type, i); },
        [&](const MftRecordView::AttrRef& ref) {
            if (ref.attr.Flags() & kNtfsAttrFlagCompressed)
                attributes |= FILEATTR_COMPRESSED;
            if (ref.attr.Flags() & kNtfsAttrFlagEncrypted)
                attributes |= FILEATTR_ENCRYPTED;
            if (!ref.attr.NonResident()) {
                // One run: the record's sector, and the value's offset inside the record.
                std::int64_t previous = 0;
                AppendEncodedRun(runs, {ref.sector, 1}, &previous);
                runs.push_back(0);
                hasRuns = true;
                residentOffset = static_cast<std::uint16_t>(ref.offset + ref.attr.ValueOffset());
                size = ref.attr.ValueLength();
                return false;
            }
            std::uint64_t low = 0, dataSize = 0;
            if (CollectAttributeRuns(ref.attr, extents, &low, &dataSize) && low == 0) {
                if (size == 0 || IsUnknownNtfsSize(size) || dataSize > size)
                    size = dataSize;
            }
            return true;
        });
    if (!hasRuns && !extents.empty()) {
        SortExtents(extents);
        // Pieces whose extension record could not be read leave holes in the VCN range: they
        // read as zeros instead of shifting the rest of the file; repeated pieces are dropped.
        std::uint64_t next = 0;
        std::int64_t previous = 0;
        for (const auto& e : extents) {
            if (e.count == 0 || e.vcn < next)
                continue;
            if (e.vcn > next)
                AppendEncodedRun(runs, {kSparseRunStart, static_cast<std::int64_t>(e.vcn - next)}, &previous);
            AppendEncodedRun(runs, {e.lcn < 0 ? kSparseRunStart : e.lcn, static_cast<std::int64_t>(e.count)},
                             &previous);
            next = e.vcn + e.count;
        }
        if (!runs.empty()) {
            runs.push_back(0);
            hasRuns = true;
        }
    }

    if ((attributes & FILEATTR_COMPRESSED) && (attributes & FILEATTR_ENCRYPTED))
        attributes &= static_cast<std::uint16_t>(~FILEATTR_COMPRESSED);

    auto* props = new (arena) CNTFSFileProperties();
    props->SetText(name.data(), name.size(), hasRuns, runs.data(), runs.size(), arena);
    props->m_residentOffset = residentOffset;
    props->m_size = size;
    props->m_attributes = attributes;
    props->m_creationTime = creation;
    props->m_lastWriteTime = lastWrite;
    props->m_lastAccessTime = lastAccess;
    props->m_state = (GetRecordFlags(record->Record(), record->Length()) & kNtfsRecordInUse) ? FILESTATE_LIVE : FILESTATE_DELETED;
    props->m_recordSector = recordSector;
    props->m_lsn = ByteSpan(record->Record(), record->Length()).u64(8);
    return props;
}

void FixNtfsFileSize(CNTFSFileProperties* props, std::uint32_t sectorsPerCluster) {
    if (!props || !IsUnknownNtfsSize(props->GetFileSize()))
        return;
    std::unique_ptr<IDataRunList> list(props->GetDataRunList());
    if (!list || list->IsResident())
        return;
    std::uint64_t clusters = 0;
    for (const auto& r : list->Runs())
        clusters += static_cast<std::uint64_t>(r.count);
    props->SetFileSize(clusters * sectorsPerCluster * kSectorSize);
}

CNTFSFileProperties* MakeNtfsSyntheticFolder(const std::string& name, std::uint8_t state) {
    auto* props = CreateNtfsFileProperties();
    props->SetText(name.data(), name.size(), false, nullptr, 0, nullptr);
    props->m_attributes = FILEATTR_DIRECTORY;
    props->m_state = state;
    return props;
}

CNTFSFileProperties* MakeNtfsRootProperties(int partitionIndex) {
    return MakeNtfsSyntheticFolder(std::to_string(partitionIndex + 1) + " NTFS", FILESTATE_LIVE);
}

CNTFSFileProperties* MakeLostFilesFolder(int* counter) {
    ++*counter;
    return MakeNtfsSyntheticFolder("LostFiles" + std::to_string(*counter), FILESTATE_LOST_FILES_FOLDER);
}
