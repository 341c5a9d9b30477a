#include "ui/controls/Formatting.h"

#include "platform/MountInfo.h"
#include "storage/TextEncoding.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace uifmt {

std::string FormatSize(std::int64_t bytes) {
    char buf[64];
    const double value = static_cast<double>(bytes);
    if (bytes > 1073741824LL)
        std::snprintf(buf, sizeof buf, "%.2f GB", value / 1073741824.0);
    else if (bytes > 1048576LL)
        std::snprintf(buf, sizeof buf, "%.2f MB", value / 1048576.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f KB", value / 1024.0);
    return buf;
}

std::string FormatSectorsSize(std::uint32_t sectors) {
    return FormatSize(static_cast<std::int64_t>(static_cast<std::uint64_t>(sectors) * 512u));
}

std::string FormatSectorsSize64(std::uint64_t sectors) {
    // Past 2^54 sectors the byte count no longer fits a signed 64-bit value; show the largest.
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX) / 512u;
    return FormatSize(static_cast<std::int64_t>((sectors > limit ? limit : sectors) * 512u));
}

namespace {
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}
} // namespace

std::string FormatFileTime(std::uint64_t fileTime) {
    if (fileTime >= (1ULL << 63))
        return "";
    const std::uint64_t seconds = fileTime / 10000000ULL;
    // 1601-01-01 is 134774 days before 1970-01-01.
    const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 134774;
    const unsigned secOfDay = static_cast<unsigned>(seconds % 86400);
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld-%u-%u %u:%u:%u", static_cast<long long>(year), month, day,
                  secOfDay / 3600, (secOfDay / 60) % 60, secOfDay % 60);
    return buf;
}

const char* GetFileSystemDisplayName(std::uint32_t type) {
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown"};
    return type < 8 ? kNames[type] : "";
}

std::string FormatElapsed(std::uint32_t elapsedMs) {
    const unsigned hours = elapsedMs / 3600000u;
    const unsigned s = (elapsedMs / 1000u) % 3600u;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", hours, s / 60, s % 60);
    return buf;
}

namespace {
// The mount point that holds the absolute path `path` (longest matching prefix).
std::string MountPointOf(const std::string& path) {
    std::string best = "/";
    for (const auto& m : platform::ReadMountInfo()) {
        const std::string& mp = m.mountPoint;
        if (mp.empty() || mp.size() <= best.size())
            continue;
        if (path.compare(0, mp.size(), mp) == 0 && (path.size() == mp.size() || path[mp.size()] == '/'))
            best = mp;
    }
    if (best.back() != '/')
        best += '/';
    return best;
}
} // namespace

bool GetRootPath(const char* path, std::string& out) {
    if (!path)
        return false;
    const std::size_t len = std::strlen(path);
    if (len <= 1 || len > 260)
        return false;
    std::string copy(path);
    if (copy[0] == '/') {
        out = MountPointOf(copy);
        return true;
    }
    if (copy.back() != '\\')
        copy += '\\';
    const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(copy[0])));
    if (first >= 'A' && first <= 'Z' && copy[1] == ':') {
        out = copy.substr(0, 3);
    } else if (copy[0] == '\\' && copy[1] == '\\') {
        std::size_t seen = 0, i = 2;
        for (; i < copy.size(); ++i)
            if (copy[i] == '\\' && ++seen == 2)
                break;
        out = copy.substr(0, i < copy.size() ? i + 1 : copy.size());
    } else {
        out.clear();
    }
    return true;
}

bool IsNtfsVolume(const char* rootPath) {
    if (!rootPath || !*rootPath)
        return false;
    struct statfs fs {};
    if (statfs(rootPath, &fs) != 0)
        return false;
    constexpr unsigned long kNtfsMagic = 0x5346544EUL;   // ntfs
    constexpr unsigned long kNtfs3Magic = 0x7366746EUL;  // ntfs3
    const auto type = static_cast<unsigned long>(fs.f_type);
    if (type == kNtfsMagic || type == kNtfs3Magic)
        return true;
    // FUSE drivers (ntfs-3g shows as "fuseblk"; its mount names the driver in the type).
    const std::string mp = MountPointOf(rootPath);
    for (const auto& m : platform::ReadMountInfo()) {
        std::string point = m.mountPoint;
        if (point.empty() || point.back() != '/')
            point += '/';
        if (point == mp && m.fsType.find("ntfs") != std::string::npos)
            return true;
    }
    return false;
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DisplayName(const char* bytes) { return DisplayName(std::string(bytes ? bytes : "")); }

std::string DisplayName(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    auto escape = [&out](unsigned char c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
    };
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                escape(c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t len = Utf8SequenceLength(s + i, n - i);
        if (len == 0) {
            escape(c);
            ++i;
            continue;
        }
        out.append(in, i, len);
        i += len;
    }
    return out;
}

std::string ShortenForLink(const std::string& path) {
    std::size_t count = 0, i = 0;
    for (; i < path.size(); ++i) {
        if ((static_cast<unsigned char>(path[i]) & 0xC0) == 0x80)
            continue;
        if (count == 40)
            return path.substr(0, i) + ". . .";
        ++count;
    }
    return path;
}

} // namespace uifmt
