#pragma once
// An analyser's calls as the searches and the RAW tree make them: an analyser that throws on a
// damaged sector or file has not matched it, or not sized it, and the log says so on its first
// failure (see logging/GuardedCall.h), once per analyser type.
#include "carving/analysers/RawFileAnalyser.h"
#include "logging/GuardedCall.h"

#include <cstdint>

// The extension of an analyser's type for the log ("PNG"), "script" for the analyser of the
// script types, "" when there is none.
const char* AnalyserTypeName(std::uint32_t analyserTypeId);

inline constexpr GuardedSite kAnalyserMatchSite{"Matching a sector", "analyser", &AnalyserTypeName};
inline constexpr GuardedSite kAnalyserSizeSite{"Sizing a carved file", "analyser",
                                               &AnalyserTypeName};

// MatchHeader; 0 when the analyser threw.
inline int GuardedMatchHeader(IRawFileAnalyser& analyser, const std::uint8_t* sector,
                              CRawFileInfo* record) {
    return GuardedCall(
        kAnalyserMatchSite, static_cast<std::uint32_t>(analyser.GetTypeId()),
        [&] { return analyser.MatchHeader(sector, record); }, 0);
}

// ComputeFileSize, whose result the caller reads from the record; false when the analyser threw
// (the record then holds whatever it wrote before).
inline bool GuardedComputeFileSize(IRawFileAnalyser& analyser, CRawFileInfo* record,
                                   IStorageDevice* device) {
    return GuardedCall(kAnalyserSizeSite, static_cast<std::uint32_t>(analyser.GetTypeId()),
                       [&] { (void)analyser.ComputeFileSize(record, device); });
}
