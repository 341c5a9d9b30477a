#pragma once
// The scan-state store as the engine sees it: the abstract section stream that every Save and
// Load of the tree, properties, run lists, partition records and search controllers writes
// into and reads from, and the exception the store throws. The store file itself (CRSData,
// CRSDataEx) lives in recovery/; it implements these interfaces.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A 16-byte identifier of the store file and of its sections. Bytes() gives the standard GUID
// byte order: data1, data2 and data3 little-endian, then data4 as it stands.
struct RSGuid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    void ToBytes(std::uint8_t out[16]) const {
        for (int i = 0; i < 4; ++i)
            out[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
        out[4] = static_cast<std::uint8_t>(data2);
        out[5] = static_cast<std::uint8_t>(data2 >> 8);
        out[6] = static_cast<std::uint8_t>(data3);
        out[7] = static_cast<std::uint8_t>(data3 >> 8);
        std::memcpy(out + 8, data4, 8);
    }
    static RSGuid FromBytes(const std::uint8_t in[16]) {
        RSGuid g;
        g.data1 = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
                  static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
        g.data2 = static_cast<std::uint16_t>(in[4] | in[5] << 8);
        g.data3 = static_cast<std::uint16_t>(in[6] | in[7] << 8);
        std::memcpy(g.data4, in + 8, 8);
        return g;
    }
    friend bool operator==(const RSGuid& a, const RSGuid& b) {
        return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
               std::memcmp(a.data4, b.data4, 8) == 0;
    }
};

// Error codes carried by CRSException (1 and 4 are not used).
enum RSErrorCode : int {
    RSERR_NONE = 0,
    RSERR_BAD_HEADER = 2,   // bad header or stage; also a record whose values cannot be right
    RSERR_WRONG_MODE = 3,   // operation not allowed in this store's mode
    RSERR_SHORT_READ = 5,   // section data ended early (or a chunk could not be decoded)
    RSERR_WRITE_FAILED = 6, // a write failed, or the file would pass 4 GiB
    RSERR_SECTION_NOT_FOUND = 7,
    RSERR_NO_SECTION = 8, // no open section
};

class IRSException {
public:
    virtual int GetErrorCode() const = 0;
    virtual ~IRSException() = default;
};

class CRSException : public IRSException {
public:
    explicit CRSException(int code) : m_code(code) {}
    int GetErrorCode() const override { return m_code; }

private:
    int m_code;
};

// Size of the store file's header (file GUID, stage word, description length and text).
constexpr std::uint32_t kRSHeaderSize = 124;

// A scan-state store: one file opened for reading (mode 0) or writing (mode 1). Within an open
// file at most one section is open; Read and Write work on that section's payload. Failures
// of section I/O throw CRSException.
class IRSData {
public:
    virtual ~IRSData() = default;
    // Reads the 124-byte header at the current position (right after Open); true when it
    // came whole, carries the file GUID and a stage of 1 to 4.
    virtual bool CheckHeader() = 0;
    virtual bool Open(const char* path, bool create) = 0;
    virtual int Close() = 0;
    virtual bool WriteHeader(const void* header) = 0; // kRSHeaderSize bytes
    virtual bool ReadHeader(void* header) = 0;        // kRSHeaderSize bytes
    virtual std::uint32_t GetStage() = 0;
    virtual bool SetStage(std::uint32_t stage) = 0;
    virtual bool SetDescription(const char* text) = 0;
    virtual bool GetDescription(char* buffer, int size) = 0;
    virtual bool OpenSection(const RSGuid& section) = 0;
    virtual int CloseSection() = 0;
    virtual std::uint32_t GetSectionLength() = 0;
    // Read mode: true when every byte of the open section's payload has been read, so that a
    // record a later version appends behind the older ones can be told from none.
    virtual bool AtSectionEnd() = 0;
    virtual int Read(void* buffer, std::uint32_t length) = 0;
    virtual int Write(const void* buffer, std::uint32_t length) = 0;
    virtual bool Flush() = 0;
};

// Little-endian helpers for records written into a section.
template <typename T> inline void RSWriteValue(IRSData* section, T value) {
    static_assert(std::is_integral_v<T> || std::is_floating_point_v<T>);
    std::uint8_t bytes[sizeof(T)];
    if constexpr (std::is_floating_point_v<T>) {
        std::memcpy(bytes, &value, sizeof(T)); // the build targets little-endian machines
    } else {
        std::uint64_t v = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    section->Write(bytes, sizeof(T));
}

template <typename T> inline T RSReadValue(IRSData* section) {
    static_assert(std::is_integral_v<T> || std::is_floating_point_v<T>);
    std::uint8_t bytes[sizeof(T)] = {};
    section->Read(bytes, sizeof(T));
    if constexpr (std::is_floating_point_v<T>) {
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    } else {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
        return static_cast<T>(v);
    }
}

// Reads `length` bytes into a growing buffer a piece at a time, so that a length taken from a
// damaged file fails with a short read at the section's end instead of allocating it first.
// `Buffer` is any container of bytes with size()/resize()/data().
template <typename Buffer>
inline void RSReadBytes(IRSData* section, Buffer& out, std::uint64_t length) {
    constexpr std::uint64_t kPiece = 64 * 1024;
    out.clear();
    std::uint64_t done = 0;
    while (done < length) {
        std::uint64_t n = length - done < kPiece ? length - done : kPiece;
        out.resize(static_cast<std::size_t>(done + n));
        section->Read(out.data() + done, static_cast<std::uint32_t>(n));
        done += n;
    }
}
