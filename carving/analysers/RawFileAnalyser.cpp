#include "carving/analysers/RawFileAnalyser.h"

#include <cctype>

void AddSignatureKey(std::vector<SignatureKey>& keys, std::uint16_t offset, const void* signature,
                     std::size_t length) {
    const auto* s = static_cast<const std::uint8_t*>(signature);
    SignatureKey k;
    k.offset = offset;
    k.length = length >= 2 ? 2 : 1;
    k.bytes[0] = s[0];
    k.bytes[1] = k.length == 2 ? s[1] : 0;
    keys.push_back(k);
}

void AddSignatureKeyNoCase(std::vector<SignatureKey>& keys, std::uint16_t offset,
                           const void* signature, std::size_t length) {
    const auto* s = static_cast<const std::uint8_t*>(signature);
    const std::size_t n = length >= 2 ? 2 : 1;
    std::uint8_t variants[2][2];
    std::size_t counts[2];
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t lo = static_cast<std::uint8_t>(std::tolower(s[i]));
        const std::uint8_t up = static_cast<std::uint8_t>(std::toupper(s[i]));
        variants[i][0] = lo;
        variants[i][1] = up;
        counts[i] = lo == up ? 1 : 2;
    }
    for (std::size_t a = 0; a < counts[0]; ++a) {
        if (n == 1) {
            AddSignatureKey(keys, offset, &variants[0][a], 1);
            continue;
        }
        for (std::size_t b = 0; b < counts[1]; ++b) {
            const std::uint8_t pair[2] = {variants[0][a], variants[1][b]};
            AddSignatureKey(keys, offset, pair, 2);
        }
    }
}
