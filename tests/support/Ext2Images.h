#pragma once
// EXT2/EXT3 images made at test time with mke2fs (-d for the initial content) and edited with
// debugfs -w (write, mkdir, rm, kill_file, set_inode_field), with debugfs's own `ls -l`,
// `stat` and `dump` as the oracle. Images are plain files.
#include <cstdint>
#include <string>
#include <utility>
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
    // Every block `stat` names for the inode: data blocks and indirect blocks.
    std::vector<std::uint32_t> Blocks(const std::string& pathOrInode);
    // The inode-table block of each inode 1..count, as `imap` locates it (0 when it says
    // nothing).
    std::vector<std::uint32_t> InodeTableBlocks(std::uint32_t count);
    std::vector<std::uint8_t> Dump(const std::string& pathOrInode);

private:
    std::string m_path;
};

// `word` as one argument of a debugfs request: in double quotes, a double quote in it doubled
// (debugfs splits a request at blanks otherwise). For host paths, which may hold blanks.
std::string DebugfsQuote(const std::string& word);

// Required tools present (mke2fs, debugfs, e2fsck); records failures for missing ones.
bool RequireExt2Tools();

// The files of the sample volumes (paths inside the image).
struct Ext2SampleFile {
    enum How { kLive, kRemoved, kKilled, kCleared };
    std::string path;
    std::uint64_t size;
    How how;
    bool holes = false; // written with holes (reads back as zeros there)
};

// Sample volumes, cached per build tree:
//  "ext2-1k": ext2, 1 KiB blocks, 128-byte inodes, label "first"; folders, a file with
//             single and double indirect blocks, a sparse file, a 5 GiB sparse file, an empty
//             file, a file with a set modification time, a removed file, a killed file
//             (entry kept) and a removed folder.
//  "ext3-4k": ext3, 4 KiB blocks, 256-byte inodes, label "data set-1"; the same without the
//             5 GiB file, plus a killed file whose block pointers were cleared (as the kernel
//             leaves deleted ext3 files).
//  "htree":   ext2 with dir_index, a folder of 400 files indexed by e2fsck -D.
// Returns "" (and records failures) when the image could not be made.
std::string Ext2SampleVolume(const std::string& kind);
std::vector<Ext2SampleFile> Ext2SampleFiles(const std::string& kind);
// The content written for a file without holes (deterministic).
std::vector<std::uint8_t> Ext2SampleContent(const Ext2SampleFile& file);
// The whole content a sample file reads back as (holes as zeros); empty for files too large
// to hold (use Ext2SampleDataParts).
std::vector<std::uint8_t> Ext2SampleBytes(const Ext2SampleFile& file);
// The data parts of a file with holes: (offset, bytes).
std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> Ext2SampleDataParts(const Ext2SampleFile& file);
// An ext2 volume (1 KiB blocks, 128-byte inodes) of inodes that are not plain files, made by
// mke2fs -d and debugfs:
//  "/docs/a.txt"      a regular file (kExt2LinkedFileBytes)
//  "/link-fast"       symbolic link to "docs/a.txt", kept in the inode (fast)
//  "/link-slow"       symbolic link to kExt2SlowLinkTarget (110 bytes), kept in a block (slow)
//  "/gone-link"       fast symbolic link to "short-gone", deleted with kill_file (entry kept)
//  "/pipe"            a FIFO (copied by mke2fs -d); "/chardev" a character device (debugfs mknod)
//  "/docs/cleared.txt" 5000 bytes, deleted with kill_file, then size, block count and block
//                     pointers cleared (what the kernel leaves of a deleted EXT3 file)
//  "/docs/erased.txt" the same, removed with rm (found by its inode only)
std::string Ext2SpecialInodesVolume();
extern const char* const kExt2SlowLinkTarget;
std::vector<std::uint8_t> Ext2LinkedFileBytes();

// The modification time set on "/top.txt" (2021-03-04 05:06:08 UTC).
constexpr std::uint32_t kExt2SampleTime = 1614834368;

} // namespace testsupport
