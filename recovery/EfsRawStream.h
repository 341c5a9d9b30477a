#pragma once
// The raw export stream of an EFS-encrypted file, as the platform's raw EFS import reads it.
//
// While an encrypted file is recovered, its target first receives the file header
// (kEfsFileHeaderSize bytes), the file's $EFS stream and then the encrypted data rounded up to
// whole sectors. RestoreEfsFile turns that into the raw stream: the file header and $EFS
// stream, a stream header for the unnamed data stream, and the data in blocks of up to 64 KiB,
// each behind a block header. All numbers are little-endian; texts are UTF-16LE.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class IFileRecoverCallback;

constexpr std::size_t kEfsFileHeaderSize = 66;
constexpr std::size_t kEfsStreamHeaderSize = 42;
constexpr std::size_t kEfsBlockHeaderSize = 512;
constexpr std::size_t kEfsBlockSize = 65536;
// The $EFS stream of a file is at most this long.
constexpr std::size_t kEfsMaxMetadata = 65536;

std::array<std::uint8_t, kEfsFileHeaderSize> BuildEfsFileHeader(std::uint32_t efsStreamLength);
std::array<std::uint8_t, kEfsStreamHeaderSize> BuildEfsStreamHeader();
// `owed` is how many bytes of the file's plain size are still to come with this block.
std::array<std::uint8_t, kEfsBlockHeaderSize>
BuildEfsDataBlockHeader(std::uint16_t blockNumber, std::uint32_t blockBytes, std::uint64_t owed);

// Builds the raw stream of the recovered target `targetPath` (header, $EFS stream and encrypted
// data, see above) into "<targetPath>.EFS", or a numbered name when that is taken; `efsPath`
// receives the name. `fileSize` is the file's plain size. `callback` (may be null) is polled
// once per block. Returns 0 when the stream was written, 1 on a failure and 2 when cancelled;
// in both of the latter the stream file is deleted.
int RestoreEfsFile(const std::string& targetPath, IFileRecoverCallback* callback,
                   std::uint64_t fileSize, std::string& efsPath);
