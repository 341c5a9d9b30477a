// Every registered carving analyser over arbitrary bytes taken as a small device: MatchHeader on
// each sector, then ComputeFileSize from each sector on the device itself and on a ring of
// 4-sector chunks filled from it (reads outside the ring's window fail, as during a search).
// The first sector also goes through the custom-type script parser as a script's text.
#include "carving/BufferStorageDevice.h"
#include "carving/CustomFileTypes.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SignatureIndex.h"
#include "fuzz/SpanDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::unique_ptr<IRawFileAnalyser>>& Analysers() {
    static std::vector<std::unique_ptr<IRawFileAnalyser>> list = [] {
        std::vector<std::unique_ptr<IRawFileAnalyser>> out;
        for (const char* name : GetRegisteredAnalyserNames())
            out.push_back(CreateAnalyserByName(name));
        return out;
    }();
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 256 * 1024)
        return 0;
    SpanDevice dev(data, size);
    const std::uint64_t sectors = dev.GetSectorCount();
    std::vector<std::uint8_t> bytes(sectors * kSectorSize);
    dev.ReadSectors(bytes.data(), 0, sectors);

    CBufferStorageDevice ring;
    ring.Setup(0, 4, 3);
    for (std::uint64_t s = 0; s + 4 <= sectors; s += 4)
        ring.AppendChunk(bytes.data() + s * kSectorSize);

    for (auto& a : Analysers()) {
        for (std::uint64_t s = 0; s < sectors && s < 16; ++s) {
            CRawFileInfo r;
            r.m_u64StartSector = s;
            try {
                a->MatchHeader(bytes.data() + s * kSectorSize, &r);
                r.m_u64StartSector = s;
                a->ComputeFileSize(&r, &dev);
                CRawFileInfo w;
                w.m_u64StartSector = s;
                a->ComputeFileSize(&w, &ring);
            } catch (...) {
            }
        }
    }

    CCustomHeader script;
    script.LoadText(std::string(reinterpret_cast<const char*>(data), size < 1100 ? size : 1100));
    if (!script.m_items.empty())
        script.Match(bytes.data());
    return 0;
}
