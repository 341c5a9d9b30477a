#include "recovery/EfsRawStream.h"

#include "logging/Log.h"
#include "recovery/FileRecoverCallback.h"
#include "recovery/TargetFile.h"
#include "recovery/TargetFiles.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

template <std::size_t N> void Put32(std::array<std::uint8_t, N>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <std::size_t N> void Put16(std::array<std::uint8_t, N>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

template <std::size_t N> void PutText(std::array<std::uint8_t, N>& b, std::size_t at, const char* text) {
    for (; *text; ++text, at += 2)
        Put16(b, at, static_cast<std::uint8_t>(*text));
}

std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint32_t kEfsVersion = 0x00000100;

} // namespace

std::array<std::uint8_t, kEfsFileHeaderSize> BuildEfsFileHeader(std::uint32_t efsStreamLength) {
    std::array<std::uint8_t, kEfsFileHeaderSize> b{};
    Put32(b, 0, kEfsVersion);
    PutText(b, 4, "ROBS");
    Put32(b, 20, 30);
    PutText(b, 24, "NTFS");
    Put32(b, 44, 2);
    Put16(b, 48, 0x1910);
    Put32(b, 50, efsStreamLength + 16);
    PutText(b, 54, "GURE");
    return b;
}

std::array<std::uint8_t, kEfsStreamHeaderSize> BuildEfsStreamHeader() {
    std::array<std::uint8_t, kEfsStreamHeaderSize> b{};
    Put32(b, 0, kEfsStreamHeaderSize);
    PutText(b, 4, "NTFS");
    Put32(b, 24, 14);
    PutText(b, 28, "::$DATA");
    return b;
}

std::array<std::uint8_t, kEfsBlockHeaderSize>
BuildEfsDataBlockHeader(std::uint16_t blockNumber, std::uint32_t blockBytes, std::uint64_t owed) {
    std::array<std::uint8_t, kEfsBlockHeaderSize> b{};
    const std::uint32_t plain = owed < blockBytes ? static_cast<std::uint32_t>(owed) : blockBytes;
    Put32(b, 0, blockBytes + static_cast<std::uint32_t>(kEfsBlockHeaderSize));
    PutText(b, 4, "GURE");
    Put16(b, 18, blockNumber);
    Put32(b, 24, 496);
    Put32(b, 28, plain);
    Put32(b, 32, plain);
    Put32(b, 36, 0x10100000);
    Put32(b, 40, 0x0001010B);
    Put32(b, 44, blockBytes);
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
    const std::uint32_t lengthField = Get32(header + 50);
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
        if (::unlink(efsPath.c_str()) != 0)
            ReleaseTrace("Failed to delete temporary file : %s, Error code:%d", efsPath.c_str(),
                         MapCreateErrno(errno, false));
    }
    return result;
}
