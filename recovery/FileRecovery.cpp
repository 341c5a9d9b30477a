#include "recovery/FileRecovery.h"

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"
#include "recovery/EfsRawStream.h"
#include "recovery/Lznt1.h"
#include "filesystems/ntfs/NtfsAttributeData.h"
#include "recovery/TargetFile.h"
#include "recovery/TargetFiles.h"
#include "storage/StorageDevice.h"

#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace {

// Compression units are read in blocks of at most this many sectors (a unit is at most 64 KiB).
constexpr std::uint32_t kBlockSectors = 128;
constexpr std::size_t kBlockBytes = kBlockSectors * kSectorSize;
// Plain runs are copied in blocks of this many sectors (256 KiB) through a page-aligned buffer
// that is zeroed only where a read failed. The copy used to read into a 16-byte-aligned 64 KiB
// buffer zeroed before every read, and fell behind `dd bs=64K`: the kernel's copies into and
// out of a buffer that is not line-aligned are slower, and the zeroing is one more pass.
constexpr std::uint32_t kCopyBlockSectors = 512;
constexpr std::size_t kPageBytes = 4096;

// A page-aligned copy buffer, so the kernel's copies to and from it run on aligned lines.
struct CopyBuffer {
    explicit CopyBuffer(std::uint32_t sectors) : sectors(sectors), data(Allocate(sectors)) {}
    ~CopyBuffer() { std::free(data); }
    CopyBuffer(const CopyBuffer&) = delete;
    CopyBuffer& operator=(const CopyBuffer&) = delete;
    const std::uint32_t sectors;
    std::uint8_t* const data;

private:
    static std::uint8_t* Allocate(std::uint32_t sectors) {
        const std::size_t bytes = std::size_t(sectors) * kSectorSize;
        void* p =
            std::aligned_alloc(kPageBytes, (bytes + kPageBytes - 1) / kPageBytes * kPageBytes);
        if (!p)
            throw std::bad_alloc();
        return static_cast<std::uint8_t*>(p);
    }
};
// Clusters of one NTFS compression unit.
constexpr std::uint32_t kUnitClusters = 16;

// ---- Per-node lock ---------------------------------------------------------------------------
// Recoveries of one node (the preview and a recovery) take turns: a lock per name, where the
// name is "File" followed by the node's address in hex, kept while somebody holds or waits.

class CNamedLocks {
public:
    static CNamedLocks& Instance() {
        static CNamedLocks locks;
        return locks;
    }

    void Lock(const std::string& name) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Entry& e = m_entries[name];
        ++e.users;
        m_changed.wait(lock, [&] { return !e.held; });
        e.held = true;
    }

    void Unlock(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(name);
        if (it == m_entries.end())
            return;
        it->second.held = false;
        if (--it->second.users == 0)
            m_entries.erase(it);
        m_changed.notify_all();
    }

private:
    struct Entry {
        int users = 0;
        bool held = false;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Entry> m_entries;
};

class CNodeLock {
public:
    explicit CNodeLock(const void* node) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%" PRIxPTR, "File", reinterpret_cast<std::uintptr_t>(node));
        m_name = name;
        CNamedLocks::Instance().Lock(m_name);
    }
    ~CNodeLock() { CNamedLocks::Instance().Unlock(m_name); }
    CNodeLock(const CNodeLock&) = delete;
    CNodeLock& operator=(const CNodeLock&) = delete;

private:
    std::string m_name;
};

// ---- Sector reads ----------------------------------------------------------------------------

// a * b, or UINT64_MAX when that does not fit.
std::uint64_t MulSat(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

// How many of the `count` sectors from `first` the device holds (all when its size is not
// known); 0 when `first` is not a valid sector number.
std::uint32_t SectorsOnDevice(const RecoveryContext& context, std::uint64_t first, bool firstValid,
                              std::uint32_t count) {
    if (!firstValid || first > UINT64_MAX - count)
        return 0;
    if (context.deviceSectors == 0 || first + count <= context.deviceSectors)
        return count;
    return first >= context.deviceSectors
               ? 0
               : static_cast<std::uint32_t>(context.deviceSectors - first);
}

// Reads `count` sectors from `first` into `buffer`. Sectors that cannot be read (also those
// past the device's end or whose number does not fit) are zeros and are counted in the context.
void ReadSectorsOrZeros(RecoveryContext& context, std::uint8_t* buffer, std::uint64_t first,
                        bool firstValid, std::uint32_t count) {
    const std::uint32_t held =
        context.device ? SectorsOnDevice(context, first, firstValid, count) : 0;
    context.unreadableSectors += count - held;
    std::memset(buffer + static_cast<std::size_t>(held) * kSectorSize, 0,
                static_cast<std::size_t>(count - held) * kSectorSize);
    if (held == 0 || context.device->ReadSectors(buffer, first, held) == 1)
        return;
    // Sector by sector, so one bad sector costs only its own 512 bytes.
    for (std::uint32_t i = 0; i < held; ++i) {
        std::uint8_t* sector = buffer + static_cast<std::size_t>(i) * kSectorSize;
        std::memset(sector, 0, kSectorSize);
        if (context.device->ReadSectors(sector, first + i, 1) != 1) {
            std::memset(sector, 0, kSectorSize);
            ++context.unreadableSectors;
        }
    }
}

// Device sector of sector `offset` of the run that starts at cluster `start`; false when it
// does not fit in 64 bits.
bool RunSector(const RecoveryContext& context, std::int64_t start, std::uint64_t offset,
               std::uint64_t* sector) {
    std::uint64_t s;
    if (start < 0 ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(start), context.sectorsPerCluster, &s) ||
        __builtin_add_overflow(s, context.firstSector, &s) || __builtin_add_overflow(s, offset, &s))
        return false;
    *sector = s;
    return true;
}

