#pragma once
// The slice list of a disk image (".edp" beside the ".edi": one slice path per line, each line
// ended by "\r\n"): the strict reader of the open wizard, the check that every slice opens,
// the rows of the error page with their repairs, and the atomic rewrite.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace imagetool {

// Reads the list's lines. A line ends in "\r\n" or "\n" (only that end is cut); a last line
// may lack its end, and a list whose last line ends in "\r\n" has no further empty line.
// A line must be an absolute path ('/') or a path in drive-letter form ("C:\..."), hold no NUL
// and be shorter than PATH_MAX. False (malformed) for an empty list or any other line.
bool ReadSliceListLines(const char* data, std::size_t size, std::vector<std::string>* lines);

// A drive-letter path (an image written on Windows): kept, but it never opens here.
bool IsDriveLetterPath(const std::string& line);
// The slice's file name: what follows the last '/' or '\'.
std::string SliceFileName(const std::string& path);
// Opens the path for reading (a drive-letter path never opens).
bool SliceOpens(const std::string& path);

enum class SliceListCheck { Complete, MissingSlice, Malformed, NoList };

// Reads the list at `listPath` and checks that each slice opens.
SliceListCheck CheckSliceList(const std::string& listPath);

// Next on the open wizard's path page: what the chosen ".edi" leads to.
enum class OpenImageResult {
    NotAnImage,    // does not open or does not end in ".edi" (case-sensitive)
    NoSliceList,   // no ".edp" beside it
    Malformed,     // the list cannot be read as a slice list
    MissingSlice,  // a listed slice does not open: the error page
    Complete,      // the success page
};
OpenImageResult CheckImageToOpen(const std::string& ediPath, std::string* listPath);

// The list from the lines of a list file (open or not). Writes the file through a new file
// beside it that is synced and renamed over the old one; false when any step fails (the old
// list then stays as it was).
bool WriteSliceList(const std::string& listPath, const std::vector<std::string>& paths);

// The error page's rows.
class SliceListRows {
public:
    struct Row {
        std::string path;
        bool valid = false;
    };

    // Fills the rows from the list file; false when it cannot be read or is malformed.
    bool Fill(const std::string& listPath);
    void FillFromLines(const std::vector<std::string>& lines);
    const std::vector<Row>& Rows() const { return m_rows; }
    std::size_t LineCount() const { return m_lineCount; }

    enum class Pick { Accepted, WrongName, DoesNotOpen };
    // Add slice: only the next row's slice (by its file name) is accepted.
    Pick AddSlice(const std::string& path);
    // Locate slice: a file whose name is that of row `row`.
    Pick LocateSlice(std::size_t row, const std::string& path);
    void Remove(std::size_t row);
    // Every row valid and as many rows as lines.
    bool Complete() const;
    std::vector<std::string> Paths() const;
    void Clear();

private:
    std::vector<Row> m_rows;
    std::size_t m_lineCount = 0;
    std::unordered_map<std::string, std::size_t> m_sliceMap;
};

}  // namespace imagetool
