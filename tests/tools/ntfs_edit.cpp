// Test helper: edits an NTFS image file through libntfs-3g (no FUSE). Reads commands from
// standard input, one a line, words separated by spaces (a word that holds spaces is written in
// double quotes, with \" and \\ inside them, as std::quoted writes it):
//   mkdir PATH                 make a folder
//   put HOSTFILE PATH          make a file with the bytes of HOSTFILE
//   fill DIR COUNT SIZE SEED   make DIR/f000000 ... each of SIZE pattern bytes
//   interleave P1 P2 SIZE SEED make two files of SIZE pattern bytes written cluster by cluster in
//                              turn, so both are fragmented (P1 gets SEED, P2 SEED + 1)
//   sparse PATH SIZE SEED      make a file of SIZE bytes whose first and last quarters hold
//                              the pattern bytes of SEED and whose middle is never written
//                              (a hole: sparse runs that read as zeros)
//   efs HOSTFILE PATH EFSFILE  make a file with the bytes of HOSTFILE marked encrypted, with
//                              the bytes of EFSFILE as its $EFS stream
//   rm PATH                    delete a file or an empty folder
//   ino PATH                   print the MFT record number of PATH
//   lsn PATH VALUE             set the $LogFile sequence number in the header of PATH's MFT
//                              record (the library keeps no log and leaves it 0; Windows
//                              raises it with every change it logs)
// Usage: ntfs_edit IMAGE [compress|readonly]   ("compress" lets new files in compressed folders
// compress; "readonly" mounts without writing, for queries on shared images)
#include <algorithm>
#include <cstddef>
#include <cstdarg>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
#undef min
#undef max

// The library keeps a few process-lifetime allocations; this helper is not what tests check.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }

namespace {

ntfs_volume* g_vol = nullptr;

std::string Parent(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string Leaf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return out;
}

ntfs_inode* CreateIn(ntfs_inode* dir, const std::string& name, mode_t type) {
    ntfschar* uname = nullptr;
    int len = ntfs_mbstoucs(name.c_str(), &uname);
    if (len <= 0)
        return nullptr;
    ntfs_inode* ni = ntfs_create(dir, const_cpu_to_le32(0), uname, static_cast<u8>(len), type);
    std::free(uname);
    return ni;
}

bool WriteData(ntfs_inode* ni, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty())
        return true;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na)
        return false;
    s64 done = 0;
    while (done < static_cast<s64>(bytes.size())) {
        s64 n = ntfs_attr_pwrite(na, done, static_cast<s64>(bytes.size()) - done, bytes.data() + done);
        if (n <= 0)
            break;
        done += n;
    }
    ntfs_attr_close(na);
    return done == static_cast<s64>(bytes.size());
}

bool Create(const std::string& path, mode_t type, const std::vector<std::uint8_t>* bytes) {
    ntfs_inode* dir = ntfs_pathname_to_inode(g_vol, nullptr, Parent(path).c_str());
    if (!dir)
        return false;
    ntfs_inode* ni = CreateIn(dir, Leaf(path), type);
    bool ok = ni != nullptr;
    if (ni && bytes)
        ok = WriteData(ni, *bytes);
    if (ni)
        ntfs_inode_close(ni);
    ntfs_inode_close(dir);
    return ok;
}

bool Remove(const std::string& path) {
    ntfs_inode* ni = ntfs_pathname_to_inode(g_vol, nullptr, path.c_str());
    if (!ni)
        return false;
    ntfs_inode* dir = ntfs_pathname_to_inode(g_vol, nullptr, Parent(path).c_str());
    if (!dir) {
        ntfs_inode_close(ni);
        return false;
    }
    ntfschar* uname = nullptr;
    int len = ntfs_mbstoucs(Leaf(path).c_str(), &uname);
    // ntfs_delete closes both inodes whatever it returns.
    int rc = len > 0 ? ntfs_delete(g_vol, path.c_str(), ni, dir, uname, static_cast<u8>(len)) : -1;
    std::free(uname);
    return rc == 0;
}

std::string Numbered(const std::string& dir, unsigned i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%06u", i);
    return (dir == "/" ? "" : dir) + name;
}