// `bytes` were just written: they count as done, and so do the holes skipped before them.
int Report(RecoveryContext& context, std::uint64_t bytes) {
    bytes += context.pendingHoleBytes;
    context.pendingHoleBytes = 0;
    context.bytesReported += bytes;
    if (context.callback && bytes && context.callback->AddBytesDone(bytes) == -1)
        return kRecoverCancelled;
    return kRecoverDone;
}

// A file that failed: the bytes it reported as done are taken back.
void TakeBackBytes(RecoveryContext& context) {
    context.pendingHoleBytes = 0;
    while (context.bytesReported > 0) {
        const std::uint32_t n = context.bytesReported > UINT32_MAX
                                    ? UINT32_MAX
                                    : static_cast<std::uint32_t>(context.bytesReported);
        if (context.callback)
            context.callback->SubtractBytesDone(n);
        context.bytesReported -= n;
    }
}

// A sparse stretch of `bytes`: a hole in the target (nothing written, no space used). It counts
// as done only once something behind it is written or the file ends.
int WriteHole(RecoveryContext& context, CTargetFile& target, std::uint64_t bytes) {
    if (bytes == 0)
        return kRecoverDone;
    if (!target.SkipHole(bytes))
        return kRecoverFailed;
    context.pendingHoleBytes += bytes;
    if (context.callback && context.callback->Poll() == -1)
        return kRecoverCancelled;
    return kRecoverDone;
}

// Copies `bytes` bytes from the clusters of a run starting at cluster `start`. Data past the
// device's last sector is not there to copy: the file ends at the device's end and fails.
int CopyRunBytes(RecoveryContext& context, CTargetFile& target, std::int64_t start,
                 std::uint64_t bytes, std::uint8_t* buffer, std::uint32_t blockSectors) {
    const std::uint64_t blockBytes = static_cast<std::uint64_t>(blockSectors) * kSectorSize;
    for (std::uint64_t done = 0; done < bytes;) {
        const std::uint64_t left = bytes - done;
        std::uint32_t sectors =
            left >= blockBytes ? blockSectors
                               : static_cast<std::uint32_t>((left + kSectorSize - 1) / kSectorSize);
        std::uint64_t first = 0;
        const bool valid = RunSector(context, start, done / kSectorSize, &first);
        const std::uint32_t held = SectorsOnDevice(context, first, valid, sectors);
        if (held < sectors)
            context.cutAtDeviceEnd = true;
        sectors = held;
        const std::uint64_t room = static_cast<std::uint64_t>(sectors) * kSectorSize;
        const std::uint64_t n = left < room ? left : room;
        if (n == 0)
            return kRecoverFailed;
        ReadSectorsOrZeros(context, buffer, first, valid, sectors);
        if (!target.WriteAll(buffer, static_cast<std::size_t>(n)))
            return kRecoverFailed;
        if (Report(context, n) != kRecoverDone)
            return kRecoverCancelled;
        done += n;
        if (context.cutAtDeviceEnd)
            return kRecoverFailed;
    }
    return kRecoverDone;
}

void LogShortRuns(std::uint64_t missing) {
    LogInfo("The data runs end %" PRIu64 " bytes before the end of the file.", missing);
}

// ---- Compressed units ------------------------------------------------------------------------

struct UnitPiece {
    std::int64_t start; // -1: sparse
    std::uint32_t clusters;
};

class CCompressedUnitWriter {
public:
    CCompressedUnitWriter(RecoveryContext& context, CTargetFile& target, std::uint64_t owed)
        : m_context(context), m_target(target), m_owed(owed),
          m_clusterBytes(context.sectorsPerCluster * kSectorSize),
          m_unitBytes(kUnitClusters * m_clusterBytes), m_in(kBlockBytes), m_out(kBlockBytes) {}

    std::uint64_t Owed() const { return m_owed; }

    // Whole units that are all sparse: one hole, however many.
    int SkipSparseUnits(std::uint64_t units) {
        return WriteHole(m_context, m_target, Take(MulSat(units, m_unitBytes)));
    }

