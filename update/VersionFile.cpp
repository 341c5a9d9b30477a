#include "update/VersionFile.h"

namespace pennat {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Splits the text into lines at CR and LF; an empty line between CR and LF is harmless.
class LineReader {
public:
    explicit LineReader(std::string_view text) : m_rest(text) {}
    bool Next(std::string_view& line) {
        if (m_rest.empty()) {
            return false;
        }
        std::size_t end = m_rest.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            line = m_rest;
            m_rest = {};
        } else {
            line = m_rest.substr(0, end);
            m_rest.remove_prefix(end + 1);
        }
        return true;
    }

private:
    std::string_view m_rest;
};

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

} // namespace

bool GetProfileValue(const std::uint8_t* data, std::size_t size, std::string_view section,
                     std::string_view key, std::string& value) {
    value.clear();
    if (data == nullptr) {
        size = 0;
    }
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    LineReader lines(text);
    std::string_view line;
    bool seenSection = false; // the first section of the name was entered
    bool inSection = false;
    while (lines.Next(line)) {
        line = Trim(line);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                continue; // not a section header; the line is ignored
            }
            if (inSection) {
                return false; // the first section of the name ended without the key
            }
            inSection = !seenSection && SameName(Trim(line.substr(1, close - 1)), section);
            seenSection = seenSection || inSection;
            continue;
        }
        if (!inSection) {
            continue;
        }
        std::size_t eq = line.find('=');
        std::string_view name = Trim(line.substr(0, eq));
        if (!SameName(name, key)) {
            continue;
        }
        std::string_view v = eq == std::string_view::npos ? std::string_view{}
                                                          : Unquote(Trim(line.substr(eq + 1)));
        value.assign(v.substr(0, kProfileValueMax));
        return true;
    }
    return false;
}

bool ParseProductVersion(std::string_view text, std::uint32_t& high, std::uint32_t& low) {
    std::uint32_t parts[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (count == 4) {
            return false; // a fifth part
        }
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            if (value > 0xFFFF) {
                return false;
            }
            ++digits;
            ++pos;
        }
        if (digits == 0) {
            return false; // empty part, or a character that is not a digit
        }
        parts[count++] = value;
        if (pos == text.size()) {
            break;
        }
        if (text[pos] != '.') {
            return false;
        }
        ++pos;
    }
    high = parts[0] << 16 | parts[1];
    low = parts[2] << 16 | parts[3];
    return true;
}

bool ParseVersionFile(const std::uint8_t* data, std::size_t size, VersionFileInfo& info) {
    std::string version;
    VersionFileInfo read;
    if (!GetProfileValue(data, size, "VERSION", "Product Version", version) ||
        !ParseProductVersion(version, read.versionHigh, read.versionLow)) {
        return false;
    }
    GetProfileValue(data, size, "VERSION", "Description", read.description);
    GetProfileValue(data, size, "VERSION", "URL", read.url);
    info = std::move(read);
    return true;
}

} // namespace pennat
