#pragma once
// The RAW search over a whole device, chunk after chunk of `step` sectors, as the deep scan
// feeds it, for the carving tests over real files.
#include "carving/RAWSearchController.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/IntelligentSearchStats.h"
#include "storage/StorageDevice.h"

#include <algorithm>
#include <cstdint>

inline IntelligentSearchStats RunRawSearch(IStorageDevice& device, CRawFileList& list, std::uint32_t step) {
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetSectorsPerStep(step);
    controller.SetResultSink(&list);
    controller.BeginSearch();
    IntelligentSearchStats stats{};
    const std::uint64_t sectors = device.GetSectorCount();
    for (std::uint64_t s = 0; s < sectors; s += step)
        controller.AnalyzeSectors(s, std::min<std::uint64_t>(step, sectors - s), &stats);
    controller.EndSearch();
    return stats;
}
