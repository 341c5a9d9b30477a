#include "recovery/EfsRawStream.h"

#include "logging/Log.h"
#include "storage/ByteSpan.h"
#include "recovery/FileRecoverCallback.h"
#include "recovery/TargetFile.h"
#include "recovery/TargetFiles.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// An ASCII text as UTF-16LE at `at`.
void PutText(const MutableByteSpan& b, std::size_t at, const char* text) {
    for (; *text; ++text, at += 2)
        b.put16(at, static_cast<std::uint8_t>(*text));
}

constexpr std::uint32_t kEfsVersion = 0x00000100;

} // namespace

std::array<std::uint8_t, kEfsFileHeaderSize> BuildEfsFileHeader(std::uint32_t efsStreamLength) {
    std::array<std::uint8_t, kEfsFileHeaderSize> b{};
    const MutableByteSpan w(b.data(), b.size());
    w.put32(0, kEfsVersion);
    PutText(w, 4, "ROBS");
    w.put32(20, 30);
    PutText(w, 24, "NTFS");
    w.put32(44, 2);
    w.put16(48, 0x1910);
    w.put32(50, efsStreamLength + 16);
    PutText(w, 54, "GURE");
    return b;
}

std::array<std::uint8_t, kEfsStreamHeaderSize> BuildEfsStreamHeader() {
    std::array<std::uint8_t, kEfsStreamHeaderSize> b{};
    const MutableByteSpan w(b.data(), b.size());
    w.put32(0, kEfsStreamHeaderSize);
    PutText(w, 4, "NTFS");
    w.put32(24, 14);
    PutText(w, 28, "::$DATA");
    return b;
}

std::array<std::uint8_t, kEfsBlockHeaderSize>
BuildEfsDataBlockHeader(std::uint16_t blockNumber, std::uint32_t blockBytes, std::uint64_t owed) {
    std::array<std::uint8_t, kEfsBlockHeaderSize> b{};
    const MutableByteSpan w(b.data(), b.size());
    const std::uint32_t plain = owed < blockBytes ? static_cast<std::uint32_t>(owed) : blockBytes;
    w.put32(0, blockBytes + static_cast<std::uint32_t>(kEfsBlockHeaderSize));
    PutText(w, 4, "GURE");
    w.put16(18, blockNumber);
    w.put32(24, 496);
    w.put32(28, plain);
    w.put32(32, plain);
    w.put32(36, 0x10100000);
    w.put32(40, 0x0001010B);
    w.put32(44, blockBytes);
    return b;
}

namespace {

// Creates the stream file beside the target without replacing anything that exists.
int CreateStreamFile(CTargetFile& file, const std::string& targetPath, std::string& efsPath) {
    efsPath = targetPath + ".EFS";
    int err = file.CreateNew(efsPath);
    if (err == kErrorFileExists) {
        const std::size_t slash = efsPath.rfind('/');
        if (slash == std::string::npos)
            return kErrorPathNotFound;
        err = MakeNumberedFileName(efsPath, efsPath.substr(0, slash), efsPath.substr(slash + 1));
        if (err == kErrorSuccess)
            err = file.OpenAlways(efsPath); // the numbered file was just created empty
    }
    return err;
}

int BuildStream(CTargetFile& target, CTargetFile& out, IFileRecoverCallback* callback,
                std::uint64_t fileSize) {
    std::uint8_t header[kEfsFileHeaderSize];
    if (target.ReadFull(header, sizeof header) != static_cast<long long>(sizeof header))
        return kRecoverFailed;
    const auto expected = BuildEfsFileHeader(0);
    const std::uint32_t lengthField = ByteSpan(header, sizeof header).u32(50);
    // Only a header this engine wrote is accepted: fixed fields as built, a sane length.
    if (std::memcmp(header, expected.data(), 50) != 0 || lengthField < 16 ||
        lengthField - 16 > kEfsMaxMetadata)
        return kRecoverFailed;
    std::vector<std::uint8_t> buffer(kEfsBlockSize > kEfsMaxMetadata ? kEfsBlockSize : kEfsMaxMetadata);
    const std::size_t metadata = lengthField - 16;
    if (target.ReadFull(buffer.data(), metadata) != static_cast<long long>(metadata))
        return kRecoverFailed;
    const auto streamHeader = BuildEfsStreamHeader();
    if (!out.WriteAll(header, sizeof header) || !out.WriteAll(buffer.data(), metadata) ||
        !out.WriteAll(streamHeader.data(), streamHeader.size()))
        return kRecoverFailed;
    std::uint64_t owed = fileSize;
    for (std::uint32_t block = 0;; ++block) {
        if (callback && callback->Poll() == -1)
            return kRecoverCancelled;
        const long long n = target.ReadFull(buffer.data(), kEfsBlockSize);
        if (n < 0)
            return kRecoverFailed;
        if (n == 0)
            break;
        const auto blockHeader = BuildEfsDataBlockHeader(static_cast<std::uint16_t>(block),
                                                         static_cast<std::uint32_t>(n), owed);
        if (!out.WriteAll(blockHeader.data(), blockHeader.size()) ||
            !out.WriteAll(buffer.data(), static_cast<std::size_t>(n)))
            return kRecoverFailed;
        owed -= owed < static_cast<std::uint64_t>(n) ? owed : static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) < kEfsBlockSize)
            break;
    }
    return kRecoverDone;
}

} // namespace

int RestoreEfsFile(const std::string& targetPath, IFileRecoverCallback* callback,
                   std::uint64_t fileSize, std::string& efsPath) {
    CTargetFile target;
    if (target.OpenRead(targetPath) != kErrorSuccess) {
        ReleaseTrace("Failed to open file %s", targetPath.c_str());
        return kRecoverFailed;
    }
    CTargetFile out;
    if (CreateStreamFile(out, targetPath, efsPath) != kErrorSuccess) {
        ReleaseTrace("Failed to create efs file.");
        return kRecoverFailed;
    }
    DebugTrace("Creating temporary file: %s", efsPath.c_str());
    int result = BuildStream(target, out, callback, fileSize);
    if (!out.Close() && result == kRecoverDone)
        result = kRecoverFailed;
    if (result != kRecoverDone) {
        DebugTrace("Deleting temporary file: %s", efsPath.c_str());
        if (!DeleteTargetFile(efsPath))
            ReleaseTrace("Failed to delete temporary file : %s, Error code:%d", efsPath.c_str(),
                         MapCreateErrno(errno, false));
    }
    return result;
}
