#include "tools/SliceList.h"

#include "platform/TargetTree.h"
#include "platform/File.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace imagetool {

using platform::FileHandle;
using platform::OpenReadOnly;

bool IsDriveLetterPath(const std::string& line) {
    if (line.size() < 3) return false;
    const char c = line[0];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && line[1] == ':' && line[2] == '\\';
}

bool ReadSliceListLines(const char* data, std::size_t size, std::vector<std::string>* lines) {
    lines->clear();
    if (data == nullptr || size == 0) return false;
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t end = pos;
        while (end < size && data[end] != '\n') ++end;
        std::size_t textEnd = end;
        if (end < size && textEnd > pos && data[textEnd - 1] == '\r') --textEnd;
        std::string line(data + pos, textEnd - pos);
        if (line.empty() || line.size() >= PATH_MAX) return false;
        if (line.find('\0') != std::string::npos) return false;
        if (line[0] != '/' && !IsDriveLetterPath(line)) return false;
        lines->push_back(std::move(line));
        pos = end < size ? end + 1 : size;
    }
    return !lines->empty();
}

std::string SliceFileName(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool SliceOpens(const std::string& path) {
    if (path.empty() || IsDriveLetterPath(path)) return false;
    return OpenReadOnly(path).Valid();
}

static bool ReadWholeFile(const std::string& path, std::string* bytes) {
    FileHandle file = OpenReadOnly(path);
    if (!file.Valid()) return false;
    bytes->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.Get(), buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) break;
        bytes->append(buffer, static_cast<std::size_t>(n));
        // A slice list names at most a few dozen slices; anything far larger is not one.
        if (bytes->size() > 16u * 1024 * 1024) return false;
    }
    return true;
}

SliceListCheck CheckSliceList(const std::string& listPath) {
    std::string bytes;
    if (!ReadWholeFile(listPath, &bytes)) return SliceListCheck::NoList;
    std::vector<std::string> lines;
    if (!ReadSliceListLines(bytes.data(), bytes.size(), &lines)) return SliceListCheck::Malformed;
    for (const std::string& line : lines)
        if (!SliceOpens(line)) return SliceListCheck::MissingSlice;
    return SliceListCheck::Complete;
}

OpenImageResult CheckImageToOpen(const std::string& ediPath, std::string* listPath) {
    listPath->clear();
    if (ediPath.size() < 4 || ediPath.compare(ediPath.size() - 4, 4, ".edi") != 0)
        return OpenImageResult::NotAnImage;
    if (!OpenReadOnly(ediPath).Valid()) return OpenImageResult::NotAnImage;
    *listPath = ediPath.substr(0, ediPath.size() - 4) + ".edp";
    switch (CheckSliceList(*listPath)) {
    case SliceListCheck::NoList: return OpenImageResult::NoSliceList;
    case SliceListCheck::Malformed: return OpenImageResult::Malformed;
    case SliceListCheck::MissingSlice: return OpenImageResult::MissingSlice;
    case SliceListCheck::Complete: break;
    }
    return OpenImageResult::Complete;
}

bool WriteSliceList(const std::string& listPath, const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        text += path;
        if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) text += "\r\n";
    }
    const std::string temp = listPath + ".new";
    const int fd = platform::TreeCreateFile(temp, platform::TreeExisting::Replace, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && platform::TreeRename(temp, listPath) != 0) ok = false;
    if (!ok) platform::TreeRemoveFile(temp);
    return ok;
}

bool SliceListRows::Fill(const std::string& listPath) {
    Clear();
    std::string bytes;
    if (!ReadWholeFile(listPath, &bytes)) return false;
    std::vector<std::string> lines;
    if (!ReadSliceListLines(bytes.data(), bytes.size(), &lines)) return false;
    FillFromLines(lines);
    return true;
}

void SliceListRows::FillFromLines(const std::vector<std::string>& lines) {
    Clear();
    for (const std::string& line : lines) {
        m_sliceMap[SliceFileName(line)] = m_rows.size();
        m_rows.push_back({line, SliceOpens(line)});
    }
    m_lineCount = lines.size();
}

SliceListRows::Pick SliceListRows::AddSlice(const std::string& path) {
    const auto it = m_sliceMap.find(SliceFileName(path));
    if (it == m_sliceMap.end() || it->second != m_rows.size()) return Pick::WrongName;
    if (!SliceOpens(path)) return Pick::DoesNotOpen;
    m_rows.push_back({path, true});
    return Pick::Accepted;
}

SliceListRows::Pick SliceListRows::LocateSlice(std::size_t row, const std::string& path) {
    const auto it = m_sliceMap.find(SliceFileName(path));
    if (row >= m_rows.size() || it == m_sliceMap.end() || it->second != row)
        return Pick::WrongName;
    if (!SliceOpens(path)) return Pick::DoesNotOpen;
    m_rows[row] = {path, true};
    return Pick::Accepted;
}

void SliceListRows::Remove(std::size_t row) {
    if (row < m_rows.size()) m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(row));
}

bool SliceListRows::Complete() const {
    if (m_rows.size() != m_lineCount) return false;
    for (const Row& row : m_rows)
        if (!row.valid) return false;
    return true;
}

std::vector<std::string> SliceListRows::Paths() const {
    std::vector<std::string> paths;
    for (const Row& row : m_rows) paths.push_back(row.path);
    return paths;
}

void SliceListRows::Clear() {
    m_rows.clear();
    m_sliceMap.clear();
    m_lineCount = 0;
}

}  // namespace imagetool
