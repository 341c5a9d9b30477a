#pragma once
// Small arithmetic shared by the NTFS parsers and their reader (not part of the interface).
#include <cstdint>

namespace ntfs_detail {

inline bool IsPowerOfTwoUpTo128(std::uint32_t n) { return n >= 1 && n <= 128 && (n & (n - 1)) == 0; }

// a * b + c without wrapping; false on overflow.
inline bool MulAdd(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t* out) {
    std::uint64_t m;
    if (__builtin_mul_overflow(a, b, &m))
        return false;
    return !__builtin_add_overflow(m, c, out);
}

} // namespace ntfs_detail
