#include "recovery/RSData.h"

#include "platform/File.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr std::uint32_t kCompressCapacity = 8190;

bool HasFileGuid(const std::uint8_t* p) {
    std::uint8_t guid[16];
    kRSFileGuid.ToBytes(guid);
    return std::memcmp(p, guid, 16) == 0;
}

// Header layout: file GUID (16), stage (4), description length (4), description (100).
constexpr std::size_t kStageOffset = 16;
constexpr std::size_t kDescLengthOffset = 20;
constexpr std::size_t kDescOffset = 24;

void MakeFreshHeader(std::uint8_t* header, std::uint32_t stage) {
    std::memset(header, 0, kRSHeaderSize);
    kRSFileGuid.ToBytes(header);
    MutableByteSpan(header, kRSHeaderSize).put32(kStageOffset, stage);
}

} // namespace

// ---- CRSData -----------------------------------------------------------------------------

CRSData::CRSData(int mode) : m_mode(mode), m_staging(kRSStagingSize) {}

CRSData::~CRSData() {
    if (m_file)
        std::fclose(m_file);
}

void CRSData::Throw(int code) {
    m_error = code;
    throw CRSException(code);
}

void CRSData::ThrowIfError() {
    if (m_error != RSERR_NONE)
        throw CRSException(m_error);
}

void CRSData::ClearChunkState() {
    m_chunkLength = 0;
    m_chunkPos = 0;
}

bool CRSData::SeekTo(std::uint64_t offset) {
    return m_file && fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool CRSData::WriteAll(const void* data, std::size_t length) {
    if (!m_file)
        return false;
    return std::fwrite(data, 1, length, m_file) == length;
}

std::size_t CRSData::ReadSome(void* data, std::size_t length) {
    if (!m_file)
        return 0;
    return std::fread(data, 1, length, m_file);
}

std::uint64_t CRSData::FileSize() {
    if (!m_file || fseeko(m_file, 0, SEEK_END) != 0)
        return 0;
    off_t size = ftello(m_file);
    return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

bool CRSData::Open(const char* path, bool create) {
    if (!path || !*path)
        return false;
    Close();
    m_error = RSERR_NONE;
    // The state files lie in the state folder: never opened through a link, and emptied only
    // once known to be a file of this user.
    if (m_mode == RSDATA_READ) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat st {};
        // As the write does: a regular file of this user's own, never one planted by someone else.
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())) {
            ::close(fd);
            return false;
        }
        if (fd >= 0 && !(m_file = fdopen(fd, "rb")))
            ::close(fd);
        return m_file != nullptr;
    }
    // Kept as it is unless `create` (a missing file is made either way).
    platform::FileHandle fd = platform::OpenOwnFile(path, /*empty=*/create);
    if (!fd.Valid())
        return false;
    if ((m_file = fdopen(fd.Get(), "w+b")))
        fd.Release();
    return m_file != nullptr;
}

bool CRSData::OpenBuffer(const void* data, std::size_t size) {
    Close();
    m_error = RSERR_NONE;
    if (m_mode != RSDATA_READ || !data || size == 0)
        return false;
    m_file = fmemopen(const_cast<void*>(data), size, "r");
    return m_file != nullptr;
}

int CRSData::Close() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_sectionOffset = kNoSection;
    m_storedLength = 0;
    m_fill = 0;
    m_consumed = 0;
    m_cursor = 0;
    ClearChunkState();
    return 1;
}

bool CRSData::CheckHeader() {
    std::uint8_t header[kRSHeaderSize];
    if (ReadSome(header, kRSHeaderSize) != kRSHeaderSize)
        return false;
    std::uint32_t stage = ByteSpan(header, sizeof header).u32(kStageOffset);
    return HasFileGuid(header) && stage >= 1 && stage <= 4;
}

bool CRSData::WriteHeader(const void* header) {
    if (m_mode != RSDATA_WRITE || !header)
        return false;
    return SeekTo(0) && WriteAll(header, kRSHeaderSize) && std::fflush(m_file) == 0;
}

bool CRSData::ReadHeader(void* header) {
    if (!header || !SeekTo(0))
        return false;
    return ReadSome(header, kRSHeaderSize) == kRSHeaderSize;
}

std::uint32_t CRSData::GetStage() {
    ThrowIfError();
    if (m_mode != RSDATA_READ)
        Throw(RSERR_WRONG_MODE);
    std::uint8_t header[kRSHeaderSize];
    if (!ReadHeader(header))
        return 0;
    std::uint32_t stage = ByteSpan(header, sizeof header).u32(kStageOffset);
    if (stage >= 5)
        Throw(RSERR_BAD_HEADER);
    return stage;
}

