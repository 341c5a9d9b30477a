#include "tools/FileSearch.h"

#include "filesystems/FileNode.h"

#include <chrono>
#include <utility>

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kTicksPerDay = 864000000000ull;
constexpr std::uint64_t kTicksPerThirtyDays = 25920000000000ull;
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull; // 1970-01-01 in FileTime ticks

bool IsDirectory(const CFileNode* node) {
    return node && node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
}

std::string NodeName(const CFileNode* node) {
    const char* name = node && node->m_pProperties ? node->m_pProperties->GetName() : nullptr;
    return name ? std::string(name) : std::string();
}

std::uint64_t SubtractClamped(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// Days since 1601-01-01 of a proleptic Gregorian date.
std::int64_t DaysFrom1601(int year, int month, int day) {
    // Days from civil (Howard Hinnant's algorithm), shifted to the 1601 epoch.
    const int y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned mp = static_cast<unsigned>(month > 2 ? month - 3 : month + 9);
    const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t unixDays = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return unixDays + 134774; // 1601-01-01 .. 1970-01-01
}

} // namespace

CompiledSearchCriteria BuildSearchCriteria(FileSearchCriteria criteria) {
    CompiledSearchCriteria compiled;
    compiled.namePattern = BuildNameFilter(criteria.name, criteria.caseSensitive, false, kNameFilterSearch);
    if (criteria.from.ticks > criteria.to.ticks)
        std::swap(criteria.from, criteria.to);
    compiled.typePattern = MaskToRegex(criteria.typeMask);
    compiled.encryptedFilter = CFileAttributeFilter(criteria.includeEncrypted ? kFilterEveryFile : std::uint32_t{FILEATTR_ENCRYPTED});
    compiled.criteria = std::move(criteria);
    return compiled;
}

bool MatchesName(const CompiledSearchCriteria& compiled, const IFileProperties* properties) {
    if (!properties || !(properties->GetValidFields() & VALIDFIELD_NAME))
        return false;
    return RegexMatch(properties->GetName(), compiled.namePattern);
}

bool MatchesTypeMask(const CompiledSearchCriteria& compiled, const IFileProperties* properties) {
    if (!properties || !(properties->GetValidFields() & VALIDFIELD_NAME))
        return false;
    return RegexMatch(properties->GetName(), compiled.typePattern);
}

bool MatchesDate(const CompiledSearchCriteria& compiled, const IFileProperties* properties) {
    if (!properties)
        return false;
    const std::uint32_t valid = properties->GetValidFields();
    FileTime time;
    switch (compiled.criteria.dateKind) {
    case kSearchDateModified:
        if (!(valid & VALIDFIELD_LAST_WRITE_TIME))
            return false;
        properties->GetLastWriteTime(&time);
        break;
    case kSearchDateCreated:
        if (!(valid & VALIDFIELD_CREATION_TIME))
            return false;
        properties->GetCreationTime(&time);
        break;
    case kSearchDateAccessed:
        if (!(valid & VALIDFIELD_LAST_ACCESS_TIME))
            return false;
        properties->GetLastAccessTime(&time);
        break;
    default:
        return false;
    }
    return compiled.criteria.from.ticks <= time.ticks && time.ticks <= compiled.criteria.to.ticks;
}

bool MatchesSize(const CompiledSearchCriteria& compiled, const IFileProperties* properties) {
    if (!properties || !(properties->GetValidFields() & VALIDFIELD_SIZE))
        return false;
    const std::uint64_t size = properties->GetFileSize();
    switch (compiled.criteria.sizeKind) {
    case kSearchSizeAtMost: return size <= compiled.criteria.sizeLimit;
    case kSearchSizeAtLeast: return size >= compiled.criteria.sizeLimit;
    default: return false;
    }
}

bool MatchesCriteria(const CompiledSearchCriteria& compiled, const CFileNode* node) {
    const IFileProperties* p = node ? node->m_pProperties.get() : nullptr;
    if (!p)
        return false;
    const FileSearchCriteria& c = compiled.criteria;
    if ((c.flags & kSearchOther) && !c.includeEncrypted && compiled.encryptedFilter.Match(p))
        return false;
    if (!MatchesName(compiled, p))
        return false;
    if ((c.flags & kSearchByType) && !MatchesTypeMask(compiled, p))
        return false;
    if ((c.flags & kSearchByDate) && !MatchesDate(compiled, p))
        return false;
    if ((c.flags & kSearchBySize) && !MatchesSize(compiled, p))
        return false;
    return true;
}

