#pragma once
// The work behind the two recovery dialogs, without windows: the progress record the engine's
// worker writes (atomics only), the walk over the checked file systems of a tree, the recovery
// of one file, and the texts the dialogs show. The dialogs and the headless tests share it.
#include "recovery/FileRecoverCallback.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CFileNode;
class IStorageDevice;

// What the recovery worker reports. Every slot only writes atomics (and the current name under
// a small lock) and returns; -1 once the cancel flag is set. The owner reads the values from
// its own thread (a dialog's timer).
class CRecoveryProgress : public IFileRecoverCallback {
public:
    CRecoveryProgress();
    virtual ~CRecoveryProgress() = default;

    int SetTotals(int fileCount, std::uint64_t totalBytes) override;
    int AddFilesDone(int n) override;
    int AddBytesDone(std::uint64_t bytes) override;
    int SubtractBytesDone(std::uint32_t bytes) override;
    int SetCurrentFile(const char* name) override;
    int Poll() override;

    void Cancel() { m_cancelled = true; }
    bool Cancelled() const { return m_cancelled; }
    int TotalFiles() const { return m_totalFiles; }
    int FilesDone() const { return m_filesDone; }
    std::uint64_t TotalBytes() const { return m_totalBytes; }
    std::uint64_t BytesDone() const { return m_bytesDone; }
    std::string CurrentFile() const;
    // Milliseconds since SetTotals.
    std::int64_t ElapsedMs() const;

    // Called on the worker after each file counted by AddFilesDone with the new count (tests
    // cancel "at file k" with it).
    std::function<void(int filesDone)> onFileDone;

private:
    int Answer() const { return m_cancelled ? -1 : 0; }
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_totalFiles{0};
    std::atomic<int> m_filesDone{0};
    std::atomic<std::uint64_t> m_totalBytes{0};
    std::atomic<std::uint64_t> m_bytesDone{0};
    std::atomic<std::int64_t> m_startMs{0};
    mutable std::mutex m_nameLock;
    std::string m_currentFile;
};

struct RecoveryOutcome {
    int filesToRecover = 0;
    int filesRecovered = 0;
    std::vector<std::string> folders;  // output folders made, in recovery order
    bool cancelled = false;
};

// The recovering dialog's work: totals from the root's counters, then every file-system folder
// among the root's children (the walk stops at the first child that is no folder) whose check
// state is not 0 is recovered under `outputFolder`. Each folder runs on the engine's worker
// while this thread waits through the platform's worker wait.
RecoveryOutcome RunRecoveryWalk(CFileNode* root, IStorageDevice* device, const std::string& outputFolder,
                                CRecoveryProgress& progress);

// The single-file dialog's work: 1 when the file was written, 2 when it failed or was
// cancelled; *failed is true for a failure that was no cancel.
int RunSingleFileRecovery(CFileNode* node, IStorageDevice* device, const std::string& targetPath,
                          CRecoveryProgress& progress, bool* failed = nullptr);

// Texts of the dialogs.
// "%.2f GB" / "%.2f MB" / "%.2f KB" / "%llu Byte" (plural: "GBs", "MBs", "KBs", "Bytes").
std::string RecoverySizeText(std::uint64_t bytes, bool plural);
// "%02d:%02d:%02d" of a count of seconds.
std::string ClockText(std::uint64_t seconds);
// The recovering dialog's remaining time: after 5 s with bytes done, (total - done) x elapsed /
// done / 1000 + 1 seconds; otherwise "" (the dialog shows "Calculating...").
std::string RecoveringRemainingText(std::uint64_t total, std::uint64_t done, std::int64_t elapsedMs);
// The single-file dialog's: after 0.5 s; 0 seconds left while nothing is done.
std::string SingleFileRemainingText(std::uint64_t total, std::uint64_t done, std::int64_t elapsedMs);
// The progress bar of the recovering dialog: range and position in bytes, or in MiB from
// 1 GiB on; range 1 (and position 1) for an empty selection.
struct ProgressScale {
    std::int64_t range = 1;
    std::int64_t Position(std::uint64_t done) const;
    bool mebibytes = false;
    bool empty = true;
};
ProgressScale RecoveringProgressScale(std::uint64_t totalBytes);
// Percent done of the single-file dialog (100 when the total is 0).
int SingleFilePercent(std::uint64_t total, std::uint64_t done);

// The deep-scan dialog's estimate: nothing when progress <= 0; remaining ms =
// ((total - progress) x (elapsed / 100) / progress) x 100 in integer steps.
struct RemainingEstimate {
    std::int64_t total = 0;
    std::int64_t startTick = 0;
    std::int64_t elapsedMs = 0;
    std::int64_t remainingMs = 0;
};
void EstimateRemainingTime(RemainingEstimate& estimate, std::int64_t progress, std::int64_t nowTick);
