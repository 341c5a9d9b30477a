#include "platform/MountInfo.h"

#include "platform/SystemRoots.h"

#include <charconv>
#include <string_view>

namespace platform {
namespace {

bool ParseU32(std::string_view s, std::uint32_t& out) {
    if (s.empty())
        return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 10);
    return ec == std::errc() && p == s.data() + s.size();
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ParseLine(std::string_view line, MountEntry& e) {
    std::vector<std::string_view> f = SplitFields(line);
    // At least: id parent maj:min root mountpoint options "-" fstype source superoptions;
    // the separator may come later when optional fields are present.
    if (f.size() < 9)
        return false;
    std::size_t sep = 6;
    while (sep < f.size() && f[sep] != "-")
        ++sep;
    if (sep >= f.size() || sep + 2 >= f.size())
        return false;
    if (!ParseU32(f[0], e.mountId) || !ParseU32(f[1], e.parentId))
        return false;
    std::string_view dev = f[2];
    std::size_t colon = dev.find(':');
    if (colon == std::string_view::npos || !ParseU32(dev.substr(0, colon), e.major) ||
        !ParseU32(dev.substr(colon + 1), e.minor))
        return false;
    e.root = UnescapeMountField(std::string(f[3]));
    e.mountPoint = UnescapeMountField(std::string(f[4]));
    e.mountOptions = std::string(f[5]);
    e.fsType = UnescapeMountField(std::string(f[sep + 1]));
    e.source = UnescapeMountField(std::string(f[sep + 2]));
    e.superOptions = sep + 3 < f.size() ? std::string(f[sep + 3]) : std::string();
    return true;
}

} // namespace

std::string UnescapeMountField(const std::string& field) {
    auto oct = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i > 3 && oct(field[i + 1]) && oct(field[i + 2]) &&
            oct(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (v <= 0xFF) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<MountEntry> ParseMountInfo(const char* data, std::size_t size) {
    std::vector<MountEntry> entries;
    if (!data)
        return entries;
    std::string_view text(data, size);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        // A NUL inside a line cannot come from the kernel: treat the line as malformed.
        if (line.find('\0') == std::string_view::npos) {
            MountEntry e;
            if (ParseLine(line, e))
                entries.push_back(std::move(e));
        }
        pos = end + 1;
    }
    return entries;
}

std::vector<MountEntry> ReadMountInfo() {
    std::string text = ReadTextFile(GetSystemRoots().mountInfo);
    return ParseMountInfo(text.data(), text.size());
}

} // namespace platform