// Makes DIR/f000000 ... and returns their record numbers (empty on failure).
std::vector<u64> Fill(const std::string& dir, unsigned count, std::size_t size, std::uint32_t seed) {
    std::vector<u64> made;
    ntfs_inode* d = ntfs_pathname_to_inode(g_vol, nullptr, dir.c_str());
    if (!d)
        return made;
    for (unsigned i = 0; i < count; ++i) {
        ntfs_inode* ni = CreateIn(d, Leaf(Numbered("", i)), S_IFREG);
        if (!ni)
            break;
        bool ok = WriteData(ni, Pattern(size, seed + i));
        made.push_back(ni->mft_no);
        ntfs_inode_close(ni);
        if (!ok)
            break;
    }
    ntfs_inode_close(d);
    if (made.size() != count)
        made.clear();
    return made;
}

// Writes two new files of `size` bytes cluster by cluster in turn, so that each ends up in
// one-cluster fragments (the first file gets bytes Pattern(size, seed), the second seed + 1).
bool Interleave(const std::string& path1, const std::string& path2, std::size_t size, std::uint32_t seed) {
    if (!Create(path1, S_IFREG, nullptr) || !Create(path2, S_IFREG, nullptr))
        return false;
    ntfs_inode* n1 = ntfs_pathname_to_inode(g_vol, nullptr, path1.c_str());
    ntfs_inode* n2 = ntfs_pathname_to_inode(g_vol, nullptr, path2.c_str());
    ntfs_attr* a1 = n1 ? ntfs_attr_open(n1, AT_DATA, AT_UNNAMED, 0) : nullptr;
    ntfs_attr* a2 = n2 ? ntfs_attr_open(n2, AT_DATA, AT_UNNAMED, 0) : nullptr;
    bool ok = a1 && a2;
    std::vector<std::uint8_t> b1 = Pattern(size, seed), b2 = Pattern(size, seed + 1);
    const std::size_t step = g_vol->cluster_size;
    for (std::size_t at = 0; ok && at < size; at += step) {
        s64 n = static_cast<s64>(std::min(step, size - at));
        ok = ntfs_attr_pwrite(a1, static_cast<s64>(at), n, b1.data() + at) == n &&
             ntfs_attr_pwrite(a2, static_cast<s64>(at), n, b2.data() + at) == n;
    }
    if (a1)
        ntfs_attr_close(a1);
    if (a2)
        ntfs_attr_close(a2);
    if (n1)
        ntfs_inode_close(n1);
    if (n2)
        ntfs_inode_close(n2);
    return ok;
}

// The first quarter is written, then the last one past a gap, which the library leaves as a
// hole.
bool Sparse(const std::string& path, std::size_t size, std::uint32_t seed) {
    if (!Create(path, S_IFREG, nullptr))
        return false;
    ntfs_inode* ni = ntfs_pathname_to_inode(g_vol, nullptr, path.c_str());
    ntfs_attr* na = ni ? ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0) : nullptr;
    bool ok = na != nullptr;
    const std::vector<std::uint8_t> bytes = Pattern(size, seed);
    const std::size_t quarter = size / 4;
    for (std::size_t at : {std::size_t(0), size - quarter}) {
        s64 done = 0;
        while (ok && done < static_cast<s64>(quarter)) {
            s64 n = ntfs_attr_pwrite(na, static_cast<s64>(at) + done, static_cast<s64>(quarter) - done,
                                     bytes.data() + at + done);
            ok = n > 0;
            done += n > 0 ? n : 0;
        }
    }
    if (na)
        ntfs_attr_close(na);
    if (ni)
        ntfs_inode_close(ni);
    return ok;
}

