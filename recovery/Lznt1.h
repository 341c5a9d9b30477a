#pragma once
// LZNT1, the chunk codec of NTFS-compressed files: decoding of one chunk.
#include <cstddef>
#include <cstdint>

// Every chunk decodes to at most this many bytes.
constexpr std::size_t kLznt1ChunkSize = 4096;

// Decodes the chunk that starts at `chunk` (its 2-byte header included), reading no more than
// `available` bytes of input and writing no more than kLznt1ChunkSize bytes to `out`.
// Returns the number of bytes decoded. When `chunkBytes` is given it receives the length the
// chunk occupies in the input (header included), clipped to `available`; a caller steps to the
// next chunk with it. A chunk whose header promises more bytes than are available is decoded as
// far as the input goes; a back-reference before the start of the chunk yields zeros; a copy
// never runs past the end of the output.
std::size_t DecompressLznt1Chunk(const std::uint8_t* chunk, std::size_t available,
                                 std::uint8_t* out, std::size_t* chunkBytes = nullptr);
