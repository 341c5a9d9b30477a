#include "platform/DriveLetters.h"

#include <map>
#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
std::map<char, std::string>& Table() {
    static std::map<char, std::string> table;
    return table;
}
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
} // namespace

void SetDriveLetterPath(char letter, const std::string& devicePath) {
    letter = Upper(letter);
    if (letter < 'A' || letter > 'Z')
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (devicePath.empty())
        Table().erase(letter);
    else
        Table()[letter] = devicePath;
}

std::string GetDriveLetterPath(char letter) {
    letter = Upper(letter);
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Table().find(letter);
    return it == Table().end() ? std::string() : it->second;
}

void ClearDriveLetters() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Table().clear();
}

} // namespace platform
