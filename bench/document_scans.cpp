// Sizing rate of the document analysers that scan or walk a file (PDF, RTF, HTML, Access),
// over a device held in memory, beside the baseline of the same bytes read through the
// carving reader block by block and searched with memchr. Rates are bytes/s of the file.
#include "carving/analysers/FileHTMAnalyser.h"
#include "carving/analysers/FileMDBAnalyser.h"
#include "carving/analysers/FilePDFAnalyser.h"
#include "carving/analysers/FileRTFAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class VectorDevice : public IStorageDevice {
public:
    explicit VectorDevice(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {
        m_bytes.resize((m_bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize +
                       kSectorSize);
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        const std::uint64_t n = m_bytes.size() / kSectorSize;
        if (first >= n || count > n - first)
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * kSectorSize, count * kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_bytes.size() / kSectorSize; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
};

constexpr std::size_t kTextBytes = 40u << 20;

// Text lines as PDF content streams and RTF bodies have them.
std::vector<std::uint8_t> TextFile(const std::string& head, const std::string& line,
                                   const std::string& end, std::size_t size) {
    std::string s = head;
    while (s.size() + line.size() + end.size() < size)
        s += line;
    s += end;
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

void Size(benchmark::State& state, IRawFileAnalyser& a, const std::vector<std::uint8_t>& file) {
    VectorDevice dev(file);
    GetScanOptions().SetDefaults();
    for (auto _ : state) {
        CRawFileInfo r;
        a.MatchHeader(file.data(), &r);
        a.ComputeFileSize(&r, &dev);
        if (r.m_u64Size != file.size())
            state.SkipWithError("wrong size");
        benchmark::DoNotOptimize(r.m_u64Size);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

void BM_BaselineReadAndMemchr(benchmark::State& state) {
    const auto file =
        TextFile("%PDF-1.4\n", "BT /F1 12 Tf 72 712 Td (A line of text) Tj ET\n", "", kTextBytes);
    VectorDevice dev(file);
    for (auto _ : state) {
        RawFileReader reader(&dev, 0);
        std::uint64_t found = 0;
        for (std::uint64_t x = 0; x < file.size();) {
            ByteSpan s = reader.Read(x);
            if (s.empty())
                break;
            const std::size_t n =
                std::min<std::uint64_t>(s.size(), kRawReaderBlockBytes - x % kRawReaderBlockBytes);
            found += std::memchr(s.data(), '#', n) != nullptr;
            x += n;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_BaselineReadAndMemchr)->Unit(benchmark::kMillisecond);

void BM_PdfScan(benchmark::State& state) {
    // A '%' in every line: the scan stops at each one.
    const auto file = TextFile("%PDF-1.4\n", "BT /F1 12 Tf 72 712 Td (A 50% line) Tj ET\n",
                               "%%EOF\n", kTextBytes);
    FilePDFAnalyser a;
    Size(state, a, file);
}
BENCHMARK(BM_PdfScan)->Unit(benchmark::kMillisecond);

void BM_RtfBraceCount(benchmark::State& state) {
    const auto file =
        TextFile("{\\rtf1\\ansi ", "{\\pard A paragraph of text with {\\b bold} words.\\par}\n",
                 "}", kTextBytes);
    FileRTFAnalyser a;
    Size(state, a, file);
}
BENCHMARK(BM_RtfBraceCount)->Unit(benchmark::kMillisecond);

void BM_HtmlScan(benchmark::State& state) {
    const auto file = TextFile("<html><body>\n", "<p>A line of <b>text</b> in a page.</p>\n",
                               "</body></html>", 1000000);
    FileHTMAnalyser a;
    Size(state, a, file);
}
BENCHMARK(BM_HtmlScan)->Unit(benchmark::kMillisecond);

void BM_MdbPageWalk(benchmark::State& state) {
    std::vector<std::uint8_t> file(45u << 20, 0x41);
    const char magic[] = "\x00\x01\x00\x00Standard Jet DB";
    std::memcpy(file.data(), magic, 20);
    file[20] = 1;
    for (std::size_t p = 4096; p < file.size(); p += 4096)
        file[p] = 1;
    file.resize(file.size() + 1, 0x7F); // no page type: the walk ends here
    file.pop_back();
    FileMDBAnalyser a;
    VectorDevice dev([&] {
        auto f = file;
        f.resize(f.size() + 4096, 0x7F);
        return f;
    }());
    GetScanOptions().SetDefaults();
    for (auto _ : state) {
        CRawFileInfo r;
        a.ComputeFileSize(&r, &dev);
        if (r.m_u64Size != file.size())
            state.SkipWithError("wrong size");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_MdbPageWalk)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
