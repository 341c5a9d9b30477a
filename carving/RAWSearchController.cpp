#include "carving/RAWSearchController.h"

#include "carving/RAWFileProperties.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <exception>

void CRAWSearchController::BeginSearch() {
    m_pending.clear();
    m_cover.Clear();
    m_maxFileSize = GetScanOptions().MaxRawFileSize;
    if (m_testList) {
        m_list = m_testList;
    } else {
        m_list = GetRawFileAnalysers();
        SelectRawFileAnalysers(m_list, &GetScanOptions().RawFileTypes);
    }
    m_index.Build(*m_list);
    m_ring.Setup(0, m_step, kRawRingChunks); // refused for a step of 0: nothing is analysed
}

void CRAWSearchController::EndSearch() {
    m_pending.clear();
    m_spare.reset();
}

int CRAWSearchController::AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                                         IntelligentSearchStats* stats) {
    if (!m_list || m_list->Empty() || !m_sink || !m_ring.IsReady())
        return 1;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t n = count - done < m_step ? count - done : m_step;
        AnalyzeChunk(first + done, n, stats);
        done += n;
    }
    return 1;
}

void CRAWSearchController::AnalyzeChunk(std::uint64_t first, std::uint64_t count,
                                        IntelligentSearchStats* stats) {
    // The ring numbers its sectors like the device only while chunks follow one another: a
    // caller that skips or goes back starts a new window there, and the files still waiting
    // are left to the tree (their chunks would not be the ones the ring holds).
    const std::uint64_t expected = m_ring.GetWindowStart() + m_ring.GetSectorCount();
    if (first != expected || m_ring.IsAttached()) {
        m_pending.clear();
        if (!m_ring.Setup(first, m_step, kRawRingChunks))
            return;
    }
    // The chunk goes straight into the ring's incoming slot and is analysed there.
    std::uint8_t* chunk = m_ring.GetIncomingSlot();
    const std::uint64_t stepBytes = std::uint64_t(m_step) * kSectorSize;
    if (!m_device || !m_device->ReadSectors(chunk, first, count))
        std::memset(chunk, 0, stepBytes); // an unreadable chunk counts as empty
    else if (count < m_step)
        std::memset(chunk + count * kSectorSize, 0, stepBytes - count * kSectorSize);
    AnalyzeChunkBytes(first, count, chunk, stats);
    m_ring.CommitIncoming();
}

int CRAWSearchController::AnalyzeLoadedChunk(const SearchChunk& chunk,
                                             IntelligentSearchStats* stats) {
    if (!m_list || m_list->Empty() || !m_sink || !m_ring.IsReady())
        return 1;
    if (!chunk.data || !chunk.ring || chunk.count == 0 || chunk.count > m_step ||
        chunk.first % m_step != 0 || chunk.ringChunks <= kRawRingChunks ||
        chunk.keptChunks < kRawRingChunks)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    const std::uint64_t stepBytes = std::uint64_t(m_step) * kSectorSize;
    const auto slot = static_cast<std::uint32_t>((chunk.first / m_step) % chunk.ringChunks);
    if (chunk.data != chunk.ring + slot * stepBytes)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    // The ring's window is the search's ring: it follows the chunks as long as they follow one
    // another in the same ring.
    const std::uint64_t expected = m_ring.GetWindowStart() + m_ring.GetSectorCount();
    const bool follows = chunk.first == expected && m_ring.IsAttached() &&
                         m_ring.GetStorage() == chunk.ring &&
                         m_ring.GetStorageSectors() == std::uint64_t(chunk.ringChunks) * m_step &&
                         m_ring.GetIncomingSlotIndex() == slot;
    if (!follows) {
        if (chunk.first != expected || m_ring.GetSectorCount() != 0)
            m_pending.clear();
        if (!m_ring.Attach(chunk.first, m_step, kRawRingChunks, chunk.ring, chunk.ringChunks,
                           slot))
            return 1;
    }
    // An unreadable chunk counts as empty: its sectors are not offered to the analysers.
    AnalyzeChunkBytes(chunk.first, chunk.readWhole ? chunk.count : 0, chunk.data, stats);
    m_ring.CommitIncoming();
    return 1;
}