bool CRSData::SetStage(std::uint32_t stage) {
    ThrowIfError();
    if (m_mode != RSDATA_WRITE)
        Throw(RSERR_WRONG_MODE);
    std::uint8_t header[kRSHeaderSize];
    if (ReadHeader(header))
        MutableByteSpan(header, sizeof header).put32(kStageOffset, stage);
    else
        MakeFreshHeader(header, stage);
    if (!WriteHeader(header))
        Throw(RSERR_WRITE_FAILED);
    return true;
}

bool CRSData::SetDescription(const char* text) {
    ThrowIfError();
    if (m_mode != RSDATA_WRITE)
        Throw(RSERR_WRONG_MODE);
    std::uint8_t header[kRSHeaderSize];
    if (!ReadHeader(header))
        return false;
    std::uint32_t length = text ? static_cast<std::uint32_t>(strnlen(text, kRSMaxDescription)) : 0;
    if (length)
        std::memcpy(header + kDescOffset, text, length);
    MutableByteSpan(header, sizeof header).put32(kDescLengthOffset, length);
    if (!WriteHeader(header))
        Throw(RSERR_WRITE_FAILED);
    return true;
}

bool CRSData::GetDescription(char* buffer, int size) {
    if (!buffer || size <= 0)
        return false;
    ThrowIfError();
    if (m_mode != RSDATA_READ)
        Throw(RSERR_WRONG_MODE);
    std::uint8_t header[kRSHeaderSize];
    if (!ReadHeader(header))
        return false;
    std::uint32_t length = ByteSpan(header, sizeof header).u32(kDescLengthOffset);
    if (length > kRSMaxDescription)
        Throw(RSERR_BAD_HEADER);
    std::uint32_t n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(size - 1));
    std::memcpy(buffer, header + kDescOffset, n);
    buffer[n] = '\0';
    return true;
}

bool CRSData::OpenSection(const RSGuid& section) {
    CloseSection();
    if (!m_file)
        Throw(RSERR_SECTION_NOT_FOUND);
    if (m_mode == RSDATA_WRITE) {
        std::uint64_t end = FileSize();
        if (end < kRSHeaderSize) {
            // No header yet: keep sections clear of it. A zero stage marks the file unusable
            // until SetStage runs.
            std::uint8_t header[kRSHeaderSize];
            MakeFreshHeader(header, 0);
            if (!WriteHeader(header))
                Throw(RSERR_WRITE_FAILED);
            end = kRSHeaderSize;
        }
        if (end + kRSSectionHeaderSize > kRSMaxFileSize)
            Throw(RSERR_WRITE_FAILED);
        kRSFileGuid.ToBytes(m_sectionHeader);
        section.ToBytes(m_sectionHeader + 16);
        MutableByteSpan(m_sectionHeader, sizeof m_sectionHeader).put32(32, 0);
        if (!SeekTo(end) || !WriteAll(m_sectionHeader, kRSSectionHeaderSize))
            Throw(RSERR_WRITE_FAILED);
        m_sectionOffset = end;
        m_storedLength = 0;
    } else {
        if (!FindSection(section))
            Throw(RSERR_SECTION_NOT_FOUND);
    }
    ThrowIfError();
    return true;
}

bool CRSData::FindSection(const RSGuid& section) {
    std::uint8_t wanted[16];
    section.ToBytes(wanted);
    std::uint64_t fileSize = FileSize();
    std::uint64_t pos = kRSHeaderSize;
    std::uint8_t header[kRSSectionHeaderSize];
    while (pos + kRSSectionHeaderSize <= fileSize) {
        if (!SeekTo(pos) || ReadSome(header, kRSSectionHeaderSize) != kRSSectionHeaderSize)
            break;
        if (!HasFileGuid(header))
            break; // not a section header: the file is damaged from here on
        std::uint32_t stored = ByteSpan(header, sizeof header).u32(32);
        std::uint64_t next = pos + kRSSectionHeaderSize + stored;
        if (next > fileSize)
            break; // its chunks would run past the end of the file
        if (std::memcmp(header + 16, wanted, 16) == 0) {
            std::memcpy(m_sectionHeader, header, kRSSectionHeaderSize);
            m_storedLength = stored;
            m_sectionOffset = pos;
            m_consumed = 0;
            m_cursor = 0;
            m_fill = 0;
            ClearChunkState();
            return true;
        }
        pos = next;
    }
    std::memset(m_sectionHeader, 0, sizeof(m_sectionHeader));
    m_sectionOffset = kNoSection;
    m_storedLength = 0;
    return false;
}

