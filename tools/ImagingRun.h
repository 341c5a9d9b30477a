#pragma once
// One imaging run: hands the job to the image writer, answers its per-block questions, watches
// the destination's free space before every block and moves the rest of the image to another
// folder when space runs out. Runs on the calling (user-interface) thread; the UI hook keeps
// the windows alive and asks the user.
#include "storage/CompressCallBack.h"
#include "storage/CompressController.h"
#include "storage/StorageDevice.h"
#include "tools/ImageWizardModel.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace imagetool {

class IImagingRunUi {
public:
    virtual ~IImagingRunUi() = default;
    // After every block: dispatch pending window events (a cancel question may run here).
    virtual void Pump() {}
    // The out-of-space question; true for Yes (continue elsewhere).
    virtual bool AskOutOfSpace() = 0;
    // A new place for the next slices ("" when the dialog was cancelled).
    virtual std::string ChooseSliceLocation() = 0;
    // The writer moved on: progress and texts changed.
    virtual void Progress() {}
};

enum class ImagingOutcome {
    Success,
    Failed,        // a file could not be created or written
    Cancelled,     // the user cancelled
    NoSpace,       // the user chose to stop when space ran out, or cancelled the new location
    NoSpaceAtStart // under 20 MiB free before the first block
};

constexpr std::uint64_t kMinFreeMiB = 20;

// The destination check of the path pages: the folder has free space and takes a new file.
bool CheckDestination(const std::string& path, const FreeSpaceFunction& freeSpace,
                      std::uint64_t* freeMiB);

class CImagingRun : public ICompressCallBack {
public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds

    CImagingRun(IImagingRunUi* ui, FreeSpaceFunction freeSpace, Clock clock = {});

    ImagingOutcome Run(IStorageDevice* source, const ImagingJob& job);

    // The user confirmed the cancel question: the writer stops before its next block.
    void RequestCancel() { m_cancel = true; }
    // While a question is open the remaining time is not updated.
    void SetPaused(bool paused) { m_paused = paused; }

    std::uint64_t BlocksDone() const { return m_blocksDone; }
    std::uint64_t BlockCount() const { return m_blockCount; }
    const std::string& CurrentFile() const { return m_currentFile; }
    std::string RemainingTimeText() const;
    // The free-space static: "<n>  MB".
    std::string FreeSpaceText() const;
    // Slices the writer opened (the next slice number).
    std::uint32_t SlicesOpened() const { return m_writer.GetSlicesOpened(); }

    // ICompressCallBack
    void PumpMessages() override;
    int IsCancelled() override;
    void OnBlockDone(std::uint64_t blockIndex) override;
    void SetBlockCount(std::uint64_t first, std::uint64_t blockCount) override;
    void ClearNewSliceRequest(std::uint32_t storedBytes) override;
    int IsNewSliceRequested() override { return m_newSlice ? 1 : 0; }

    // Free MiB of the folder of `path`; that folder becomes the watched one.
    std::uint64_t GetFreeSpaceMB(const std::string& path);

private:
    void CheckSpace();
    void ChooseNewSliceLocation();
    std::uint64_t Now() const;

    IImagingRunUi* m_ui;
    FreeSpaceFunction m_freeSpace;
    Clock m_clock;
    CCompressController m_writer;
    std::string m_watchedFolder;
    std::string m_currentFile;
    std::uint64_t m_freeMiB = 0;
    std::uint64_t m_blocksDone = 0;
    std::uint64_t m_blockCount = 0;
    std::uint64_t m_startMs = 0;
    bool m_watch = false;
    bool m_cancel = false;
    bool m_noSpace = false;
    bool m_newSlice = false;
    bool m_paused = false;
};

}  // namespace imagetool
