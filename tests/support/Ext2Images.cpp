#include "tests/support/Ext2Images.h"

#include "tests/support/FixtureKit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace testsupport {

bool RequireExt2Tools() {
    bool ok = true;
    for (const char* tool : {"mke2fs", "debugfs", "e2fsck"})
        ok = RequireTool(tool) && ok;
    return ok;
}

namespace {

std::string TempName(const std::string& base, const char* what) {
    static std::atomic<int> counter{0};
    return base + "." + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// The hexadecimal value after "<field>: 0x" in debugfs's stat output.
std::uint32_t HexField(const std::string& text, const std::string& field) {
    const std::string key = field + ": 0x";
    const std::size_t at = text.find(key);
    if (at == std::string::npos)
        return 0;
    return static_cast<std::uint32_t>(std::strtoul(text.c_str() + at + key.size(), nullptr, 16));
}

} // namespace

bool Ext2Image::Format(const std::string& path, const Ext2ImageOptions& o) {
    const std::string q = ShellQuote(path);
    std::string cmd = "rm -f " + q + " && truncate -s " + std::to_string(o.sizeKiB) + "K " + q +
                      " && mke2fs -q -F -t " + o.type + " -b " + std::to_string(o.blockSize) +
                      " -I " + std::to_string(o.inodeSize);
    if (!o.label.empty())
        cmd += " -L " + ShellQuote(o.label);
    if (!o.contentDir.empty())
        cmd += " -d " + ShellQuote(o.contentDir);
    if (!o.extraArgs.empty())
        cmd += " " + o.extraArgs;
    cmd += " " + q;
    return MustRun(cmd);
}

bool Ext2Image::Debugfs(const std::vector<std::string>& requests, std::string* out, bool writable) {
    const std::string file = TempName(m_path, "req");
    std::string text;
    for (const std::string& r : requests)
        text += r + "\n";
    if (!WriteFileBytes(file, std::vector<std::uint8_t>(text.begin(), text.end())))
        return false;
    std::string output;
    const bool ok = MustRun(std::string("TZ=UTC debugfs ") + (writable ? "-w " : "") + "-f " +
                                ShellQuote(file) + " " + ShellQuote(m_path) + " 2>&1",
                            &output);
    std::remove(file.c_str());
    if (out)
        *out = output;
    return ok;
}

bool Ext2Image::Write(const std::string& hostFile, const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == 0 ? "/" : target.substr(0, slash);
    return Debugfs({"cd " + dir, "write " + hostFile + " " + target.substr(slash + 1)});
}

bool Ext2Image::WriteBytes(const std::string& target, const std::vector<std::uint8_t>& bytes) {
    const std::string file = TempName(m_path, "in");
    if (!WriteFileBytes(file, bytes))
        return false;
    const bool ok = Write(file, target);
    std::remove(file.c_str());
    return ok;
}

bool Ext2Image::MakeDir(const std::string& dir) { return Debugfs({"mkdir " + dir}); }
bool Ext2Image::Remove(const std::string& path) { return Debugfs({"rm " + path}); }
bool Ext2Image::KillFile(const std::string& path) { return Debugfs({"kill_file " + path}); }

bool Ext2Image::SetInodeField(const std::string& path, const std::string& field,
                              const std::string& value) {
    return Debugfs({"set_inode_field " + path + " " + field + " " + value});
}

std::vector<Ext2ListEntry> Ext2Image::List(const std::string& dir) {
    std::vector<Ext2ListEntry> entries;
    std::string out;
    if (!Debugfs({"ls -l " + dir}, &out, false))
        return entries;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        // " 13  100644 (1)      0      0    3000 10-Dec-2026 02:32 name"
        std::istringstream in(line);
        Ext2ListEntry e;
        std::string linkField, uid, gid, date, time;
        std::string modeText;
        if (!(in >> e.inode >> modeText >> linkField >> uid >> gid >> e.size >> date >> time))
            continue;
        if (linkField.empty() || linkField[0] != '(')
            continue;
        e.mode = static_cast<std::uint32_t>(std::strtoul(modeText.c_str(), nullptr, 8));
        std::string rest;
        std::getline(in, rest);
        const std::size_t start = rest.find_first_not_of(' ');
        e.name = start == std::string::npos ? "" : rest.substr(start);
        entries.push_back(e);
    }
    return entries;
}

Ext2StatInfo Ext2Image::Stat(const std::string& path) {
    Ext2StatInfo info;
    std::string out;
    if (!Debugfs({"stat " + path}, &out, false))
        return info;
    const std::size_t at = out.find("Inode: ");
    if (at != std::string::npos)
        info.inode = static_cast<std::uint32_t>(std::strtoul(out.c_str() + at + 7, nullptr, 10));
    const std::size_t size = out.find("Size: ");
    if (size != std::string::npos)
        info.size = std::strtoull(out.c_str() + size + 6, nullptr, 10);
    info.ctime = HexField(out, " ctime");
    info.atime = HexField(out, " atime");
    info.mtime = HexField(out, " mtime");
    info.dtime = HexField(out, " dtime");
    return info;
}

std::vector<std::uint8_t> Ext2Image::Dump(const std::string& path) {
    const std::string file = TempName(m_path, "dump");
    std::vector<std::uint8_t> bytes;
    if (Debugfs({"dump " + path + " " + file}, nullptr, false))
        bytes = ReadFileBytes(file);
    std::remove(file.c_str());
    return bytes;
}

} // namespace testsupport
