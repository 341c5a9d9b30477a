#include "tests/support/NtfsImages.h"

#include "tests/support/FixtureKit.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace testsupport {

bool MakeNtfsImage(const std::string& image, const NtfsImageRecipe& recipe) {
    if (!RequireTool("mkntfs"))
        return false;
    std::remove(image.c_str());
    std::string cmd = "truncate -s " + std::to_string(recipe.sizeMiB) + "M " + ShellQuote(image) +
                      " && mkntfs -F -Q -q -c " + std::to_string(recipe.clusterSize) + " -p " +
                      std::to_string(recipe.partitionStart) + " -L " + ShellQuote(recipe.label) +
                      (recipe.compressed ? " -C " : " ") + ShellQuote(image);
    return MustRun(cmd);
}

bool NtfsCopyIn(const std::string& image, const std::string& hostFile, const std::string& dest) {
    if (!RequireTool("ntfscp"))
        return false;
    return MustRun("ntfscp -q " + ShellQuote(image) + " " + ShellQuote(hostFile) + " " + ShellQuote(dest));
}

bool NtfsWriteFile(const std::string& image, const std::string& dest,
                   const std::vector<std::uint8_t>& bytes) {
    std::string tmp = image + ".incoming";
    if (!WriteFileBytes(tmp, bytes)) {
        ADD_FAILURE() << "cannot write " << tmp;
        return false;
    }
    bool ok = NtfsCopyIn(image, tmp, dest);
    std::remove(tmp.c_str());
    return ok;
}

std::string NtfsEditTool() { return std::string(BRULIN_BINARY_DIR) + "/tests/ntfs_edit"; }

namespace {

// Runs the editor over `image` with `mode` ("", "compress" or "readonly"). The command and
// output files are named per process and call, so parallel tests that query one cached image
// never share them.
bool RunNtfsEdit(const std::string& image, const std::string& commands, std::string* output,
                 const char* mode) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = image + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const std::string script = stem + ".commands";
    {
        std::ofstream out(script, std::ios::binary | std::ios::trunc);
        out << commands << "\n";
    }
    const std::string outFile = stem + ".out";
    // libntfs-3g keeps a few allocations to process exit; the helper is not what the leak check
    // is for, and ASAN_OPTIONS from the test run would override its own default.
    bool ok = MustRun("ASAN_OPTIONS=detect_leaks=0 " + ShellQuote(NtfsEditTool()) + " " + ShellQuote(image) +
                      (*mode ? std::string(" ") + mode : std::string()) + " < " + ShellQuote(script) + " > " +
                      ShellQuote(outFile));
    if (output) {
        auto bytes = ReadFileBytes(outFile);
        output->assign(bytes.begin(), bytes.end());
    }
    std::remove(script.c_str());
    std::remove(outFile.c_str());
    return ok;
}

} // namespace

bool NtfsEdit(const std::string& image, const std::string& commands, std::string* output, bool compress) {
    return RunNtfsEdit(image, commands, output, compress ? "compress" : "");
}

std::string NtfsEditWord(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"\\") == std::string::npos)
        return word;
    std::ostringstream out;
    out << std::quoted(word);
    return out.str();
}

bool NtfsMkdir(const std::string& image, const std::string& path) { return NtfsEdit(image, "mkdir " + path); }

bool NtfsDelete(const std::string& image, const std::string& path) { return NtfsEdit(image, "rm " + path); }

std::int64_t NtfsRecordNumber(const std::string& image, const std::string& path) {
    std::string out;
    // Read-only: cached images are shared by tests running at the same time.
    if (!RunNtfsEdit(image, "ino " + path, &out, "readonly"))
        return -1;
    return std::stoll(out);
}

std::int64_t NtfsRecordOffset(const std::string& image, std::uint64_t record) {
    std::ifstream in(image, std::ios::binary);
    unsigned char boot[512];
    if (!in.read(reinterpret_cast<char*>(boot), sizeof boot))
        return -1;
    auto rd = [&](int off, int width) {
        std::uint64_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = (v << 8) | boot[off + i];
        return v;
    };
    std::uint64_t clusterBytes = rd(0x0B, 2) * rd(0x0D, 1);
    return static_cast<std::int64_t>(rd(0x30, 8) * clusterBytes + record * 1024);
}

bool ZeroFileRange(const std::string& path, std::uint64_t offset, std::uint64_t count) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!f)
        return false;
    std::vector<char> zeros(count, 0);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    return static_cast<bool>(f);
}

} // namespace testsupport

namespace testsupport {
std::vector<std::uint8_t> NtfsEditPattern(std::size_t size, std::uint32_t seed) {
    // Same generator as tests/tools/ntfs_edit.cpp.
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return out;
}
} // namespace testsupport
