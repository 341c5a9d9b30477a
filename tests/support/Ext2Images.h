#pragma once
// EXT2/EXT3 images made at test time with mke2fs (-d for the initial content) and edited with
// debugfs -w (write, mkdir, rm, kill_file, set_inode_field), with debugfs's own `ls -l`,
// `stat` and `dump` as the oracle. Images are plain files.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Ext2ImageOptions {
    std::string type = "ext2";     // "ext2" or "ext3"
    std::uint32_t sizeKiB = 4096;  // size of the file system
    std::uint32_t blockSize = 1024;
    std::uint32_t inodeSize = 128; // 128 or 256
    std::string label;             // volume name (-L), none when empty
    std::string contentDir;        // host folder copied in with -d, none when empty
    std::string extraArgs;         // further mke2fs arguments (e.g. "-O dir_index")
};

// What debugfs says about one inode.
struct Ext2StatInfo {
    std::uint32_t inode = 0;
    std::uint64_t size = 0;
    std::uint32_t ctime = 0;
    std::uint32_t atime = 0;
    std::uint32_t mtime = 0;
    std::uint32_t dtime = 0;
};

// One line of `ls -l`.
struct Ext2ListEntry {
    std::uint32_t inode = 0;
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    std::string name;
};

class Ext2Image {
public:
    Ext2Image() = default;
    explicit Ext2Image(std::string path) : m_path(std::move(path)) {}

    // Creates (or replaces) the image file at `path` and formats it. TZ=UTC,
    // E2FSPROGS_FAKE_TIME is not used: times are the real time of the run.
    static bool Format(const std::string& path, const Ext2ImageOptions& options);

    const std::string& Path() const { return m_path; }

    // Runs debugfs requests (one per line) against the image, writable. Records a test failure
    // when debugfs fails to run. The output goes to *out when given.
    bool Debugfs(const std::vector<std::string>& requests, std::string* out = nullptr,
                 bool writable = true);
    // Copies host file `hostFile` to `target` ("/dir/name"); the folder must exist.
    bool Write(const std::string& hostFile, const std::string& target);
    bool WriteBytes(const std::string& target, const std::vector<std::uint8_t>& bytes);
    bool MakeDir(const std::string& dir);
    bool Remove(const std::string& path);   // `rm`: unlink, free the inode when unlinked
    bool KillFile(const std::string& path); // `kill_file`: free inode and blocks, keep the entry
    // `set_inode_field` on a path or "<ino>".
    bool SetInodeField(const std::string& path, const std::string& field, const std::string& value);

    std::vector<Ext2ListEntry> List(const std::string& dir);
    Ext2StatInfo Stat(const std::string& pathOrInode);
    std::vector<std::uint8_t> Dump(const std::string& pathOrInode);

private:
    std::string m_path;
};

// Required tools present (mke2fs, debugfs, e2fsck); records failures for missing ones.
bool RequireExt2Tools();

} // namespace testsupport
