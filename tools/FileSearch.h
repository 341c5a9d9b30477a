#pragma once
// The file search of the file-selection page without its window: the criteria the dialog
// collects, their compiled form, the single tests on a node's properties, and the walk that
// gathers (and optionally ticks) the matching files under a folder.
#include "filesystems/FileProperties.h"
#include "tools/FileFilters.h"
#include "platform/FileTypeMap.h"
#include "tools/NameMask.h"

#include <cstdint>
#include <string>
#include <vector>

class CFileNode;

// Which optional panels of the dialog were open when Find was pressed.
enum FileSearchFlags : std::uint32_t {
    kSearchByType = 1,
    kSearchByDate = 2,
    kSearchBySize = 4,
    kSearchOther = 8,
};

// Which time a date criterion looks at (1 << the index of the dialog's combo).
enum FileSearchDateKind : std::uint32_t {
    kSearchDateModified = 1,
    kSearchDateCreated = 2,
    kSearchDateAccessed = 4,
};

// How a size criterion compares (the index of the dialog's combo + 1).
enum FileSearchSizeKind : std::uint32_t {
    kSearchSizeAtMost = 1,  // "less than"
    kSearchSizeAtLeast = 2, // "more than"
};

struct FileSearchCriteria {
    std::string name = "*";         // name, part of a name or mask; "*" for an empty edit
    bool autoSelect = false;        // tick every match for recovery
    CFileNode* location = nullptr;  // folder whose descendants are searched
    std::uint32_t flags = 0;        // FileSearchFlags
    std::string typeMask = "*";     // ';'-separated extension list of the chosen type
    std::string typeDisplay = "*";  // "*" for the first two type entries, else the type name
    std::uint32_t dateKind = kSearchDateModified;
    FileTime from;                  // inclusive
    FileTime to;                    // inclusive
    std::uint32_t sizeKind = kSearchSizeAtMost;
    std::uint64_t sizeLimit = 0;    // bytes
    bool caseSensitive = false;     // only read with kSearchOther
    bool includeEncrypted = true;   // only read with kSearchOther
};

// The criteria with their compiled parts; lives for one search.
struct CompiledSearchCriteria {
    FileSearchCriteria criteria;
    FileNamePattern namePattern;
    FileNamePattern typePattern;
    CFileAttributeFilter encryptedFilter;
};

// The matches of one search, in the order the walk met them. The nodes belong to the tree.
struct SearchResult {
    std::uint32_t count = 0;
    std::vector<CFileNode*> nodes;
};

// Compiles: the name pattern (whole name or mask, case as chosen), a backwards date range put
// the right way round, the type pattern and the encrypted-file filter.
CompiledSearchCriteria BuildSearchCriteria(FileSearchCriteria criteria);

bool MatchesName(const CompiledSearchCriteria& compiled, const IFileProperties* properties);
bool MatchesTypeMask(const CompiledSearchCriteria& compiled, const IFileProperties* properties);
bool MatchesDate(const CompiledSearchCriteria& compiled, const IFileProperties* properties);
bool MatchesSize(const CompiledSearchCriteria& compiled, const IFileProperties* properties);
// Every criterion in turn (encrypted filter, name, then type, date and size when their flags
// are set); false for a node without properties.
bool MatchesCriteria(const CompiledSearchCriteria& compiled, const CFileNode* node);

// Walks the descendants of `location` depth first in pre-order (never the location itself)
// and appends every file (not a directory) that matches; with auto-select, ticks each match
// that is not ticked yet, with its subtree and its ancestors' totals. Iterative.
void SearchTree(const CompiledSearchCriteria& compiled, CFileNode* location, SearchResult& result);

// A search name may not hold '\', '/', ':', '"', '<', '>' or '|' (nor be empty).
bool IsValidSearchName(const std::string& name);

// What pressing Find gives: the message ids of the dialog.
enum FileSearchStatus : int {
    kSearchFound = 0,      // at least one match: the dialog ends with OK
    kSearchBadName = 164,  // "No files match specific criteria." (a name with a forbidden character)
    kSearchNoMatch = 165,  // "No files match specific criteria."
};

// The search behind the Find button: checks the name, compiles, walks the location and fills
// `result`. An empty name searches for "*".
FileSearchStatus RunFileSearch(FileSearchCriteria criteria, SearchResult& result);

// The text the result tab shows for a search: the type's display text when the type panel was
// open, else the name; "*" when that is empty.
std::string SearchDisplayText(const FileSearchCriteria& criteria);

// One entry of the dialog's "Search location:" list.
struct SearchLocation {
    std::string text;
    CFileNode* node = nullptr;
};
// "(Everywhere)" (the topmost ancestor of `current`), the folder directly below it on the way
// to `current`, and `current` itself when that differs.
std::vector<SearchLocation> SearchLocations(CFileNode* current);
// A folder's path: the ancestors' names each followed by '\' (a folder named "Root" adds
// nothing), then the node's own name.
std::string SearchLocationPath(const CFileNode* node);

// One entry of the dialog's type list, in the map's key order.
struct SearchTypeEntry {
    std::string text;     // what the list shows
    std::string mask;     // the extension list
    std::string display;  // "*" for the first two entries, else the type name
};
std::vector<SearchTypeEntry> SearchTypeEntries(const FileTypeMap& map);

// The current time, and the ranges of the date panel's first two choices ("in last N month."
// as N x 30 days, "in last N days.") ending at `now`.
FileTime FileTimeNow();
void LastMonthsRange(int months, FileTime now, FileTime* from, FileTime* to);
void LastDaysRange(int days, FileTime now, FileTime* from, FileTime* to);
// A calendar date and time of day (as picked, no time-zone conversion) as a FileTime; false
// for a date before 1601 or an invalid one.
bool FileTimeFromCalendar(int year, int month, int day, int hour, int minute, int second, FileTime* out);
