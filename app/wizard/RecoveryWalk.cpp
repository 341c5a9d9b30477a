#include "app/wizard/RecoveryWalk.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::uint64_t kKiB = 1ull << 10;
constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint64_t kGiB = 1ull << 30;

} // namespace

CRecoveryProgress::CRecoveryProgress() : m_startMs(NowMs()) {}

int CRecoveryProgress::SetTotals(int fileCount, std::uint64_t totalBytes) {
    m_totalFiles = fileCount;
    m_totalBytes = totalBytes;
    m_startMs = NowMs();
    return Answer();
}

int CRecoveryProgress::AddFilesDone(int n) {
    const int done = m_filesDone += n;
    if (onFileDone)
        onFileDone(done);
    return Answer();
}

int CRecoveryProgress::AddBytesDone(std::uint64_t bytes) {
    m_bytesDone += bytes;
    return Answer();
}

int CRecoveryProgress::SubtractBytesDone(std::uint32_t bytes) {
    // Never below zero: the engine only takes back what it counted, but a count is no place
    // to trust that.
    std::uint64_t now = m_bytesDone.load();
    while (!m_bytesDone.compare_exchange_weak(now, now >= bytes ? now - bytes : 0)) {
    }
    return Answer();
}

int CRecoveryProgress::SetCurrentFile(const char* name) {
    std::lock_guard<std::mutex> hold(m_nameLock);
    m_currentFile = name ? name : "";
    return Answer();
}

int CRecoveryProgress::Poll() { return Answer(); }

std::string CRecoveryProgress::CurrentFile() const {
    std::lock_guard<std::mutex> hold(m_nameLock);
    return m_currentFile;
}

std::int64_t CRecoveryProgress::ElapsedMs() const { return NowMs() - m_startMs; }

RecoveryOutcome RunRecoveryWalk(CFileNode* root, IStorageDevice* device, const std::string& outputFolder,
                                CRecoveryProgress& progress) {
    RecoveryOutcome outcome;
    FileTreeCounters counters;
    if (auto* folder = dynamic_cast<CFileSystemNode*>(root))
        folder->GetCounters(&counters);
    progress.SetTotals(static_cast<int>(counters.checkedFiles), counters.checkedBytes);
    outcome.filesToRecover = static_cast<int>(counters.checkedFiles);
    for (CFileNode* child = root ? root->m_pFirstChild : nullptr; child; child = child->m_pNextSibling) {
        auto* fileSystem = dynamic_cast<CFileSystemNode*>(child);
        if (!fileSystem)
            break;
        if (!fileSystem->m_pProperties || fileSystem->m_pProperties->GetCheckState() == 0)
            continue;
        RecoverFolderJob job;
        std::string created;
        if (RecoverFolder(&progress, device, &job, fileSystem, outputFolder, &created) != 0 && !created.empty())
            outcome.folders.push_back(created);
    }
    outcome.filesRecovered = progress.FilesDone();
    outcome.cancelled = progress.Cancelled();
    return outcome;
}

int RunSingleFileRecovery(CFileNode* node, IStorageDevice* device, const std::string& targetPath,
                          CRecoveryProgress& progress, bool* failed) {
    if (failed)
        *failed = false;
    const std::uint64_t size = node && node->m_pProperties ? node->m_pProperties->GetFileSize() : 0;
    progress.SetTotals(1, size);
    if (node && node->m_pProperties)
        progress.SetCurrentFile(node->m_pProperties->GetName());
    RecoverFileJob job;
    if (node && RecoverFile(&progress, device, &job, node, targetPath, 1) == 1)
        return 1;
    if (failed)
        *failed = job.result != kRecoverCancelled && !progress.Cancelled();
    return 2;
}

std::string RecoverySizeText(std::uint64_t bytes, bool plural) {
    char text[64];
    const char* s = plural ? "s" : "";
    if (bytes >= kGiB)
        std::snprintf(text, sizeof text, "%.2f GB%s", static_cast<double>(bytes) / kGiB, s);
    else if (bytes >= kMiB)
        std::snprintf(text, sizeof text, "%.2f MB%s", static_cast<double>(bytes) / kMiB, s);
    else if (bytes >= kKiB)
        std::snprintf(text, sizeof text, "%.2f KB%s", static_cast<double>(bytes) / kKiB, s);
    else
        std::snprintf(text, sizeof text, "%" PRIu64 " Byte%s", bytes, s);
    return text;
}

std::string ClockText(std::uint64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02" PRIu64 ":%02u:%02u", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

namespace {
std::string Remaining(std::uint64_t total, std::uint64_t done, std::int64_t elapsedMs, std::int64_t after, bool zeroWhenIdle) {
    if (elapsedMs <= after)
        return "";
    if (done == 0)
        return zeroWhenIdle ? ClockText(0) : "";
    const std::uint64_t left = total > done ? total - done : 0;
    // (left x elapsed) can exceed 64 bits only for absurd sizes; long double keeps it sane.
    const long double seconds = static_cast<long double>(left) * static_cast<long double>(elapsedMs) / done / 1000;
    return ClockText(static_cast<std::uint64_t>(seconds) + 1);
}
} // namespace

std::string RecoveringRemainingText(std::uint64_t total, std::uint64_t done, std::int64_t elapsedMs) {
    return Remaining(total, done, elapsedMs, 4999, false);
}

std::string SingleFileRemainingText(std::uint64_t total, std::uint64_t done, std::int64_t elapsedMs) {
    return Remaining(total, done, elapsedMs, 499, true);
}

std::int64_t ProgressScale::Position(std::uint64_t done) const {
    if (empty)
        return 1;
    const std::uint64_t p = mebibytes ? done / kMiB : done;
    return static_cast<std::int64_t>(std::min<std::uint64_t>(p, static_cast<std::uint64_t>(range)));
}

ProgressScale RecoveringProgressScale(std::uint64_t totalBytes) {
    ProgressScale s;
    s.empty = totalBytes == 0;
    s.mebibytes = totalBytes >= kGiB;
    if (!s.empty)
        s.range = static_cast<std::int64_t>(s.mebibytes ? totalBytes / kMiB : std::min<std::uint64_t>(totalBytes, INT64_MAX));
    return s;
}

int SingleFilePercent(std::uint64_t total, std::uint64_t done) {
    if (total == 0)
        return 100;
    if (done >= total)
        return 100;
    return static_cast<int>(static_cast<long double>(done) * 100 / total);
}

void EstimateRemainingTime(RemainingEstimate& e, std::int64_t progress, std::int64_t nowTick) {
    if (progress <= 0)
        return;
    e.elapsedMs = nowTick - e.startTick;
    e.remainingMs = ((e.total - progress) * (e.elapsedMs / 100) / progress) * 100;
}
