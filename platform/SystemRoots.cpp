#include "platform/SystemRoots.h"

#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {
namespace {
std::mutex g_mutex;
SystemRoots& Roots() {
    static SystemRoots roots;
    return roots;
}
} // namespace

SystemRoots GetSystemRoots() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Roots();
}

void SetSystemRoots(const SystemRoots& roots) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Roots() = roots;
}

void ResetSystemRoots() { SetSystemRoots(SystemRoots()); }

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ReadSysValue(const std::string& path) {
    std::string s = ReadTextFile(path);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '\0'))
        s.pop_back();
    return s;
}

} // namespace platform
