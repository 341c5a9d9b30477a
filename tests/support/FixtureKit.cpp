#include "tests/support/FixtureKit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

std::string FixtureDir() {
    std::string dir = std::string(BRULIN_TEST_WORK_DIR) + "/fixtures";
    fs::create_directories(dir);
    return dir;
}

std::string ScratchDir(const std::string& name) {
    static std::atomic<int> counter{0};
    std::string dir = std::string(BRULIN_TEST_WORK_DIR) + "/scratch/" + name + "-" +
                      std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string CheckedInFixtureDir() { return std::string(BRULIN_SOURCE_DIR) + "/tests/fixtures"; }

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Debian installs the file system and partition tools in /usr/sbin (and /sbin), which a regular
// user's login PATH leaves out; they run there all the same for any user.
std::string ToolSearchPath() {
    const char* env = std::getenv("PATH");
    std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    for (const char* dir : {"/usr/local/sbin", "/usr/sbin", "/sbin"}) {
        if ((":" + path + ":").find(std::string(":") + dir + ":") == std::string::npos)
            path += std::string(":") + dir;
    }
    return path;
}

std::string FindTool(const std::string& tool) {
    const std::string path = ToolSearchPath();
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string dir = path.substr(start, end - start);
        start = end + 1;
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + tool;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

int Run(const std::string& command, std::string* output) {
    std::string full = "PATH=" + ShellQuote(ToolSearchPath()) + "; export PATH; ( " + command + " ) 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    int status = ::pclose(p);
    if (output)
        *output = text;
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MustRun(const std::string& command, std::string* output) {
    std::string text;
    int status = Run(command, &text);
    if (output)
        *output = text;
    if (status != 0) {
        ADD_FAILURE() << "command failed (status " << status << "): " << command << "\n" << text;
        return false;
    }
    return true;
}

bool RequireTool(const std::string& tool) {
    if (!FindTool(tool).empty())
        return true;
    ADD_FAILURE() << "required tool not installed: " << tool << " (searched " << ToolSearchPath()
                  << "; run scripts/setup.sh)";
    return false;
}

std::string CachedFixture(const std::string& name,
                          const std::function<bool(const std::string& tmpPath)>& make) {
    const std::string dir = FixtureDir();
    const std::string path = dir + "/" + name;
    const std::string lockPath = dir + "/." + name + ".lock";
    int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        ADD_FAILURE() << "cannot open lock " << lockPath;
        return "";
    }
    while (::flock(lockFd, LOCK_EX) != 0) {
    }
    std::string result;
    if (fs::exists(path)) {
        result = path;
    } else {
        const std::string tmp = dir + "/." + name + ".tmp-" + std::to_string(::getpid());
        fs::remove_all(tmp);
        if (make(tmp) && fs::exists(tmp)) {
            fs::rename(tmp, path);
            result = path;
        } else {
            fs::remove_all(tmp);
            ADD_FAILURE() << "could not make fixture " << name;
        }
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    return result;
}

std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

} // namespace testsupport
