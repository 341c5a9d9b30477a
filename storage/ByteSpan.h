#pragma once
// The one bounded little-endian reader for bytes that came from a disk, an image, a store file
// or a script. Every on-disk parser reads through it: a read that would run past the end of the
// span returns 0 (or an empty span) and leaves the span marked as failed, so a parser can read
// a whole header and check `ok()` once, or test `has()` before it relies on a field.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteSpan {
public:
    constexpr ByteSpan() = default;
    ByteSpan(const void* data, std::size_t size)
        : m_data(static_cast<const std::uint8_t*>(data)), m_size(data ? size : 0) {}

    const std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    // True while no read has run past the end (reads are const; the flag is sticky).
    bool ok() const { return !m_failed; }
    void reset_failed() const { m_failed = false; }

    // Whether `length` bytes at `offset` lie inside the span (overflow-safe).
    bool has(std::size_t offset, std::size_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

    std::uint8_t u8(std::size_t offset) const { return static_cast<std::uint8_t>(load(offset, 1)); }
    std::uint16_t u16(std::size_t offset) const { return static_cast<std::uint16_t>(load(offset, 2)); }
    std::uint32_t u24(std::size_t offset) const { return static_cast<std::uint32_t>(load(offset, 3)); }
    std::uint32_t u32(std::size_t offset) const { return static_cast<std::uint32_t>(load(offset, 4)); }
    std::uint64_t u48(std::size_t offset) const { return load(offset, 6); }
    std::uint64_t u64(std::size_t offset) const { return load(offset, 8); }
    std::int8_t i8(std::size_t offset) const { return static_cast<std::int8_t>(u8(offset)); }
    std::int16_t i16(std::size_t offset) const { return static_cast<std::int16_t>(u16(offset)); }
    std::int32_t i32(std::size_t offset) const { return static_cast<std::int32_t>(u32(offset)); }
    std::int64_t i64(std::size_t offset) const { return static_cast<std::int64_t>(u64(offset)); }

    // A little-endian field of `width` bytes (0 to 8; wider fails), zero-extended or, for
    // iVar, sign-extended from its top bit (the widths of NTFS mapping pairs).
    std::uint64_t uVar(std::size_t offset, std::size_t width) const {
        if (width > 8) {
            m_failed = true;
            return 0;
        }
        return load(offset, width);
    }
    std::int64_t iVar(std::size_t offset, std::size_t width) const {
        std::uint64_t v = uVar(offset, width);
        if (width > 0 && width < 8 && (v >> (8 * width - 1)) & 1)
            v |= ~std::uint64_t{0} << (8 * width);
        return static_cast<std::int64_t>(v);
    }

    // Big-endian reads, for the formats that store their fields that way.
    std::uint16_t be16(std::size_t offset) const {
        return static_cast<std::uint16_t>(loadBe(offset, 2));
    }
    std::uint32_t be32(std::size_t offset) const { return static_cast<std::uint32_t>(loadBe(offset, 4)); }
    std::uint64_t be64(std::size_t offset) const { return loadBe(offset, 8); }
    // A big-endian field of `width` bytes (0 to 8; wider fails).
    std::uint64_t beVar(std::size_t offset, std::size_t width) const {
        if (width > 8) {
            m_failed = true;
            return 0;
        }
        return loadBe(offset, width);
    }

    // `length` bytes at `offset`, or null (and failed) when they do not fit.
    const std::uint8_t* bytes(std::size_t offset, std::size_t length) const {
        if (!has(offset, length)) {
            m_failed = true;
            return nullptr;
        }
        return m_data + offset;
    }

    // The part of the span at `offset` of `length` bytes, or an empty span (and failed).
    ByteSpan sub(std::size_t offset, std::size_t length) const {
        const std::uint8_t* p = bytes(offset, length);
        return p ? ByteSpan(p, length) : ByteSpan();
    }
    // Everything from `offset` to the end, or an empty span (and failed) past the end.
    ByteSpan from(std::size_t offset) const {
        if (offset > m_size) {
            m_failed = true;
            return ByteSpan();
        }
        return ByteSpan(m_data + offset, m_size - offset);
    }

    // Whether the bytes at `offset` equal `pattern` (false when they do not fit; not a failure).
    bool matches(std::size_t offset, const void* pattern, std::size_t length) const {
        return has(offset, length) && std::memcmp(m_data + offset, pattern, length) == 0;
    }

private:
    std::uint64_t load(std::size_t offset, std::size_t width) const {
        if (!has(offset, width)) {
            m_failed = true;
            return 0;
        }
        std::uint64_t v = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&v, m_data + offset, width); // one unaligned load on this host
        } else {
            for (std::size_t i = width; i-- > 0;)
                v = (v << 8) | m_data[offset + i];
        }
        return v;
    }
    std::uint64_t loadBe(std::size_t offset, std::size_t width) const {
        if (!has(offset, width)) {
            m_failed = true;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v = (v << 8) | m_data[offset + i];
        return v;
    }

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    mutable bool m_failed = false;
};

// The writing side: little-endian stores into a mutable buffer, refused past its end.
class MutableByteSpan {
public:
    MutableByteSpan(void* data, std::size_t size)
        : m_data(static_cast<std::uint8_t*>(data)), m_size(data ? size : 0) {}

    std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    ByteSpan view() const { return ByteSpan(m_data, m_size); }

    bool has(std::size_t offset, std::size_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    // Each returns false (writing nothing) when the field does not fit.
    bool put8(std::size_t offset, std::uint8_t v) const { return store(offset, v, 1); }
    bool put16(std::size_t offset, std::uint16_t v) const { return store(offset, v, 2); }
    bool put32(std::size_t offset, std::uint32_t v) const { return store(offset, v, 4); }
    bool put64(std::size_t offset, std::uint64_t v) const { return store(offset, v, 8); }

private:
    bool store(std::size_t offset, std::uint64_t v, std::size_t width) const {
        if (!has(offset, width))
            return false;
        for (std::size_t i = 0; i < width; ++i)
            m_data[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return true;
    }

    std::uint8_t* m_data;
    std::size_t m_size;
};
