#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/StoreSection.h"

// What the search keeps for the tree builds, saved with the scan state.

int CNTFSSearchController::SaveState(IRSData* section) {
    RSWriteValue<std::uint64_t>(section, m_kept.mftRecords.size());
    for (const NtfsRecordNode& node : m_kept.mftRecords) {
        RSWriteValue<std::uint64_t>(section, node.sector);
        RSWriteValue<std::uint8_t>(section, node.sectorsPerRecord);
        RSWriteValue<std::uint8_t>(section, node.sectorsPerCluster);
        RSWriteValue<std::uint64_t>(section, node.extents.size());
        for (const NtfsExtent& e : node.extents) {
            RSWriteValue<std::uint64_t>(section, static_cast<std::uint64_t>(e.lcn));
            RSWriteValue<std::uint64_t>(section, e.count);
            RSWriteValue<std::uint64_t>(section, e.vcn);
        }
    }
    RSWriteValue<std::uint64_t>(section, m_kept.runs.size());
    for (const FileRecordRun& run : m_kept.runs) {
        RSWriteValue<std::uint64_t>(section, run.firstSector);
        RSWriteValue<std::uint64_t>(section, run.recordCount);
    }
    return 1;
}

int CNTFSSearchController::LoadState(IRSData* section) {
    // Counts come from a file: the lists grow one item per item read, so a damaged count ends
    // in a short read (thrown by the store) rather than a huge allocation.
    const std::uint64_t nodes = RSReadValue<std::uint64_t>(section);
    for (std::uint64_t i = 0; i < nodes; ++i) {
        NtfsRecordNode node;
        node.sector = RSReadValue<std::uint64_t>(section);
        node.sectorsPerRecord = RSReadValue<std::uint8_t>(section);
        node.sectorsPerCluster = RSReadValue<std::uint8_t>(section);
        const std::uint64_t extents = RSReadValue<std::uint64_t>(section);
        for (std::uint64_t k = 0; k < extents; ++k) {
            NtfsExtent e{};
            e.lcn = static_cast<std::int64_t>(RSReadValue<std::uint64_t>(section));
            e.count = RSReadValue<std::uint64_t>(section);
            e.vcn = RSReadValue<std::uint64_t>(section);
            node.extents.push_back(e);
        }
        m_kept.mftSectors.insert(node.sector);
        m_kept.mftRecords.push_back(std::move(node));
    }
    const std::uint64_t runs = RSReadValue<std::uint64_t>(section);
    for (std::uint64_t i = 0; i < runs; ++i) {
        FileRecordRun run;
        run.firstSector = RSReadValue<std::uint64_t>(section);
        run.recordCount = RSReadValue<std::uint64_t>(section);
        m_kept.runs.push_back(run);
    }
    return 1;
}
