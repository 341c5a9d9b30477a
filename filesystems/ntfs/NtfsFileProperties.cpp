#include "filesystems/ntfs/NtfsFileProperties.h"

#include "filesystems/StoreSection.h"

#include <algorithm>

IDataRunList* CNTFSFileProperties::GetDataRunList() const {
    return m_runRecord ? CreateDataRunListFromRecord(m_runRecord.get()) : nullptr;
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
    if (!m_name.empty())
        section->Write(m_name.data(), static_cast<std::uint32_t>(m_name.size()));
    RSWriteValue<std::uint64_t>(section, m_size);
    RSWriteValue<std::uint16_t>(section, m_attributes);
    RSWriteValue<std::uint64_t>(section, m_creationTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastWriteTime.ticks);
    RSWriteValue<std::uint64_t>(section, m_lastAccessTime.ticks);
    RSWriteValue<std::uint8_t>(section, m_state);
    RSWriteValue<std::uint64_t>(section, m_recordSector);
    SaveRunListRecordField(section, m_runRecord.get());
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
    m_name.clear();
    if (nameLength)
        RSReadBytes(section, m_name, nameLength);
    m_size = RSReadValue<std::uint64_t>(section);
    m_attributes = RSReadValue<std::uint16_t>(section);
    m_creationTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastWriteTime.ticks = RSReadValue<std::uint64_t>(section);
    m_lastAccessTime.ticks = RSReadValue<std::uint64_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_recordSector = RSReadValue<std::uint64_t>(section);
    m_runRecord = LoadRunListRecordField(section);
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

void FillNtfsFileProperties(NtfsFileInfo& info, CNTFSFileProperties* props) {
    props->m_name = std::move(info.name);
    props->m_size = info.size;
    props->m_attributes = info.attributes;
    props->m_creationTime = info.creationTime;
    props->m_lastWriteTime = info.lastWriteTime;
    props->m_lastAccessTime = info.lastAccessTime;
    props->m_state = info.state;
    props->m_recordSector = info.recordSector;
    props->m_runRecord = std::move(info.runRecord);
}

CNTFSFileProperties* CreateNtfsFilePropertiesFromRecord(MftRecordView* record, std::uint64_t recordSector,
                                                        std::int64_t* parentRef) {
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
    if (parentRef && parent != 0x0000FFFFFFFFFFFFull)
        *parentRef = static_cast<std::int64_t>(parent);

    NtfsFileInfo info;
    info.name = NtfsNameToNarrow(chosen->name, chosen->nameLength);
    if (info.name.empty())
        return nullptr;
    if (chosen->flags & kNtfsFileNameFlagDirectory)
        info.attributes |= FILEATTR_DIRECTORY;
    info.size = chosen->realSize;
    info.creationTime.ticks = info.lastWriteTime.ticks = info.lastAccessTime.ticks = chosen->creationTime;

    if (auto ref = record->FindAttributeEx(kNtfsAttrStandardInformation, 0); ref.attr) {
        NtfsStdInfoView si;
        if (ReadStdInfoAttr(ref.attr, si)) {
            info.creationTime.ticks = si.creationTime;
            info.lastWriteTime.ticks = si.lastWriteTime;
            info.lastAccessTime.ticks = si.lastAccessTime;
            info.attributes |= static_cast<std::uint16_t>(si.fileAttributes & 0x27);
        }
    }

    info.recordSector = recordSector;
    if (!(GetRecordFlags(record->Record()) & kNtfsRecordInUse))
        info.state = FILESTATE_DELETED;

    // Data: the unnamed $DATA pieces of the base record and its extension records.
    std::unique_ptr<IDataRunList> list;
    NtfsExtentList extents;
    for (int i = 0;; ++i) {
        auto ref = record->FindAttributeEx(kNtfsAttrData, i);
        if (!ref.attr)
            break;
        if (AttrNameLength(ref.attr) != 0)
            continue;
        if (AttrFlags(ref.attr) & kNtfsAttrFlagCompressed)
            info.attributes |= FILEATTR_COMPRESSED;
        if (AttrFlags(ref.attr) & kNtfsAttrFlagEncrypted)
            info.attributes |= FILEATTR_ENCRYPTED;
        if (!AttrNonResident(ref.attr)) {
            auto resident = std::make_unique<CResidentNTFSDataRunList>();
            resident->SetRun(ref.sector, 1, ref.offset + AttrValueOffset(ref.attr));
            list = std::move(resident);
            info.size = AttrValueLength(ref.attr);
            break;
        }
        std::uint64_t low = 0, dataSize = 0;
        if (CollectAttributeRuns(ref.attr, ref.bytesLeft, extents, &low, &dataSize) && low == 0) {
            if (info.size == 0 || IsUnknownNtfsSize(info.size) || dataSize > info.size)
                info.size = dataSize;
        }
    }
    if (!list && !extents.empty()) {
        SortExtents(extents);
        auto nonResident = std::make_unique<CNoneResidentNTFSDataRunList>();
        // Pieces whose extension record could not be read leave holes in the VCN range: they
        // read as zeros instead of shifting the rest of the file; repeated pieces are dropped.
        std::uint64_t next = 0;
        for (const auto& e : extents) {
            if (e.count == 0 || e.vcn < next)
                continue;
            if (e.vcn > next)
                nonResident->PushRun({kSparseRunStart, static_cast<std::int64_t>(e.vcn - next)});
            nonResident->PushRun({e.lcn < 0 ? kSparseRunStart : e.lcn, static_cast<std::int64_t>(e.count)});
            next = e.vcn + e.count;
        }
        if (nonResident->GetRunCount())
            list = std::move(nonResident);
    }
    if (list)
        info.runRecord = CreateRunListRecord(list.get());

    if ((info.attributes & FILEATTR_COMPRESSED) && (info.attributes & FILEATTR_ENCRYPTED))
        info.attributes &= static_cast<std::uint16_t>(~FILEATTR_COMPRESSED);

    CNTFSFileProperties* props = CreateNtfsFileProperties();
    FillNtfsFileProperties(info, props);
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
    props->m_name = name;
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
