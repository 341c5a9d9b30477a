#pragma once
// The file recovery engine: copies checked files and folders of a found-file tree out of the
// scanned device into a target folder, with their times, unpacking NTFS-compressed files and
// keeping EFS-encrypted ones as raw EFS streams. Every byte is read through the device's
// sector interface. Progress and cancel go through IFileRecoverCallback.
//
// Result codes of one file and of a tree walk: kRecoverDone, kRecoverFailed (this file failed
// or was skipped), kRecoverCancelled (stop everything).
#include <atomic>
#include <cstdint>
#include <string>

#include "recovery/FileRecoverCallback.h"

class CFileNode;
class CFileSystemNode;
class CTargetFile;
class IDataRunList;
class IStorageDevice;

// What one recovery call works with; lives on the worker's stack.
struct RecoveryContext {
    IFileRecoverCallback* callback = nullptr; // may be null: nothing reported, no cancel
    IStorageDevice* device = nullptr;
    // Of the file in work, from CFileNode::GetFileSystemInfo.
    std::uint64_t firstSector = 0;
    std::uint32_t sectorsPerCluster = 1;
    // Sectors of the device, read when a file starts (0: not known, nothing is cut).
    std::uint64_t deviceSectors = 0;
    // Sectors of the file in work that could not be read and were written as zeros: the file
    // is then not counted as recovered.
    std::uint64_t unreadableSectors = 0;
    // Bytes of the file in work whose place on the disk is not known (runs at
    // kUnknownRunStart), written as zeros: the file is then not counted as recovered either.
    std::uint64_t unknownBytes = 0;
    // Set when the file's data runs past the device's last sector, or when it is a carved file
    // that the device's end cut: it was written up to there.
    bool cutAtDeviceEnd = false;
    // Bytes of the file in work reported as done (taken back when it fails), and holes skipped
    // since the last write (reported once something behind them is written or the file ends).
    std::uint64_t bytesReported = 0;
    std::uint64_t pendingHoleBytes = 0;
};

struct RecoverFileJob {
    int result = 0;
    std::atomic<bool> done{false};
    int threadResult = 0;
    IFileRecoverCallback* callback = nullptr;
    IStorageDevice* device = nullptr;
    CFileNode* node = nullptr;
    std::string targetPath; // full name of the file to write
};

struct RecoverFolderJob {
    int result = 0;
    std::atomic<bool> done{false};
    int threadResult = 0;
    IFileRecoverCallback* callback = nullptr;
    IStorageDevice* device = nullptr;
    CFileSystemNode* folder = nullptr;
    std::string outputFolder;
    std::string* createdFolder = nullptr; // receives the folder made for `folder`, when given
};

// Recovers one file to `targetPath`. With `onWorker` the work runs on a worker thread while
// the caller waits through the platform's worker wait; the result is the worker's (1 when the
// file was recovered, 0 otherwise, also when no thread could be started). Without, the work
// runs on the calling thread.
int RecoverFile(IFileRecoverCallback* callback, IStorageDevice* device, RecoverFileJob* job,
                CFileNode* node, const std::string& targetPath, int onWorker);
// The work of RecoverFile: one recovery of a node at a time (other threads recovering the same
// node wait). 1 when the file was recovered, 0 otherwise; job->result holds the detail.
int RecoverFileExclusive(RecoverFileJob* job);

// Recovers the checked part of `folder` into a new folder of its name under `outputFolder` on
// a worker thread while the caller waits. Returns the worker's result (1 when it ran, 0 when
// the folder is not checked or no thread could be started); job->result is the walk's result.
int RecoverFolder(IFileRecoverCallback* callback, IStorageDevice* device, RecoverFolderJob* job,
                  CFileSystemNode* folder, const std::string& outputFolder,
                  std::string* createdFolder);
int RecoverFolderWorker(RecoverFolderJob* job);

// Walks the children of `folder` (depth first, in sibling order) and recovers every checked
// file into `targetFolder` (or, when that is null, into `outputRoot`), making a folder for each
// checked sub-folder. A file that cannot be recovered is logged and the walk goes on.
// kRecoverDone or kRecoverCancelled.
int RecoverFolderTree(RecoveryContext& context, const std::string& outputRoot, CFileNode* folder,
                      const std::string* targetFolder);

// Writes the data of the file `node` to `targetPath` (an existing or new file), then its times
// and read-only bit. Only a file whose every byte came from the device counts as recovered: a
// file with unreadable sectors or unknown spans (written as zeros), cut at the device's end,
// or a carved file cut at the largest carved size fails, and the bytes it reported as done are
// taken back.
int RecoverFileData(RecoveryContext& context, CFileNode* node, const std::string& targetPath);

// Copies `byteCount` bytes of a file through its runs into `target`. A sparse run (start -1),
// and with `holes` a run starting at 0, is written as zeros; so is an unknown span
// (kUnknownRunStart), whose bytes are counted in `unknownBytes`. kRecoverFailed on a write failure,
// when the runs end before `byteCount`, or when they reach past the device's last sector (the
// file is then written up to there and `cutAtDeviceEnd` is set).
int CopyDataRuns(RecoveryContext& context, CTargetFile& target, IDataRunList* runs,
                 std::uint64_t byteCount, bool holes);

// Copies `byteCount` bytes of an NTFS-compressed file (compression units of 16 clusters of at
// most 4096 bytes): stored units are copied, units that end in a sparse part are LZNT1-decoded,
// sparse units are zeros. Every unit yields its 16 clusters of bytes, cut to what is owed.
int CopyCompressedDataRuns(RecoveryContext& context, CTargetFile& target, IDataRunList* runs,
                           std::uint64_t byteCount);

// Attribute bit of an EXT2 file with holes.
constexpr std::uint16_t kExt2SparseAttribute = 0x200;
// Compressed files are recovered only with clusters up to this many sectors.
constexpr std::uint32_t kMaxCompressedSectorsPerCluster = 8;
