#include "tests/support/Ext2Images.h"

#include "tests/support/FixtureKit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
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

std::string DebugfsQuote(const std::string& word) {
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

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
    return Debugfs({"cd " + dir, "write " + DebugfsQuote(hostFile) + " " + target.substr(slash + 1)});
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
    info.ctime = HexField(out, "ctime");
    info.atime = HexField(out, "atime");
    info.mtime = HexField(out, "mtime");
    info.dtime = HexField(out, "dtime");
    return info;
}

std::vector<std::uint32_t> Ext2Image::Blocks(const std::string& path) {
    std::vector<std::uint32_t> blocks;
    std::string out;
    if (!Debugfs({"stat " + path}, &out, false))
        return blocks;
    // "BLOCKS:\n(0-11):1025-1036, (IND):1037, (12-267):1038-1293\nTOTAL: 269"
    const std::size_t begin = out.find("BLOCKS:");
    const std::size_t end = out.find("TOTAL:", begin);
    if (begin == std::string::npos || end == std::string::npos)
        return blocks;
    const std::string list = out.substr(begin, end - begin);
    for (std::size_t at = list.find("):"); at != std::string::npos; at = list.find("):", at + 2)) {
        char* next = nullptr;
        const unsigned long first = std::strtoul(list.c_str() + at + 2, &next, 10);
        unsigned long last = first;
        if (next && *next == '-')
            last = std::strtoul(next + 1, nullptr, 10);
        for (unsigned long b = first; b <= last; ++b)
            blocks.push_back(static_cast<std::uint32_t>(b));
    }
    return blocks;
}

std::vector<std::uint32_t> Ext2Image::InodeTableBlocks(std::uint32_t count) {
    std::vector<std::uint32_t> blocks(count, 0);
    std::vector<std::string> requests;
    for (std::uint32_t i = 1; i <= count; ++i)
        requests.push_back("imap <" + std::to_string(i) + ">");
    std::string out;
    if (!Debugfs(requests, &out, false))
        return blocks;
    // "Inode 40 is part of block group 1\n\tlocated at block 8260, offset 0x0380"
    std::istringstream lines(out);
    std::string line;
    std::uint32_t inode = 0;
    while (std::getline(lines, line)) {
        unsigned long n = 0, group = 0, block = 0;
        if (std::sscanf(line.c_str(), "Inode %lu is part of block group %lu", &n, &group) == 2)
            inode = static_cast<std::uint32_t>(n);
        else if (std::sscanf(line.c_str(), " located at block %lu", &block) == 1 && inode >= 1 && inode <= count)
            blocks[inode - 1] = static_cast<std::uint32_t>(block);
    }
    return blocks;
}

std::vector<std::uint8_t> Ext2Image::Dump(const std::string& path) {
    const std::string file = TempName(m_path, "dump");
    std::vector<std::uint8_t> bytes;
    if (Debugfs({"dump " + path + " " + DebugfsQuote(file)}, nullptr, false))
        bytes = ReadFileBytes(file);
    std::remove(file.c_str());
    return bytes;
}

// ---- Sample volumes -------------------------------------------------------------------------

std::vector<Ext2SampleFile> Ext2SampleFiles(const std::string& kind) {
    using F = Ext2SampleFile;
    std::vector<F> files;
    if (kind == "htree") {
        for (int i = 0; i < 400; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/many/file-%03d.txt", i);
            files.push_back({name, 10, F::kLive});
        }
        return files;
    }
    const bool big = kind == "ext3-4k";
    files = {
        {"/docs/a.txt", 3000, F::kLive},
        {"/docs/sub/deep.bin", 1000, F::kLive},
        {"/big.bin", big ? 4608u * 1024 : 300u * 1024, F::kLive},
        {"/sparse.bin", 1024 * 1024, F::kLive, true},
        {"/empty.txt", 0, F::kLive},
        {"/top.txt", 10, F::kLive},
        {"/docs/removed.bin", 20000, F::kRemoved},
        {"/docs/killed.txt", 5000, F::kKilled},
    };
    if (!big)
        files.push_back({"/huge.bin", 5ull << 30, F::kLive, true});
    else
        files.push_back({"/docs/cleared.bin", 8000, F::kCleared});
    return files;
}

