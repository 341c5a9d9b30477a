#include "tests/carving/analysers/DocumentKit.h"

#include "filesystems/FileProperties.h"

namespace dockit {

ScopedMaxRawFileSize::ScopedMaxRawFileSize(std::uint64_t limit)
    : m_saved(GetScanOptions().MaxRawFileSize) {
    GetScanOptions().MaxRawFileSize = limit;
}

ScopedMaxRawFileSize::~ScopedMaxRawFileSize() {
    GetScanOptions().MaxRawFileSize = m_saved;
}

} // namespace dockit