std::vector<std::uint8_t> ReadHostFile(const std::string& path, bool* ok) {
    std::ifstream f(path, std::ios::binary);
    *ok = static_cast<bool>(f);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Adds the $EFS stream and sets the encrypted flags; the data stays as written (it stands in
// for cipher text).
bool MarkEncrypted(const std::string& path, const std::vector<std::uint8_t>& efs) {
    ntfs_inode* ni = ntfs_pathname_to_inode(g_vol, nullptr, path.c_str());
    if (!ni)
        return false;
    static const ntfschar efsName[] = {const_cpu_to_le16('$'), const_cpu_to_le16('E'), const_cpu_to_le16('F'),
                                       const_cpu_to_le16('S')};
    bool ok = ntfs_attr_add(ni, AT_LOGGED_UTILITY_STREAM, const_cast<ntfschar*>(efsName), 4,
                            const_cast<u8*>(efs.data()), static_cast<s64>(efs.size())) == 0;
    ntfs_attr_search_ctx* ctx = ok ? ntfs_attr_get_search_ctx(ni, nullptr) : nullptr;
    ok = ctx && ntfs_attr_lookup(AT_DATA, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0;
    if (ok) {
        ctx->attr->flags = static_cast<ATTR_FLAGS>(ctx->attr->flags | ATTR_IS_ENCRYPTED);
        ntfs_inode_mark_dirty(ctx->ntfs_ino);
        ni->flags = static_cast<FILE_ATTR_FLAGS>(ni->flags | FILE_ATTR_ENCRYPTED);
        ntfs_inode_mark_dirty(ni);
    }
    if (ctx)
        ntfs_attr_put_search_ctx(ctx);
    return ntfs_inode_close(ni) == 0 && ok;
}

bool Run(const std::string& line) {
    std::istringstream in(line);
    std::string cmd, a, b;
    in >> cmd;
    if (cmd.empty() || cmd[0] == '#')
        return true;
    if (cmd == "mkdir") {
        in >> std::quoted(a);
        return Create(a, S_IFDIR, nullptr);
    }
    if (cmd == "put") {
        in >> std::quoted(a) >> std::quoted(b);
        std::ifstream f(a, std::ios::binary);
        if (!f)
            return false;
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        return Create(b, S_IFREG, &bytes);
    }
    if (cmd == "fill") {
        unsigned count = 0;
        std::size_t size = 0;
        std::uint32_t seed = 0;
        in >> std::quoted(a) >> count >> size >> seed;
        return !Fill(a, count, size, seed).empty() || count == 0;
    }
    if (cmd == "interleave") {
        std::size_t size = 0;
        std::uint32_t seed = 0;
        in >> std::quoted(a) >> std::quoted(b) >> size >> seed;
        return Interleave(a, b, size, seed);
    }
    if (cmd == "sparse") {
        std::size_t size = 0;
        std::uint32_t seed = 0;
        in >> std::quoted(a) >> size >> seed;
        return Sparse(a, size, seed);
    }
    if (cmd == "efs") {
        std::string c;
        in >> std::quoted(a) >> std::quoted(b) >> std::quoted(c);
        bool okData = false, okEfs = false;
        const auto data = ReadHostFile(a, &okData);
        const auto efs = ReadHostFile(c, &okEfs);
        return okData && okEfs && Create(b, S_IFREG, &data) && MarkEncrypted(b, efs);
    }
    if (cmd == "rm") {
        in >> std::quoted(a);
        return Remove(a);
    }
    if (cmd == "ino") {
        in >> std::quoted(a);
        ntfs_inode* ni = ntfs_pathname_to_inode(g_vol, nullptr, a.c_str());
        if (!ni)
            return false;
        std::printf("%llu\n", static_cast<unsigned long long>(ni->mft_no));
        ntfs_inode_close(ni);
        return true;
    }
    if (cmd == "lsn") {
        unsigned long long value = 0;
        in >> std::quoted(a) >> value;
        ntfs_inode* ni = ntfs_pathname_to_inode(g_vol, nullptr, a.c_str());
        if (!ni)
            return false;
        ni->mrec->lsn = cpu_to_sle64(static_cast<s64>(value));
        ntfs_inode_mark_dirty(ni);
        return ntfs_inode_close(ni) == 0;
    }
    std::fprintf(stderr, "unknown command: %s\n", cmd.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ntfs_edit IMAGE [compress|readonly] < commands\n");
        return 2;
    }
    const bool readOnly = argc > 2 && std::strcmp(argv[2], "readonly") == 0;
    g_vol = ntfs_mount(argv[1], readOnly ? NTFS_MNT_RDONLY : NTFS_MNT_NONE);
    if (!g_vol) {
        std::perror("ntfs_mount");
        return 1;
    }
    if (argc > 2 && std::strcmp(argv[2], "compress") == 0)
        NVolSetCompression(g_vol);
    int status = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!Run(line)) {
            std::fprintf(stderr, "failed (%s): %s\n", std::strerror(errno), line.c_str());
            status = 1;
            break;
        }
    }
    std::fflush(stdout);
    if (ntfs_umount(g_vol, FALSE) != 0) {
        std::perror("ntfs_umount");
        status = 1;
    }
    return status;
}