void SearchTree(const CompiledSearchCriteria& compiled, CFileNode* location, SearchResult& result) {
    if (!location)
        return;
    // Pre-order without recursion: the stack holds the next siblings still to visit.
    std::vector<CFileNode*> pending;
    CFileNode* node = location->m_pFirstChild;
    while (node || !pending.empty()) {
        if (!node) {
            node = pending.back();
            pending.pop_back();
            continue;
        }
        if (!IsDirectory(node) && MatchesCriteria(compiled, node)) {
            if (compiled.criteria.autoSelect && node->m_pProperties->GetCheckState() != CHECKSTATE_CHECKED)
                ToggleCheckState(node, false);
            result.nodes.push_back(node);
            ++result.count;
        }
        if (node->m_pNextSibling)
            pending.push_back(node->m_pNextSibling);
        node = node->m_pFirstChild;
    }
}

bool IsValidSearchName(const std::string& name) {
    return !name.empty() && name.find_first_of("\\/:\"<>|") == std::string::npos;
}

FileSearchStatus RunFileSearch(FileSearchCriteria criteria, SearchResult& result) {
    if (criteria.name.empty())
        criteria.name = "*";
    if (!IsValidSearchName(criteria.name))
        return kSearchBadName;
    if (!(criteria.flags & kSearchOther)) {
        criteria.caseSensitive = false;
        criteria.includeEncrypted = true;
    }
    CFileNode* location = criteria.location;
    const CompiledSearchCriteria compiled = BuildSearchCriteria(std::move(criteria));
    SearchTree(compiled, location, result);
    return result.count ? kSearchFound : kSearchNoMatch;
}

std::string SearchDisplayText(const FileSearchCriteria& criteria) {
    std::string text = (criteria.flags & kSearchByType) ? criteria.typeDisplay : criteria.name;
    return text.empty() ? std::string("*") : text;
}

std::string SearchLocationPath(const CFileNode* node) {
    std::string path = NodeName(node);
    for (const CFileNode* a = node ? node->m_pParent : nullptr; a; a = a->m_pParent) {
        const std::string name = NodeName(a);
        if (name != "Root")
            path = name + "\\" + path;
    }
    return path;
}

std::vector<SearchLocation> SearchLocations(CFileNode* current) {
    std::vector<SearchLocation> out;
    if (!current)
        return out;
    CFileNode* root = current;
    while (root->m_pParent)
        root = root->m_pParent;
    out.push_back({"(Everywhere)", root});
    if (current == root)
        return out;
    CFileNode* top = current;
    while (top->m_pParent != root)
        top = top->m_pParent;
    out.push_back({SearchLocationPath(top), top});
    if (top != current)
        out.push_back({SearchLocationPath(current), current});
    return out;
}

std::vector<SearchTypeEntry> SearchTypeEntries(const FileTypeMap& map) {
    std::vector<SearchTypeEntry> out;
    std::size_t index = 0;
    for (const auto& [key, value] : map) {
        SearchTypeEntry e;
        e.mask = value;
        if (index < 2) {
            e.text = key.size() > 3 ? key.substr(3) : std::string(index == 0 ? "(All Files)" : "File");
            e.display = "*";
        } else {
            e.text = key;
            e.display = key;
        }
        out.push_back(std::move(e));
        ++index;
    }
    return out;
}

FileTime FileTimeNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return FileTime{kUnixEpochTicks + static_cast<std::uint64_t>(ticks > 0 ? ticks : 0)};
}

void LastMonthsRange(int months, FileTime now, FileTime* from, FileTime* to) {
    *to = now;
    from->ticks = SubtractClamped(now.ticks, static_cast<std::uint64_t>(months > 0 ? months : 0) * kTicksPerThirtyDays);
}

void LastDaysRange(int days, FileTime now, FileTime* from, FileTime* to) {
    *to = now;
    from->ticks = SubtractClamped(now.ticks, static_cast<std::uint64_t>(days > 0 ? days : 0) * kTicksPerDay);
}

bool FileTimeFromCalendar(int year, int month, int day, int hour, int minute, int second, FileTime* out) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0))
        return false;
    const auto days = static_cast<std::uint64_t>(DaysFrom1601(year, month, day));
    out->ticks = days * kTicksPerDay + static_cast<std::uint64_t>(hour * 3600 + minute * 60 + second) * kTicksPerSecond;
    return true;
}