    // Writes one unit: its pieces cover 16 clusters, or fewer at the end of the run list. A unit
    // of real clusters that ends in a sparse part is compressed and yields the whole unit;
    // otherwise its clusters are copied, sparse ones as zeros.
    int Emit(const std::vector<UnitPiece>& pieces) {
        std::size_t firstSparse = pieces.size();
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (pieces[i].start < 0) {
                firstSparse = i;
                break;
            }
        }
        const bool compressed =
            firstSparse > 0 && firstSparse < pieces.size() && pieces.back().start < 0;
        if (compressed)
            return EmitCompressed(pieces, firstSparse);
        // Stored clusters, with zeros for any sparse piece (an all-sparse unit is zeros).
        for (const UnitPiece& p : pieces) {
            const std::uint64_t bytes = Take(static_cast<std::uint64_t>(p.clusters) * m_clusterBytes);
            const int r = p.start < 0 ? WriteHole(m_context, m_target, bytes)
                                      : CopyRunBytes(m_context, m_target, p.start, bytes,
                                                     m_in.data(), kBlockSectors);
            if (r != kRecoverDone)
                return r;
        }
        return kRecoverDone;
    }

private:
    std::uint64_t Take(std::uint64_t bytes) {
        const std::uint64_t n = bytes < m_owed ? bytes : m_owed;
        m_owed -= n;
        return n;
    }

    int EmitCompressed(const std::vector<UnitPiece>& pieces, std::size_t realPieces) {
        std::size_t inLen = 0;
        for (std::size_t i = 0; i < realPieces; ++i) {
            const std::uint64_t sectors =
                static_cast<std::uint64_t>(pieces[i].clusters) * m_context.sectorsPerCluster;
            for (std::uint64_t s = 0; s < sectors; s += kBlockSectors) {
                const std::uint32_t n =
                    static_cast<std::uint32_t>(sectors - s < kBlockSectors ? sectors - s : kBlockSectors);
                std::uint64_t first = 0;
                const bool valid = RunSector(m_context, pieces[i].start, s, &first);
                ReadSectorsOrZeros(m_context, m_in.data() + inLen, first, valid, n);
                inLen += static_cast<std::size_t>(n) * kSectorSize;
            }
        }
        std::fill(m_out.begin(), m_out.end(), 0);
        std::size_t at = 0;
        for (std::size_t chunk = 0; chunk * kLznt1ChunkSize < m_unitBytes; ++chunk) {
            if (inLen - at < 2 || (m_in[at] == 0 && m_in[at + 1] == 0))
                break; // no further chunk: the rest of the unit is zeros
            std::size_t used = 0;
            DecompressLznt1Chunk(m_in.data() + at, inLen - at, m_out.data() + chunk * kLznt1ChunkSize, &used);
            at += used;
        }
        const std::uint64_t bytes = Take(m_unitBytes);
        if (!m_target.WriteAll(m_out.data(), static_cast<std::size_t>(bytes)))
            return kRecoverFailed;
        return Report(m_context, bytes);
    }

    RecoveryContext& m_context;
    CTargetFile& m_target;
    std::uint64_t m_owed;
    const std::uint32_t m_clusterBytes;
    const std::size_t m_unitBytes;
    std::vector<std::uint8_t> m_in;  // compressed clusters, or a block of a stored unit
    std::vector<std::uint8_t> m_out; // one decoded unit
};

// ---- File data ---------------------------------------------------------------------------------

const char* NameOf(const IFileProperties* p) {
    const char* name = p ? p->GetName() : nullptr;
    return name ? name : "";
}

// Times first (a read-only file keeps them too), then the read-only bit; hidden and the other
// attribute bits have no counterpart on the target.
void RestoreTimesAndAttributes(const IFileProperties* props, const std::string& path,
                               std::uint16_t attributes) {
    const std::uint32_t valid = props->GetValidFields();
    FileTime write, access;
    props->GetLastWriteTime(&write);
    props->GetLastAccessTime(&access);
    const bool hasWrite = (valid & VALIDFIELD_LAST_WRITE_TIME) && write.ticks != 0;
    const bool hasAccess = (valid & VALIDFIELD_LAST_ACCESS_TIME) && access.ticks != 0;
    if ((hasWrite || hasAccess) &&
        !SetTargetFileTimes(path, hasWrite ? &write.ticks : nullptr, hasAccess ? &access.ticks : nullptr))
        ReleaseTrace("Failed to set file time");
    if (attributes & FILEATTR_READONLY)
        SetTargetReadOnly(path);
}

int WriteResidentData(RecoveryContext& context, CFileNode* node, CTargetFile& target) {
    std::vector<std::uint8_t> buffer(kNtfsMaxResidentData);
    std::uint64_t length = 0;
    if (!ReadResidentFileData(context.device, node, &length, buffer.data()) || length > buffer.size())
        return kRecoverFailed;
    if (!target.WriteAll(buffer.data(), static_cast<std::size_t>(length)))
        return kRecoverFailed;
    return Report(context, length);
}

