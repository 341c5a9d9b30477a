#include "carving/analysers/AnalyserCalls.h"

#include "carving/records/RawFileTypeTable.h"

const char* AnalyserTypeName(std::uint32_t analyserTypeId) {
    if (analyserTypeId == kCustomAnalyserTypeId)
        return "script";
    return GetRawFileTypeExtension(analyserTypeId);
}
