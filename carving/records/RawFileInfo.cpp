#include "carving/records/RawFileInfo.h"

#include "filesystems/StoreSection.h"
#include "logging/Log.h"

#include <algorithm>

void CRawFileList::Clear() {
    for (CRawFileInfo* r : m_list)
        delete r;
    m_list.clear();
    m_bySector.clear();
    m_iterator.First();
}

void CRawFileList::Add(CRawFileInfo* record) {
    if (!record)
        return;
    m_list.push_back(record);
    m_bySector.emplace(record->m_u64StartSector, record);
}

CRawFileInfo* CRawFileList::FindAtSector(std::uint64_t sector) const {
    auto it = m_bySector.find(sector);
    return it == m_bySector.end() ? nullptr : it->second;
}

CRawFileInfo* FindRawFileAtSector(const CRawFileList* list, std::uint64_t sector) {
    return list ? list->FindAtSector(sector) : nullptr;
}

void SaveFoundFileList(IRSData* section, const CRawFileList& list) {
    RSWriteValue<std::uint64_t>(section, list.Size());
    std::uint64_t scanned = 0;
    for (const CRawFileInfo* r : list.Records()) {
        RSWriteValue<std::uint64_t>(section, r->m_u64StartSector);
        RSWriteValue<std::uint64_t>(section, std::max(r->m_u64Size, r->m_u64ClaimedSize));
        RSWriteValue<std::uint32_t>(section, r->m_u32FileType);
        RSWriteValue<std::uint16_t>(section, static_cast<std::uint16_t>(r->m_u32AnalyserType));
        scanned += r->m_bScannedToLimit;
    }
    // Without the trailer such a size would read back as one the file claims.
    if (scanned == 0)
        return;
    RSWriteValue<std::uint32_t>(section, kScanLimitTrailerTag);
    RSWriteValue<std::uint64_t>(section, scanned);
    for (std::size_t i = 0; i < list.Size(); ++i)
        if (list.Records()[i]->m_bScannedToLimit)
            RSWriteValue<std::uint64_t>(section, i);
}

std::unique_ptr<CRawFileList> LoadFoundFileList(IRSData* section) {
    auto list = std::make_unique<CRawFileList>();
    try {
        section->OpenSection(kFoundFileListSection);
        // The count comes from the file: records are read one by one, so a damaged count ends
        // in a short read instead of a huge allocation.
        const std::uint64_t count = RSReadValue<std::uint64_t>(section);
        for (std::uint64_t i = 0; i < count; ++i) {
            auto r = std::make_unique<CRawFileInfo>();
            r->m_u64StartSector = RSReadValue<std::uint64_t>(section);
            r->m_u64Size = RSReadValue<std::uint64_t>(section);
            r->m_u32FileType = RSReadValue<std::uint32_t>(section);
            r->m_u32AnalyserType = RSReadValue<std::uint16_t>(section);
            list->Add(r.release());
        }
        // Lists saved before the trailer end here.
        if (!section->AtSectionEnd()) {
            if (RSReadValue<std::uint32_t>(section) != kScanLimitTrailerTag)
                throw CRSException(RSERR_BAD_HEADER);
            const std::uint64_t scanned = RSReadValue<std::uint64_t>(section);
            if (scanned == 0 || scanned > list->Size())
                throw CRSException(RSERR_BAD_HEADER);
            std::uint64_t next = 0; // positions ascend: none is marked twice
            for (std::uint64_t i = 0; i < scanned; ++i) {
                const std::uint64_t at = RSReadValue<std::uint64_t>(section);
                if (at < next || at >= list->Size())
                    throw CRSException(RSERR_BAD_HEADER);
                list->Records()[static_cast<std::size_t>(at)]->m_bScannedToLimit = true;
                next = at + 1;
            }
        }
        section->CloseSection();
    } catch (const IRSException& e) {
        ReleaseTrace("RS Exception:%d", e.GetErrorCode());
        throw;
    }
    return list;
}