// A symbolic link whose text lies inside its own record on disk: one sector at the run list's
// only run, the text at the resident offset in it.
int WriteLinkText(RecoveryContext& context, IDataRunList& runs, std::uint64_t size, CTargetFile& target) {
    const DataRun* run = runs.GetFirstRun();
    const std::uint32_t offset = runs.GetResidentOffset();
    std::uint8_t sector[kSectorSize];
    if (!run || run->start < 0 || offset >= kSectorSize || size > kSectorSize - offset || !context.device ||
        context.device->ReadSectors(sector, static_cast<std::uint64_t>(run->start), 1) != 1)
        return kRecoverFailed;
    if (!target.WriteAll(sector + offset, static_cast<std::size_t>(size)))
        return kRecoverFailed;
    return Report(context, size);
}

// Files of a tree that have nothing to write (a device, FIFO or socket, or a deleted file whose
// data the file system cleared when it deleted it): such a file is not written and not counted
// as recovered; the log says why.
bool HasNoData(const IFileProperties* props) {
    const char* reason = props->GetNoDataReason();
    if (!reason)
        return false;
    LogInfo("%s: %s", reason, NameOf(props));
    return true;
}

// Writes the header of the raw EFS stream and the file's $EFS stream in front of the data.
bool WriteEfsPrefix(RecoveryContext& context, CFileNode* node, CTargetFile& target) {
    std::vector<std::uint8_t> stream(kNtfsMaxEfsStream);
    std::uint64_t length = 0;
    if (!ReadAttributeData(stream.data(), node, context.device, &length) || length > stream.size())
        return false;
    const auto header = BuildEfsFileHeader(static_cast<std::uint32_t>(length));
    return target.WriteAll(header.data(), header.size()) &&
           target.WriteAll(stream.data(), static_cast<std::size_t>(length));
}

// The encrypted file's data went to `targetPath` behind its EFS prefix: build the raw stream
// beside it and remove the intermediate. The file never counts as recovered: its plain text
// needs the owner's key on Windows.
int FinishEncryptedFile(RecoveryContext& context, const std::string& targetPath,
                        std::uint64_t size, std::uint64_t padding) {
    std::string efsPath;
    const int r = RestoreEfsFile(targetPath, context.callback, size, efsPath);
    DeleteTargetFile(targetPath);
    if (r == kRecoverCancelled)
        return kRecoverCancelled;
    if (r == kRecoverDone)
        LogInfo("Encrypted file kept as a raw EFS stream: %s (it can be imported only on Windows, "
                "with its owner's key)",
                efsPath.c_str());
    else
        LogInfo("Failed to save the raw EFS stream of %s", targetPath.c_str());
    if (context.callback && context.callback->SubtractBytesDone(static_cast<std::uint32_t>(padding)) == -1)
        return kRecoverCancelled;
    return kRecoverFailed;
}

// Bytes of real (non-sparse) data the target receives for `byteCount` bytes of the file: the
// clusters of real runs, or for a compressed file every unit that holds a real cluster. Holes
// take no space on the target, so only this counts against its free space.
std::uint64_t AllocatedBytes(IDataRunList* runs, std::uint64_t byteCount, std::uint64_t clusterBytes,
                             bool compressed, bool holes) {
    if (!runs || clusterBytes == 0)
        return 0;
    const std::uint64_t unitBytes = clusterBytes * kUnitClusters;
    std::uint64_t total = 0, vcn = 0, lastUnit = UINT64_MAX;
    for (const DataRun* run = runs->GetFirstRun(); run; run = runs->GetNextRun()) {
        if (run->count <= 0)
            continue;
        const auto count = static_cast<std::uint64_t>(run->count);
        const bool sparse = run->start < 0 || (holes && run->start == 0);
        if (MulSat(vcn, clusterBytes) >= byteCount)
            break;
        if (!sparse) {
            if (compressed) {
                const std::uint64_t first = vcn / kUnitClusters;
                const std::uint64_t last = (vcn + count - 1) / kUnitClusters;
                const std::uint64_t units = last - first + 1 - (first == lastUnit ? 1 : 0);
                total += MulSat(units, unitBytes);
                lastUnit = last;
            } else {
                const std::uint64_t owed = byteCount - MulSat(vcn, clusterBytes);
                const std::uint64_t bytes = MulSat(count, clusterBytes);
                total += bytes < owed ? bytes : owed;
            }
            if (total >= byteCount)
                return byteCount;
        }
        if (__builtin_add_overflow(vcn, count, &vcn))
            break;
    }
    return total < byteCount ? total : byteCount;
}

} // namespace

// ---- Runs ----------------------------------------------------------------------------------