int CRSData::CloseSection() {
    ClearChunkState();
    if (m_sectionOffset != kNoSection) {
        if (m_mode == RSDATA_WRITE) {
            Flush();
            MutableByteSpan(m_sectionHeader, sizeof m_sectionHeader).put32(32, m_storedLength);
            if (!SeekTo(m_sectionOffset) || !WriteAll(m_sectionHeader, kRSSectionHeaderSize) ||
                std::fflush(m_file) != 0) {
                if (m_error == RSERR_NONE)
                    m_error = RSERR_WRITE_FAILED;
            }
        }
    }
    m_sectionOffset = kNoSection;
    m_storedLength = 0;
    m_fill = 0;
    m_consumed = 0;
    m_cursor = 0;
    ThrowIfError();
    return 1;
}

std::uint32_t CRSData::GetSectionLength() {
    if (m_sectionOffset == kNoSection)
        throw CRSException(RSERR_NO_SECTION);
    return m_storedLength;
}

bool CRSData::AtSectionEnd() {
    ThrowIfError();
    if (m_mode != RSDATA_READ)
        Throw(RSERR_WRONG_MODE);
    if (m_sectionOffset == kNoSection)
        Throw(RSERR_NO_SECTION);
    // Nothing left of the decoded chunk, of the staged chunks or of the stored ones.
    return m_chunkPos >= m_chunkLength && m_cursor >= m_fill && m_consumed >= m_storedLength;
}

int CRSData::Read(void* buffer, std::uint32_t length) {
    ThrowIfError();
    if (m_mode != RSDATA_READ)
        Throw(RSERR_WRONG_MODE);
    if (m_sectionOffset == kNoSection)
        Throw(RSERR_NO_SECTION);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < length) {
        if (m_chunkPos >= m_chunkLength) {
            ReadNextChunk();
            continue;
        }
        std::uint32_t n = std::min(length - done, m_chunkLength - m_chunkPos);
        std::memcpy(out + done, m_chunk + m_chunkPos, n);
        m_chunkPos += n;
        done += n;
    }
    return 0;
}

void CRSData::ReadNextChunk() {
    // Makes at least `need` staged bytes available at the cursor, topping the staging buffer
    // up from the section's stored bytes.
    auto ensure = [this](std::uint32_t need) {
        if (m_fill - m_cursor >= need)
            return true;
        std::uint32_t rest = m_fill - m_cursor;
        if (rest && m_cursor)
            std::memmove(m_staging.data(), m_staging.data() + m_cursor, rest);
        m_fill = rest;
        m_cursor = 0;
        std::uint32_t want = std::min(kRSStagingSize - m_fill, m_storedLength - m_consumed);
        if (want) {
            std::uint64_t at = m_sectionOffset + kRSSectionHeaderSize + m_consumed;
            if (!SeekTo(at))
                return false;
            std::size_t got = ReadSome(m_staging.data() + m_fill, want);
            m_fill += static_cast<std::uint32_t>(got);
            m_consumed += static_cast<std::uint32_t>(got);
        }
        return m_fill - m_cursor >= need;
    };
    if (!ensure(2))
        Throw(RSERR_SHORT_READ);
    std::uint16_t word =
        static_cast<std::uint16_t>(m_staging[m_cursor] | m_staging[m_cursor + 1] << 8);
    if (word & 0x7000)
        Throw(RSERR_SHORT_READ); // not a chunk word
    std::uint32_t n = (word & 0x0FFF) + 1u;
    if (!ensure(2 + n))
        Throw(RSERR_SHORT_READ);
    const std::uint8_t* bytes = m_staging.data() + m_cursor + 2;
    if (word & kRSChunkCompressed) {
        std::uint32_t capacity = kRSChunkSize;
        if (!DecompressChunk(bytes, n, m_chunk, &capacity))
            Throw(RSERR_SHORT_READ);
        m_chunkLength = capacity;
    } else {
        std::memcpy(m_chunk, bytes, n);
        m_chunkLength = n;
    }
    m_chunkPos = 0;
    m_cursor += 2 + n;
}

int CRSData::Write(const void* buffer, std::uint32_t length) {
    ThrowIfError();
    if (m_mode != RSDATA_WRITE)
        Throw(RSERR_WRONG_MODE);
    if (m_sectionOffset == kNoSection)
        Throw(RSERR_NO_SECTION);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < length) {
        std::uint32_t n = std::min(length - done, kRSStagingSize - m_fill);
        std::memcpy(m_staging.data() + m_fill, in + done, n);
        m_fill += n;
        done += n;
        if (m_fill == kRSStagingSize) {
            Flush();
            ThrowIfError();
        }
    }
    return 0;
}

