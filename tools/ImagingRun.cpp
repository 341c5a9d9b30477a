#include "tools/ImagingRun.h"
#include "ui/controls/StringTable.h"

#include "storage/BlockCodec.h"

#include <cstdio>

namespace imagetool {

static std::uint64_t FreeMiBOf(const FreeSpaceFunction& freeSpace, const std::string& path) {
    std::uint64_t bytes = 0;
    if (!freeSpace || !freeSpace(FolderOfPath(path), &bytes)) return 0;
    return bytes / 1024 / 1024;
}

bool CheckDestination(const std::string& path, const FreeSpaceFunction& freeSpace,
                      std::uint64_t* freeMiB) {
    *freeMiB = FreeMiBOf(freeSpace, path);
    if (path.empty() || path.back() == '/') return false;
    return *freeMiB != 0 && ProbeWritableFile(path);
}

CImagingRun::CImagingRun(IImagingRunUi* ui, FreeSpaceFunction freeSpace, Clock clock)
    : m_ui(ui), m_freeSpace(std::move(freeSpace)), m_clock(std::move(clock)) {}

std::uint64_t CImagingRun::Now() const {
    if (m_clock) return m_clock();
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint64_t CImagingRun::GetFreeSpaceMB(const std::string& path) {
    m_watchedFolder = FolderOfPath(path);
    m_freeMiB = FreeMiBOf(m_freeSpace, path);
    return m_freeMiB;
}

ImagingOutcome CImagingRun::Run(IStorageDevice* source, const ImagingJob& job) {
    m_cancel = m_noSpace = m_newSlice = m_paused = false;
    m_blocksDone = m_blockCount = 0;
    m_currentFile = job.destination;
    if (GetFreeSpaceMB(job.destination) < kMinFreeMiB) return ImagingOutcome::NoSpaceAtStart;
    // Regions under 1 MiB are not watched.
    m_watch = job.region.Size() / 2 / 1024 != 0;

    m_writer.Setup(source, job.sourceName.c_str(), job.region.first, job.region.Size(),
                   job.headsPerCylinder);
    m_writer.SetCompressionType(job.compression);
    m_writer.SetCompressionLevel(job.level);
    m_writer.SetSliceSize(job.sliceSectors);
    m_writer.SetCompressor(job.compression == COMPRESSION_NONE ? nullptr
                                                               : CreateCompressor(job.compression));
    m_writer.SetImagePath(job.destination);
    const int written = m_writer.CreateImage(this);
    if (written == 0) return ImagingOutcome::Failed;
    if (m_noSpace) return ImagingOutcome::NoSpace;
    if (m_cancel) return ImagingOutcome::Cancelled;
    return ImagingOutcome::Success;
}

void CImagingRun::PumpMessages() {
    if (m_ui) m_ui->Pump();
}

int CImagingRun::IsCancelled() {
    if (!m_cancel && m_watch) CheckSpace();
    return m_cancel ? 1 : 0;
}

void CImagingRun::CheckSpace() {
    m_freeMiB = FreeMiBOf(m_freeSpace, m_watchedFolder + "/x");
    if (m_freeMiB >= kMinFreeMiB) return;
    m_watch = false;
    SetPaused(true);
    const bool yes = m_ui && m_ui->AskOutOfSpace();
    if (!yes) {
        m_cancel = m_noSpace = true;
        return;
    }
    SetPaused(false);
    m_newSlice = true;
    ChooseNewSliceLocation();
}

void CImagingRun::ChooseNewSliceLocation() {
    for (;;) {
        SetPaused(true);
        const std::string path = m_ui ? m_ui->ChooseSliceLocation() : std::string();
        if (path.empty()) {
            m_cancel = m_noSpace = true;
            return;
        }
        m_currentFile = path;
        if (GetFreeSpaceMB(path) >= kMinFreeMiB) {
            m_watch = true;
            SetPaused(false);
            // The next slice is named from this path.
            m_writer.SetImagePath(path);
            return;
        }
        if (!(m_ui && m_ui->AskOutOfSpace())) {
            m_cancel = m_noSpace = true;
            return;
        }
    }
}

void CImagingRun::OnBlockDone(std::uint64_t blockIndex) {
    (void)blockIndex;
    ++m_blocksDone;
    if (m_ui) m_ui->Progress();
}

void CImagingRun::SetBlockCount(std::uint64_t first, std::uint64_t blockCount) {
    (void)first;
    m_blockCount = blockCount;
    m_blocksDone = 0;
    m_startMs = Now();
}

void CImagingRun::ClearNewSliceRequest(std::uint32_t storedBytes) {
    (void)storedBytes;
    m_newSlice = false;
}

std::string CImagingRun::RemainingTimeText() const {
    const std::uint64_t elapsed = Now() - m_startMs;
    if (elapsed < 5000 || m_blocksDone == 0) return uistr::LoadUiString(kTextCalculating);
    const std::uint64_t left = m_blockCount > m_blocksDone ? m_blockCount - m_blocksDone : 0;
    const std::uint64_t s = left * elapsed / m_blocksDone / 1000 + 1;
    char text[64];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>((s % 3600) / 60),
                  static_cast<unsigned long long>(s % 60));
    return text;
}

std::string CImagingRun::FreeSpaceText() const {
    return std::to_string(m_freeMiB) + "  MB";
}

}  // namespace imagetool