int CopyDataRuns(RecoveryContext& context, CTargetFile& target, IDataRunList* runs,
                 std::uint64_t byteCount, bool holes) {
    if (byteCount == 0)
        return kRecoverDone;
    if (!runs)
        return kRecoverFailed;
    // A small file needs no more than its own sectors.
    const std::uint64_t fileSectors = byteCount / kSectorSize + (byteCount % kSectorSize != 0);
    CopyBuffer buffer(fileSectors < kCopyBlockSectors ? static_cast<std::uint32_t>(fileSectors)
                                                      : kCopyBlockSectors);
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(context.sectorsPerCluster) * kSectorSize;
    std::uint64_t owed = byteCount;
    for (const DataRun* run = runs->GetFirstRun(); run && owed > 0; run = runs->GetNextRun()) {
        if (run->count <= 0)
            continue;
        const std::uint64_t runBytes = MulSat(static_cast<std::uint64_t>(run->count), clusterBytes);
        const std::uint64_t bytes = runBytes < owed ? runBytes : owed;
        const bool zeros = run->start < 0 || (holes && run->start == 0);
        if (run->start == kUnknownRunStart)
            context.unknownBytes += bytes;
        const int r =
            zeros ? WriteHole(context, target, bytes)
                  : CopyRunBytes(context, target, run->start, bytes, buffer.data, buffer.sectors);
        if (r != kRecoverDone)
            return r;
        owed -= bytes;
    }
    if (owed > 0) {
        LogShortRuns(owed);
        return kRecoverFailed;
    }
    return kRecoverDone;
}

int CopyCompressedDataRuns(RecoveryContext& context, CTargetFile& target, IDataRunList* runs,
                           std::uint64_t byteCount) {
    if (byteCount == 0)
        return kRecoverDone;
    if (!runs || context.sectorsPerCluster == 0 ||
        context.sectorsPerCluster > kMaxCompressedSectorsPerCluster)
        return kRecoverFailed;
    if (context.callback && context.callback->Poll() == -1)
        return kRecoverCancelled;
    CCompressedUnitWriter writer(context, target, byteCount);
    std::vector<UnitPiece> pieces;
    std::uint32_t filled = 0;
    for (const DataRun* run = runs->GetFirstRun(); run && writer.Owed() > 0; run = runs->GetNextRun()) {
        if (run->count <= 0)
            continue;
        std::int64_t start = run->start < 0 ? -1 : run->start;
        std::uint64_t left = static_cast<std::uint64_t>(run->count);
        if (start < 0 && filled == 0 && left >= kUnitClusters) {
            // A long sparse run starting on a unit boundary: its whole units become one hole.
            const std::uint64_t units = left / kUnitClusters;
            const int r = writer.SkipSparseUnits(units);
            if (r != kRecoverDone)
                return r;
            left -= units * kUnitClusters;
        }
        while (left > 0 && writer.Owed() > 0) {
            const std::uint32_t room = kUnitClusters - filled;
            const std::uint32_t take = left < room ? static_cast<std::uint32_t>(left) : room;
            pieces.push_back({start, take});
            filled += take;
            left -= take;
            if (start >= 0)
                start = start > INT64_MAX - take ? -1 : start + take;
            if (filled == kUnitClusters) {
                const int r = writer.Emit(pieces);
                if (r != kRecoverDone)
                    return r;
                pieces.clear();
                filled = 0;
            }
        }
    }
    if (filled > 0 && writer.Owed() > 0) {
        const int r = writer.Emit(pieces);
        if (r != kRecoverDone)
            return r;
    }
    if (writer.Owed() > 0) {
        LogShortRuns(writer.Owed());
        return kRecoverFailed;
    }
    return kRecoverDone;
}

// ---- One file ----------------------------------------------------------------------------------

namespace {

// Closes and removes the target of a file that did not come out whole when it goes out of
// scope, unless the target is kept by then.
class CUnfinishedTarget {
public:
    CUnfinishedTarget(CTargetFile& target, const std::string& path) : m_target(target), m_path(path) {}
    ~CUnfinishedTarget() {
        if (m_kept)
            return;
        m_target.Close();
        DeleteTargetFile(m_path);
    }
    CUnfinishedTarget(const CUnfinishedTarget&) = delete;
    CUnfinishedTarget& operator=(const CUnfinishedTarget&) = delete;