bool CRSData::Flush() {
    if (m_fill == 0)
        return false;
    if (m_mode != RSDATA_WRITE || m_sectionOffset == kNoSection || !m_file) {
        m_fill = 0;
        return false;
    }
    // Append at the section's end even if the header was rewritten in between.
    std::uint64_t end = m_sectionOffset + kRSSectionHeaderSize + m_storedLength;
    bool ok = SeekTo(end);
    std::uint8_t out[2 + kCompressCapacity];
    for (std::uint32_t pos = 0; ok && pos < m_fill; pos += kRSChunkSize) {
        std::uint32_t n = std::min(kRSChunkSize, m_fill - pos);
        const std::uint8_t* piece = m_staging.data() + pos;
        std::uint32_t capacity = kCompressCapacity;
        std::uint32_t chunkBytes;
        if (CompressChunk(piece, n, out + 2, &capacity) && capacity > 0 && capacity < n) {
            std::uint16_t word = static_cast<std::uint16_t>((capacity - 1) | kRSChunkCompressed);
            out[0] = static_cast<std::uint8_t>(word);
            out[1] = static_cast<std::uint8_t>(word >> 8);
            chunkBytes = 2 + capacity;
        } else {
            std::uint16_t word = static_cast<std::uint16_t>(n - 1);
            out[0] = static_cast<std::uint8_t>(word);
            out[1] = static_cast<std::uint8_t>(word >> 8);
            std::memcpy(out + 2, piece, n);
            chunkBytes = 2 + n;
        }
        if (end + chunkBytes > kRSMaxFileSize) {
            ok = false; // section offsets and lengths are 32-bit: refuse to pass 4 GiB
            break;
        }
        ok = WriteAll(out, chunkBytes);
        if (ok) {
            end += chunkBytes;
            m_storedLength += chunkBytes;
        }
    }
    m_fill = 0;
    if (!ok) {
        if (m_error == RSERR_NONE)
            m_error = RSERR_WRITE_FAILED;
        return false;
    }
    return true;
}

bool CRSData::CompressChunk(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t*) {
    return false;
}

bool CRSData::DecompressChunk(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t*) {
    return false;
}

// ---- CRSDataEx ---------------------------------------------------------------------------

struct CRSDataEx::Codec {
    z_stream deflater{};
    z_stream inflater{};
    bool deflaterReady = false;
    bool inflaterReady = false;
    ~Codec() {
        if (deflaterReady)
            deflateEnd(&deflater);
        if (inflaterReady)
            inflateEnd(&inflater);
    }
};

CRSDataEx::CRSDataEx(int mode) : CRSData(mode) {}

CRSDataEx::~CRSDataEx() = default;

bool CRSDataEx::CompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                              std::uint32_t* capacity) {
    if (!m_codec)
        m_codec = std::make_unique<Codec>();
    z_stream& z = m_codec->deflater;
    if (!m_codec->deflaterReady) {
        if (deflateInit(&z, 5) != Z_OK)
            return false;
        m_codec->deflaterReady = true;
    } else if (deflateReset(&z) != Z_OK) {
        return false;
    }
    // Each chunk is an independent zlib stream, so a reader needs only one chunk at a time.
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = length;
    z.next_out = out;
    z.avail_out = *capacity;
    int rc = deflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END)
        return false;
    *capacity -= z.avail_out;
    return true;
}

bool CRSDataEx::DecompressChunk(const std::uint8_t* in, std::uint32_t length, std::uint8_t* out,
                                std::uint32_t* capacity) {
    if (!m_codec)
        m_codec = std::make_unique<Codec>();
    z_stream& z = m_codec->inflater;
    if (!m_codec->inflaterReady) {
        if (inflateInit(&z) != Z_OK)
            return false;
        m_codec->inflaterReady = true;
    } else if (inflateReset(&z) != Z_OK) {
        return false;
    }
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = length;
    z.next_out = out;
    z.avail_out = *capacity;
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END)
        return false; // damaged, or inflates to more than one chunk
    *capacity -= z.avail_out;
    return true;
}

// ---- Process-wide stores -----------------------------------------------------------------

IRSData* GetRecoveryStateReader() {
    static CRSDataEx reader(RSDATA_READ);
    return &reader;
}

IRSData* GetRecoveryStateWriter() {
    static CRSDataEx writer(RSDATA_WRITE);
    return &writer;
}