std::vector<std::uint8_t> Ext2SampleContent(const Ext2SampleFile& file) {
    std::uint32_t seed = 7;
    for (char c : file.path)
        seed = seed * 31 + static_cast<unsigned char>(c);
    if (!file.holes)
        return PatternBytes(static_cast<std::size_t>(file.size), seed);
    return {}; // sparse files are described by Ext2SparseParts
}

namespace {

// Sparse sample files: data at these offsets, zeros elsewhere.
struct SparsePart {
    std::uint64_t offset;
    std::size_t size;
};
std::vector<SparsePart> SparseParts(const Ext2SampleFile& file) {
    if (file.size > (1ull << 32))
        return {{4800ull << 20, 9}};
    return {{0, 4}, {600 * 1024, 5000}};
}

bool WriteSparseHostFile(const std::string& path, const Ext2SampleFile& file) {
    if (!MustRun("truncate -s " + std::to_string(file.size) + " " + ShellQuote(path)))
        return false;
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        return false;
    bool ok = true;
    std::uint32_t seed = 1;
    for (const SparsePart& part : SparseParts(file)) {
        const std::vector<std::uint8_t> bytes = PatternBytes(part.size, seed++);
        ok = ok && fseeko(f, static_cast<off_t>(part.offset), SEEK_SET) == 0 &&
             std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace

std::string Ext2SampleVolume(const std::string& kind) {
    return CachedFixture("ext2-sample-" + kind + "-v2.img", [&](const std::string& tmp) {
        if (!RequireExt2Tools())
            return false;
        const std::string content = tmp + ".content";
        std::string unused;
        Run("rm -rf " + ShellQuote(content), &unused);
        if (!MustRun("mkdir -p " + ShellQuote(content)))
            return false;
        Ext2ImageOptions o;
        o.contentDir = content;
        if (kind == "ext2-1k") {
            o.sizeKiB = 12 * 1024;
            o.label = "first";
        } else if (kind == "ext3-4k") {
            o.type = "ext3";
            o.blockSize = 4096;
            o.inodeSize = 256;
            o.sizeKiB = 16 * 1024;
            o.label = "data set-1";
        } else if (kind == "htree") {
            o.sizeKiB = 8 * 1024;
            o.extraArgs = "-O dir_index";
        } else {
            return false;
        }
        bool ok = true;
        const std::vector<Ext2SampleFile> files = Ext2SampleFiles(kind);
        for (const Ext2SampleFile& f : files) {
            if (f.how != Ext2SampleFile::kLive)
                continue;
            const std::string host = content + f.path;
            const std::string dir = host.substr(0, host.rfind('/'));
            ok = ok && MustRun("mkdir -p " + ShellQuote(dir));
            ok = ok && (f.holes ? WriteSparseHostFile(host, f) : WriteFileBytes(host, Ext2SampleContent(f)));
        }
        ok = ok && Ext2Image::Format(tmp, o);
        Run("rm -rf " + ShellQuote(content), &unused);
        if (!ok)
            return false;
        Ext2Image img(tmp);
        if (kind == "htree")
            return MustRun("e2fsck -fyD " + ShellQuote(tmp) + " >/dev/null 2>&1 || test $? -le 1");
        ok = img.SetInodeField("/top.txt", "mtime", "20210304050608");
        // Everything is written before anything is deleted, so that no inode or block of a
        // deleted file is used again.
        for (const Ext2SampleFile& f : files)
            if (f.how != Ext2SampleFile::kLive)
                ok = ok && img.WriteBytes(f.path, Ext2SampleContent(f));
        ok = ok && img.MakeDir("/docs/gone");
        for (const Ext2SampleFile& f : files) {
            if (f.how == Ext2SampleFile::kRemoved)
                ok = ok && img.Remove(f.path);
            if (f.how == Ext2SampleFile::kKilled || f.how == Ext2SampleFile::kCleared)
                ok = ok && img.KillFile(f.path);
            if (f.how == Ext2SampleFile::kCleared)
                for (int i = 0; i < 15; ++i)
                    ok = ok && img.SetInodeField(f.path, "block[" + std::to_string(i) + "]", "0");
        }
        ok = ok && img.Debugfs({"rmdir /docs/gone"});
        return ok;
    });
}

const char* const kExt2SlowLinkTarget =
    "d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/target.txt";

std::vector<std::uint8_t> Ext2LinkedFileBytes() { return PatternBytes(3000, 77); }

std::string Ext2SpecialInodesVolume() {
    return CachedFixture("ext2-special-inodes-v2.img", [](const std::string& tmp) {
        if (!RequireExt2Tools())
            return false;
        const std::string content = tmp + ".content";
        std::string unused;
        Run("rm -rf " + ShellQuote(content), &unused);
        bool ok = MustRun("mkdir -p " + ShellQuote(content + "/docs")) &&
                  WriteFileBytes(content + "/docs/a.txt", Ext2LinkedFileBytes()) &&
                  MustRun("cd " + ShellQuote(content) + " && ln -s docs/a.txt link-fast && ln -s " +
                          std::string(kExt2SlowLinkTarget) + " link-slow && ln -s short-gone gone-link && mkfifo pipe");
        Ext2ImageOptions o;
        o.contentDir = content;
        ok = ok && Ext2Image::Format(tmp, o);
        Run("rm -rf " + ShellQuote(content), &unused);
        if (!ok)
            return false;
        Ext2Image img(tmp);
        // Everything is written before anything is deleted, so that no freed inode is used again.
        ok = img.Debugfs({"cd /", "mknod chardev c 1 3"}) && img.WriteBytes("/docs/cleared.txt", PatternBytes(5000, 5)) &&
             img.WriteBytes("/docs/erased.txt", PatternBytes(5000, 6));
        const std::uint32_t cleared = img.Stat("/docs/cleared.txt").inode;
        const std::uint32_t erased = img.Stat("/docs/erased.txt").inode;
        ok = ok && img.KillFile("/gone-link") && img.KillFile("/docs/cleared.txt") && img.Remove("/docs/erased.txt");
        for (std::uint32_t number : {cleared, erased}) {
            const std::string inode = "<" + std::to_string(number) + ">";
            ok = ok && number != 0 && img.SetInodeField(inode, "size", "0") && img.SetInodeField(inode, "blocks", "0");
            for (int i = 0; i < 15; ++i)
                ok = ok && img.SetInodeField(inode, "block[" + std::to_string(i) + "]", "0");
        }
        return ok;
    });
}

std::vector<std::uint8_t> Ext2SampleBytes(const Ext2SampleFile& file) {
    if (!file.holes)
        return Ext2SampleContent(file);
    std::vector<std::uint8_t> bytes;
    if (file.size > (64u << 20))
        return bytes; // too large to hold: compare the parts
    bytes.assign(static_cast<std::size_t>(file.size), 0);
    std::uint32_t seed = 1;
    for (const SparsePart& part : SparseParts(file)) {
        const std::vector<std::uint8_t> data = PatternBytes(part.size, seed++);
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(part.offset));
    }
    return bytes;
}

std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> Ext2SampleDataParts(const Ext2SampleFile& file) {
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> parts;
    std::uint32_t seed = 1;
    for (const SparsePart& part : SparseParts(file))
        parts.push_back({part.offset, PatternBytes(part.size, seed++)});
    return parts;
}

} // namespace testsupport