    void Keep() { m_kept = true; }

private:
    CTargetFile& m_target;
    const std::string& m_path;
    bool m_kept = false;
};

// The copy of one file's data into its target.
struct FileCopy {
    std::uint64_t size = 0;     // the file's size
    std::uint64_t copySize = 0; // bytes taken from plain runs (whole sectors behind an EFS prefix)
    bool intermediate = false;  // the target is only the intermediate of an encrypted file
    bool abandoned = false;     // given up before any of the file's data was written
};

// Sets the context up for the file `node` and checks that it is a file with data this
// recovery can copy; kRecoverDone when the copy may start.
int BeginFile(RecoveryContext& context, CFileNode* node) {
    if (!node)
        return kRecoverFailed;
    std::uint64_t firstSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    if (!node->GetFileSystemInfo(&firstSector, &sectorsPerCluster) || sectorsPerCluster == 0) {
        ReleaseTrace("Failed to get file system info.");
        return kRecoverFailed;
    }
    context.firstSector = firstSector;
    context.sectorsPerCluster = sectorsPerCluster;
    context.deviceSectors = context.device ? context.device->GetSectorCount() : 0;
    context.unreadableSectors = 0;
    context.unknownBytes = 0;
    context.cutAtDeviceEnd = false;
    context.bytesReported = 0;
    context.pendingHoleBytes = 0;
    const IFileProperties* props = node->m_pProperties;
    if (!props)
        return kRecoverFailed;
    const std::uint16_t attributes = props->GetAttributes();
    if (attributes & FILEATTR_DIRECTORY) {
        ReleaseTrace("It is a directory.Not valid!");
        return kRecoverFailed;
    }
    if (context.callback && context.callback->SetCurrentFile(NameOf(props)) == -1)
        return kRecoverCancelled;
    if (HasNoData(props))
        return kRecoverFailed;
    if ((attributes & FILEATTR_COMPRESSED) && sectorsPerCluster > kMaxCompressedSectorsPerCluster)
        return kRecoverFailed;
    return kRecoverDone;
}

// Only real data takes room on the target; a file whose data cannot fit fails before any of
// it is written.
bool TargetHasRoom(const RecoveryContext& context, IDataRunList* runs, FileDataLayout layout,
                   std::uint64_t size, const std::string& targetPath) {
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(context.sectorsPerCluster) * kSectorSize;
    const std::uint64_t needed = AllocatedBytes(runs, size, clusterBytes, layout == FileDataLayout::Compressed,
                                                layout == FileDataLayout::SparseRuns);
    const std::uint64_t free = TargetFreeBytes(targetPath);
    if (needed <= free)
        return true;
    LogInfo("Not enough free space for %s: %" PRIu64 " bytes of data, %" PRIu64 " bytes free",
            targetPath.c_str(), needed, free);
    return false;
}

// Puts the raw EFS stream's header and the file's $EFS stream in front of an encrypted file's
// data, which is then copied in whole sectors; false (the file is abandoned) when it cannot.
bool BeginEncryptedData(RecoveryContext& context, CFileNode* node, CTargetFile& target, FileCopy& copy) {
    const IFileProperties* props = node->m_pProperties;
    // A size that cannot be rounded up to whole sectors is damaged.
    if (copy.size > UINT64_MAX - (kSectorSize - 1))
        return false;
    if (!WriteEfsPrefix(context, node, target)) {
        // Without its $EFS stream the data cannot be decrypted anywhere.
        LogInfo("Encrypted file without a readable $EFS stream: %s", NameOf(props));
        return false;
    }
    copy.intermediate = true;
    copy.copySize = (copy.size + kSectorSize - 1) / kSectorSize * kSectorSize;
    return true;
}

// Writes the data of `node` into `target` in the layout its properties give.
int WriteFileData(RecoveryContext& context, CFileNode* node, const std::string& targetPath,
                  CTargetFile& target, FileCopy& copy) {
    const IFileProperties* props = node->m_pProperties;
    std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
    const FileDataLayout layout = props->GetDataLayout(runs.get());
    if (runs && !runs->IsResident() && !TargetHasRoom(context, runs.get(), layout, copy.size, targetPath)) {
        copy.abandoned = true;
        return kRecoverFailed;
    }
    if (layout != FileDataLayout::SparseRuns && (props->GetAttributes() & FILEATTR_ENCRYPTED) &&
        !BeginEncryptedData(context, node, target, copy)) {
        copy.abandoned = true;
        return kRecoverFailed;
    }
    if (!runs)
        return copy.size ? kRecoverFailed : kRecoverDone;
    switch (layout) {
    case FileDataLayout::Resident:
        return WriteResidentData(context, node, target);
    case FileDataLayout::LinkText:
        return WriteLinkText(context, *runs, copy.size, target);
    case FileDataLayout::Compressed:
        return CopyCompressedDataRuns(context, target, runs.get(), copy.size);
    case FileDataLayout::SparseRuns:
        return CopyDataRuns(context, target, runs.get(), copy.size, true);
    case FileDataLayout::Runs:
        break;
    }
    return CopyDataRuns(context, target, runs.get(), copy.copySize, false);
}

// The result of a file whose data was written with `result`: its target closed at its full
// length, and failed when the device's end cut it, sectors of it could not be read or where
// parts of it lie is not known. A file that did not come out whole takes back the bytes it
// reported.
int SettleFile(RecoveryContext& context, const IFileProperties* props, CTargetFile& target,
               const std::string& targetPath, std::uint64_t size, int result) {
    // A file that ends in a hole gets its full length.
    if (result == kRecoverDone && !target.EndAtPosition())
        result = kRecoverFailed;
    if (!target.Close() && result == kRecoverDone)
        result = kRecoverFailed;
    // A carved file whose header claims more than its size: the device's end or the largest
    // carved size (its size, then) cut it.
    const ClaimedSize claim = props->GetClaimedSizeWhenCut();
    const std::uint64_t wholeSize = claim.cut != ClaimCut::None ? claim.bytes : size;
    const std::uint64_t written = context.bytesReported + context.pendingHoleBytes;
    if (claim.cut == ClaimCut::DeviceEnd)
        context.cutAtDeviceEnd = true;
    if (context.cutAtDeviceEnd) {
        LogInfo("The data of %s runs past the end of the device: it was recovered up to the "
                "device's end (%" PRIu64 " of %" PRIu64 " bytes)",
                targetPath.c_str(), written, wholeSize);
    } else if (claim.cut == ClaimCut::SizeLimit) {
        LogInfo("The data of %s is larger than the largest carved file size (%" PRIu64
                " bytes, in Settings): it was recovered up to that size (%" PRIu64 " of %" PRIu64
                " bytes)",
                targetPath.c_str(), size, written, wholeSize);
    }
    if ((context.cutAtDeviceEnd || claim.cut != ClaimCut::None) && result == kRecoverDone)
        result = kRecoverFailed;
    if (context.unreadableSectors) {
        LogInfo("%" PRIu64 " unreadable sectors of %s were written as zeros", context.unreadableSectors,
                targetPath.c_str());
        if (result == kRecoverDone)
            result = kRecoverFailed;
    }
    if (context.unknownBytes) {
        LogInfo("%" PRIu64 " bytes of %s are unknown (the map of where they lie could not be read) "
                "and were written as zeros",
                context.unknownBytes, targetPath.c_str());
        if (result == kRecoverDone)
            result = kRecoverFailed;
    }
    if (result != kRecoverDone)
        TakeBackBytes(context);
    return result;
}

// The last steps of a file whose every byte was written: its times and attributes, and the
// count of files done. A cross-linked file or an encrypted one does not count as recovered.
int FinishWrittenFile(RecoveryContext& context, const IFileProperties* props, const std::string& targetPath,
                      const FileCopy& copy, bool crossLinked) {
    // Holes at the end of the file are part of it now that it has its length.
    if (Report(context, 0) != kRecoverDone)
        return kRecoverCancelled;
    if (copy.intermediate)
        return FinishEncryptedFile(context, targetPath, copy.size, copy.copySize - copy.size);
    RestoreTimesAndAttributes(props, targetPath, props->GetAttributes());
    if (crossLinked) {
        TakeBackBytes(context);
        return kRecoverFailed;
    }
    if (context.callback) {
        if (context.callback->SubtractBytesDone(0) == -1 || context.callback->AddFilesDone(1) == -1)
            return kRecoverCancelled;
    }
    return kRecoverDone;
}

} // namespace

