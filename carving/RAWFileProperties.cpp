#include "carving/RAWFileProperties.h"

#include "carving/records/RawFileInfo.h"
#include "filesystems/StoreSection.h"
#include "storage/DeviceBounds.h"
#include "storage/StorageDevice.h"

#include <cstring>
#include <new>

namespace {
constexpr std::size_t kMaxRawNameBytes = 254;
}

CRAWFileProperties::~CRAWFileProperties() = default;

CRAWFileProperties* CreateRAWFileProperties() { return new (std::nothrow) CRAWFileProperties(); }

void CRAWFileProperties::SetName(const char* text) {
    m_name = text ? text : "";
    if (m_name.size() > kMaxRawNameBytes)
        m_name.resize(kMaxRawNameBytes);
}

void CRAWFileProperties::SetExtent(const CRawFileInfo& record) {
    SetExtent(record.m_u64StartSector, record.m_u64Size);
}

void CRAWFileProperties::SetExtent(std::uint64_t startSector, std::uint64_t size) {
    m_u64Size = size;
    CRAWDataRunList runs;
    runs.AddRun(static_cast<std::int64_t>(startSector),
                static_cast<std::int64_t>(size / kSectorSize + (size % kSectorSize != 0)));
    m_runRecord = CreateRunListRecord(&runs);
}

void CRAWFileProperties::SetClaimedSize(std::uint64_t claimed, ClaimCut why) {
    const bool cut = why != ClaimCut::None && claimed > m_u64Size;
    m_u64ClaimedSize = cut ? claimed : 0;
    m_cut = cut ? why : ClaimCut::None;
}

ClaimedSize CRAWFileProperties::GetClaimedSizeWhenCut() const {
    const ClaimCut cut = GetCut();
    if (cut == ClaimCut::None)
        return {};
    return {m_u64ClaimedSize, cut};
}

CarvedSizeFit FitCarvedSize(std::uint64_t claimed, std::uint64_t startSector, std::uint64_t deviceSectors,
                            std::uint64_t cap) {
    const std::uint64_t held = deviceSectors ? CapSizeToDevice(claimed, deviceSectors, startSector) : claimed;
    if (held < claimed && held <= cap)
        return {held, ClaimCut::DeviceEnd};
    if (cap < claimed)
        return {cap, ClaimCut::SizeLimit};
    return {claimed, ClaimCut::None};
}

FileTime* CRAWFileProperties::GetCreationTime(FileTime* time) const {
    *time = FileTime{};
    return time;
}
FileTime* CRAWFileProperties::GetLastWriteTime(FileTime* time) const {
    *time = FileTime{};
    return time;
}
FileTime* CRAWFileProperties::GetLastAccessTime(FileTime* time) const {
    *time = FileTime{};
    return time;
}

IDataRunList* CRAWFileProperties::GetDataRunList() const {
    return CreateDataRunListFromRecord(m_runRecord.get());
}

int CRAWFileProperties::Save(IRSData* section) const {
    const auto length = static_cast<std::uint8_t>(m_name.size() + 1);
    RSWriteValue<std::uint8_t>(section, length);
    section->Write(m_name.c_str(), length);
    RSWriteValue<std::uint64_t>(section, GetCut() != ClaimCut::None ? m_u64ClaimedSize : m_u64Size);
    RSWriteValue<std::uint16_t>(section, m_u16Attributes);
    RSWriteValue<std::uint8_t>(section, m_state);
    const std::uint32_t recordSize = GetRunListRecordSize(m_runRecord.get());
    RSWriteValue<std::uint32_t>(section, recordSize);
    if (recordSize)
        section->Write(m_runRecord->bytes.data(), recordSize);
    RSWriteValue<std::uint16_t>(section, m_runRecord ? m_runRecord->residentOffset : 0);
    return 1;
}

int CRAWFileProperties::Load(IRSData* section) {
    const std::uint8_t length = RSReadValue<std::uint8_t>(section);
    char name[256] = {};
    if (length)
        section->Read(name, length);
    name[length] = '\0'; // a damaged name may lack its terminator
    m_name = name;
    m_u64Size = RSReadValue<std::uint64_t>(section);
    m_u64ClaimedSize = 0;
    m_cut = ClaimCut::None;
    m_u16Attributes = RSReadValue<std::uint16_t>(section);
    m_state = RSReadValue<std::uint8_t>(section);
    m_runRecord = LoadRunListRecord(section);
    // Null means a length that could not be read or is too large: the record's bytes were not
    // consumed, so going on would read them as the next fields.
    if (!m_runRecord)
        throw CRSException(RSERR_SHORT_READ);
    m_checkState = 0;
    m_mark = 0;
    return 1;
}
