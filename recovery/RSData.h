#pragma once
// The scan-state store file: a 124-byte header (file GUID, stage word, description) followed
// by sections, each a 36-byte header (file GUID, section GUID, stored length) and its payload
// cut into chunks of at most 4096 bytes, zlib-compressed when that makes them smaller.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "filesystems/StoreSection.h"

enum RSDataMode : int {
    RSDATA_READ = 0,
    RSDATA_WRITE = 1,
};

// {1CB3F4EA-4305-4AB6-B4B8-244A33D913BB}
constexpr RSGuid kRSFileGuid{
    0x1CB3F4EA, 0x4305, 0x4AB6, {0xB4, 0xB8, 0x24, 0x4A, 0x33, 0xD9, 0x13, 0xBB}};

constexpr std::uint32_t kRSSectionHeaderSize = 36;
constexpr std::uint32_t kRSStagingSize = 0x80000; // 512 KiB
constexpr std::uint32_t kRSChunkSize = 4096;
constexpr std::uint32_t kRSMaxDescription = 100;
constexpr std::uint16_t kRSChunkCompressed = 0x8000;
// Section offsets are kept in 32 bits: a store file must stay below 4 GiB.
constexpr std::uint64_t kRSMaxFileSize = 0xFFFFFFFFull;

class CRSData : public IRSData {
public:
    explicit CRSData(int mode);
    ~CRSData() override;
    CRSData(const CRSData&) = delete;
    CRSData& operator=(const CRSData&) = delete;

    bool CheckHeader() override;
    // Also clears the error code, so one failed save or restore does not fail every later one.
    bool Open(const char* path, bool create) override;
    int Close() override;
    // Read mode: opens an in-memory copy of a store file's bytes instead of a file (the
    // bytes must outlive the store's use of them). Clears the error code like Open.
    bool OpenBuffer(const void* data, std::size_t size);
    bool WriteHeader(const void* header) override;
    bool ReadHeader(void* header) override;
    std::uint32_t GetStage() override;
    bool SetStage(std::uint32_t stage) override;
    bool SetDescription(const char* text) override;
    bool GetDescription(char* buffer, int size) override;
    bool OpenSection(const RSGuid& section) override;
    int CloseSection() override;
    std::uint32_t GetSectionLength() override;
    // Throws RSERR_WRONG_MODE in write mode and RSERR_NO_SECTION without an open section.
    bool AtSectionEnd() override;
    int Read(void* buffer, std::uint32_t length) override;
    int Write(const void* buffer, std::uint32_t length) override;
    bool Flush() override;

    int GetMode() const { return m_mode; }
    int GetErrorCode() const { return m_error; }
    bool IsOpen() const { return m_file != nullptr; }

protected:
    static constexpr std::uint64_t kNoSection = ~0ull;

    // Encodes one piece (at most 4096 bytes) into `out` (capacity in, length out); false
    // when it cannot be made smaller, and the piece is stored raw.
    virtual bool CompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                               std::uint32_t* capacity);
    // Decodes one compressed chunk into `out` (capacity in, length out); false on failure.
    virtual bool DecompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                                 std::uint32_t* capacity);

    bool FindSection(const RSGuid& section);
    // Decodes the next chunk of the open section into the chunk buffer (error 5 when the
    // section has no further whole chunk, or the chunk cannot be decoded).
    void ReadNextChunk();
    [[noreturn]] void Throw(int code);
    void ThrowIfError();
    void ClearChunkState();

    bool SeekTo(std::uint64_t offset);
    bool WriteAll(const void* data, std::size_t length);
    std::size_t ReadSome(void* data, std::size_t length);
    std::uint64_t FileSize();

    int m_mode;
    std::FILE* m_file = nullptr;
    std::vector<std::uint8_t> m_staging; // 512 KiB
    std::uint32_t m_fill = 0;
    std::uint8_t m_sectionHeader[kRSSectionHeaderSize] = {};
    std::uint32_t m_storedLength = 0;           // running stored length of the open section
    std::uint64_t m_sectionOffset = kNoSection; // header offset of the open section
    std::uint32_t m_consumed = 0;               // stored bytes of the section read so far
    std::uint32_t m_cursor = 0;                 // read position in the staging buffer
    std::uint8_t m_chunk[kRSChunkSize] = {};
    std::uint32_t m_chunkLength = 0;
    std::uint32_t m_chunkPos = 0;
    int m_error = RSERR_NONE;
};

// The store as the program uses it, with zlib chunks.
class CRSDataEx : public CRSData {
public:
    explicit CRSDataEx(int mode);
    ~CRSDataEx() override;

protected:
    bool CompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                       std::uint32_t* capacity) override;
    bool DecompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                         std::uint32_t* capacity) override;

private:
    struct Codec; // one deflate and one inflate stream, made on first use, reset per chunk
    std::unique_ptr<Codec> m_codec;
};

// The process-wide reader (mode 0) and writer (mode 1), built on first use.
IRSData* GetRecoveryStateReader();
IRSData* GetRecoveryStateWriter();