int RecoverFileData(RecoveryContext& context, CFileNode* node, const std::string& targetPath) {
    const int ready = BeginFile(context, node);
    if (ready != kRecoverDone)
        return ready;
    const IFileProperties* props = node->m_pProperties;
    CTargetFile target;
    if (target.OpenAlways(targetPath) != kErrorSuccess) {
        DeleteTargetFile(targetPath);
        if (target.OpenAlways(targetPath) != kErrorSuccess)
            return kRecoverFailed;
    }
    // Every way out below that does not keep the target removes it.
    CUnfinishedTarget unfinished(target, targetPath);
    FileCopy copy;
    copy.size = copy.copySize = props->GetFileSize();
    int result = WriteFileData(context, node, targetPath, target, copy);
    if (copy.abandoned)
        return kRecoverFailed;
    result = SettleFile(context, props, target, targetPath, copy.size, result);
    if (result == kRecoverCancelled) {
        // Cut short by the user: a part of a file under its full name would pass for the file.
        LogInfo("Recovery cancelled; the unfinished %s was removed", targetPath.c_str());
        return result;
    }
    // Another file holds the clusters now: what they hold is written, but it is not this file.
    const bool crossLinked = result == kRecoverDone && (props->GetFileState() & FILESTATE_CROSS_LINK);
    if (crossLinked)
        LogInfo("Clusters in use by another file: %s", targetPath.c_str());
    // A plain file that failed keeps what was written of it; an encrypted file's intermediate
    // is of no use without all of its data.
    if (result != kRecoverDone && copy.intermediate)
        return result;
    unfinished.Keep();
    if (result != kRecoverDone)
        return result;
    return FinishWrittenFile(context, props, targetPath, copy, crossLinked);
}

