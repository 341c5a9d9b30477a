#pragma once
// The deep scan's carving controller: offers every sector that does not begin with four zero
// bytes to the analysers of the registry (dispatched by signature), records each match in the
// carved-file list, and sizes files whose header does not give their size from the ring of the
// last 20 chunks once their chunk is the ring's oldest. Files still unsized at the end keep
// size 0; the RAW tree sizes them on the device.
#include <cstdint>
#include <deque>
#include <memory>

#include "carving/BufferStorageDevice.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SignatureIndex.h"
#include "carving/SizedFileCover.h"
#include "filesystems/FileSystemSearchController.h"

constexpr std::uint32_t kRawRingChunks = 20;

class CRAWSearchController : public IFileSystemSearchController {
public:
    CRAWSearchController() = default;
    ~CRAWSearchController() override = default;

    void SetDevice(IStorageDevice* device) override { m_device = device; }
    void SetSectorsPerStep(std::uint32_t sectors) override { m_step = sectors; }
    // Refills the registry for ScanOptions.RawFileTypes, indexes it and sets up the ring.
    void BeginSearch() override;
    // Drops the files still waiting for a size (they stay in the list with size 0). The ring
    // stays allocated for a next search and is freed with the controller.
    void EndSearch() override;
    // One chunk of the device, in order from sector 0 without gaps. A count above the step is
    // taken as several chunks. Always 1.
    int AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                       IntelligentSearchStats* stats) override;
    // In place when the search keeps the last kRawRingChunks chunks in its ring: the ring is
    // then a view of the search's, and no chunk is copied. A chunk that could not be read
    // whole counts as empty, as with AnalyzeSectors.
    int AnalyzeLoadedChunk(const SearchChunk& chunk, IntelligentSearchStats* stats) override;
    std::uint32_t GetChunksKept() const override { return kRawRingChunks; }
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>&) override {}
    void SetResultSink(CRawFileList* sink) override { m_sink = sink; }
    int SaveState(IRSData*) override { return 1; }
    int LoadState(IRSData*) override { return 1; }
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_RAW; }

    // With false every sector is offered to the registry's analysers one by one in list order
    // (the plain walk); the answers are the same, only slower. For tests.
    void SetUseSignatureIndex(bool use) { m_useIndex = use; }
    // Uses `list` instead of the process-wide registry (which BeginSearch would refill). For
    // tests; the list must outlive the search.
    void SetAnalyserListForTesting(RawFileAnalyserList* list) { m_testList = list; }
    std::size_t GetPendingCount() const { return m_pending.size(); }
    const CBufferStorageDevice& GetRing() const { return m_ring; }

private:
    void AnalyzeChunk(std::uint64_t first, std::uint64_t count, IntelligentSearchStats* stats);
    // The sectors of a chunk that is the ring's incoming one, then the sizing of the files
    // waiting in the ring's oldest chunk; the caller commits the chunk.
    void AnalyzeChunkBytes(std::uint64_t first, std::uint64_t count, const std::uint8_t* chunk,
                           IntelligentSearchStats* stats);
    // `record` has just been sized: if its analyser nests its own type, the files of its type
    // found inside its kept span (KeptSize) are parts of it and leave the list.
    void DropNestedFiles(const CRawFileInfo& record, IntelligentSearchStats* stats);
    // The bytes of `record` that the RAW tree keeps: its size cut to the device's end and to
    // the largest carved size, as FitCarvedSize cuts it. A header may claim far more (a damaged
    // compound file claims gigabytes); files found behind what is kept are files of their own.
    std::uint64_t KeptSize(const CRawFileInfo& record) const;

    IStorageDevice* m_device = nullptr;
    std::uint32_t m_step = 0;
    CRawFileList* m_sink = nullptr;
    CBufferStorageDevice m_ring;
    std::deque<CRawFileInfo*> m_pending; // not owned: the records belong to the sink
    std::unique_ptr<CRawFileInfo> m_spare;
    RawFileAnalyserList* m_list = nullptr;
    RawFileAnalyserList* m_testList = nullptr;
    CSignatureIndex m_index;
    CSizedFileCover m_cover;
    std::uint64_t m_maxFileSize = 0; // ScanOptions.MaxRawFileSize when the search began
    bool m_useIndex = true;
};