void CRAWSearchController::AnalyzeChunkBytes(std::uint64_t first, std::uint64_t count,
                                             const std::uint8_t* chunk,
                                             IntelligentSearchStats* stats) {
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* sector = chunk + i * kSectorSize;
        std::uint32_t head;
        std::memcpy(&head, sector, 4);
        if (head == 0)
            continue;
        if (!m_spare) [[unlikely]]
            m_spare = std::make_unique<CRawFileInfo>();
        CRawFileInfo* record = m_spare.get();
        const int position = m_useIndex ? m_index.Match(sector, record)
                                        : MatchSectorByWalk(*m_list, sector, record);
        if (position < 0)
            continue; // the spare stays, reset, for the next sector
        IRawFileAnalyser* analyser = m_list->At(static_cast<std::size_t>(position));
        record->m_u64StartSector = first + i;
        record->m_pAnalyser = analyser;
        record->m_u32AnalyserType = static_cast<std::uint32_t>(analyser->GetTypeId());
        if (m_cover.Covers(*record, first + i)) {
            record->Reset(); // inside a sized file of its type: part of that file
            continue;
        }
        m_cover.Note(*record, KeptSize(*record));
        m_sink->Add(m_spare.release());
        if (stats) {
            ++stats->counters[ISS_FilesIdentified];
            ++stats->counters[ISS_TotalFilesFound];
        }
        if (record->m_u64Size == 0)
            m_pending.push_back(record);
    }

    // Once the ring is full, its oldest chunk is about to leave: size the files waiting there.
    if (m_ring.IsFull()) {
        const std::uint64_t last = m_ring.GetWindowStart() + count - 1;
        while (!m_pending.empty()) {
            CRawFileInfo* r = m_pending.front();
            if (r->m_u64StartSector > last)
                break;
            try {
                r->m_pAnalyser->ComputeFileSize(r, &m_ring);
            } catch (const std::exception& e) {
                LogError("Sizing the carved file at sector %" PRIu64 " failed: %s",
                         r->m_u64StartSector, e.what());
            } catch (...) {
                LogError("Sizing the carved file at sector %" PRIu64 " failed",
                         r->m_u64StartSector);
            }
            m_pending.pop_front();
            if (r->m_u64Size != 0)
                DropNestedFiles(*r, stats);
        }
    }
}

void CRAWSearchController::DropNestedFiles(const CRawFileInfo& record,
                                           IntelligentSearchStats* stats) {
    if (!AnalyserNestsOwnType(record.m_u32AnalyserType))
        return;
    const std::uint64_t kept = KeptSize(record);
    m_cover.Note(record, kept);
    CSizedFileCover own;
    own.Note(record, kept);
    const auto inside = [&](const CRawFileInfo& r) {
        return &r != &record && own.Covers(r, r.m_u64StartSector);
    };
    std::erase_if(m_pending, [&](const CRawFileInfo* r) { return inside(*r); });
    const std::size_t dropped = m_sink->DropNewerThan(record.m_u64StartSector, inside);
    if (stats)
        for (int counter : {ISS_FilesIdentified, ISS_TotalFilesFound})
            stats->counters[counter] -= std::min<std::uint64_t>(stats->counters[counter], dropped);
}

std::uint64_t CRAWSearchController::KeptSize(const CRawFileInfo& record) const {
    if (record.m_u64Size == 0)
        return 0;
    const std::uint64_t deviceSectors = m_device ? m_device->GetSectorCount() : 0;
    return FitCarvedSize(record.m_u64Size, record.m_u64StartSector, deviceSectors, m_maxFileSize)
        .size;
}