int RecoverFileExclusive(RecoverFileJob* job) {
    if (!job)
        return 0;
    CNodeLock lock(job->node);
    RecoveryContext context;
    context.callback = job->callback;
    context.device = job->device;
    job->result = RecoverFileData(context, job->node, job->targetPath);
    if (job->result == kRecoverFailed)
        LogInfo("Failed to recover file :%s", job->targetPath.c_str());
    return job->result == kRecoverDone ? 1 : 0;
}

namespace {

// Runs `work` on a worker thread and waits for it through the platform's worker wait.
// False when no thread could be started.
template <typename Job, typename Work> bool RunOnWorker(Job* job, Work work) {
    job->done.store(false);
    job->threadResult = 0;
    return platform::RunWorker(job->done, [job, work] { job->threadResult = work(job); });
}

} // namespace

int RecoverFile(IFileRecoverCallback* callback, IStorageDevice* device, RecoverFileJob* job,
                CFileNode* node, const std::string& targetPath, int onWorker) {
    if (!job)
        return 0;
    job->callback = callback;
    job->device = device;
    job->node = node;
    job->targetPath = targetPath;
    job->result = kRecoverDone;
    if (!onWorker)
        return RecoverFileExclusive(job);
    if (!RunOnWorker(job, [](RecoverFileJob* j) { return RecoverFileExclusive(j); }))
        return 0;
    return job->threadResult;
}

// ---- Folders -------------------------------------------------------------------------------------

int RecoverFolderTree(RecoveryContext& context, const std::string& outputRoot, CFileNode* folder,
                      const std::string* targetFolder) {
    if (!folder)
        return kRecoverDone;
    // Depth first over an explicit stack: a frame is a folder's next child to visit and the
    // folder made for it (none: its files go to the output root).
    struct Frame {
        CFileNode* next;
        std::optional<std::string> target;
    };
    std::vector<Frame> stack;
    stack.push_back({folder->m_pFirstChild, targetFolder ? std::optional<std::string>(*targetFolder)
                                                          : std::nullopt});
    while (!stack.empty()) {
        CFileNode* child = stack.back().next;
        if (!child) {
            stack.pop_back();
            continue;
        }
        stack.back().next = child->m_pNextSibling;
        IFileProperties* props = child->m_pProperties;
        if (!props || props->GetCheckState() == CHECKSTATE_UNCHECKED)
            continue;
        const std::optional<std::string>& parentTarget = stack.back().target;
        if (props->GetAttributes() & FILEATTR_DIRECTORY) {
            std::optional<std::string> made;
            if (parentTarget) {
                std::string path = JoinPath(*parentTarget, MakeSafeFileName(props->GetName()));
                const int err = CreateNewDirectory(path);
                if (err == kErrorSuccess || MakeUniqueDirectory(path, err))
                    made = path;
            }
            stack.push_back({child->m_pFirstChild, made});
            continue;
        }
        if (HasNoData(props))
            continue;
        std::string path;
        int result = kRecoverFailed;
        if (CreateTargetFile(path, outputRoot, parentTarget ? *parentTarget : outputRoot, props->GetName()))
            result = RecoverFileData(context, child, path);
        if (result == kRecoverCancelled)
            return kRecoverCancelled;
        if (result != kRecoverDone)
            LogInfo("Failed to recover file: %s", NameOf(props));
    }
    return kRecoverDone;
}

int RecoverFolderWorker(RecoverFolderJob* job) {
    if (!job)
        return 0;
    job->result = kRecoverDone;
    std::string output = job->outputFolder;
    if (output.empty() || output.back() != '/')
        output += '/';
    CreateTargetFolders(output);
    CFileSystemNode* folder = job->folder;
    if (!folder || !folder->m_pProperties ||
        folder->m_pProperties->GetCheckState() == CHECKSTATE_UNCHECKED)
        return 0;
    std::string made = output + MakeSafeFileName(folder->m_pProperties->GetName());
    const int err = CreateNewDirectory(made);
    const bool created = err == kErrorSuccess || MakeUniqueDirectory(made, err);
    RecoveryContext context;
    context.callback = job->callback;
    context.device = job->device;
    job->result = RecoverFolderTree(context, output, folder, created ? &made : nullptr);
    if (job->createdFolder)
        *job->createdFolder = created ? made : std::string();
    return 1;
}

int RecoverFolder(IFileRecoverCallback* callback, IStorageDevice* device, RecoverFolderJob* job,
                  CFileSystemNode* folder, const std::string& outputFolder,
                  std::string* createdFolder) {
    if (!job)
        return 0;
    job->callback = callback;
    job->device = device;
    job->folder = folder;
    job->outputFolder = outputFolder;
    job->createdFolder = createdFolder;
    job->result = kRecoverDone;
    if (!RunOnWorker(job, [](RecoverFolderJob* j) { return RecoverFolderWorker(j); }))
        return 0;
    return job->threadResult;
}
