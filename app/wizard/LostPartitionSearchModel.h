#pragma once
// What the lost-partition search dialog shows and collects, without windows. The searcher calls
// it on its worker (IPartitionSearchCallback): those calls write atomics, or append a found
// partition under a small lock, and return at once. The dialog reads the state on the UI thread
// from its 300 ms timer (OnTimer) and sends the Cancel button here.
#include "carving/SearchCallbacks.h"
#include "carving/partition/FoundPartitionInfo.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IUiServices;

class CLostPartitionSearchModel : public IPartitionSearchCallback {
public:
    // The period of the dialog's timer; the elapsed time counts these ticks, not the clock.
    static constexpr std::uint32_t kTimerPeriodMs = 300;
    // Remaining time reads "Calculating..." this long after the range is set.
    static constexpr std::uint32_t kCalculatingMs = 5000;
    // Steps in this first span after the dialog's first step do not move the bar.
    static constexpr std::uint32_t kStepThrottleMs = 500;

    using Clock = std::function<std::uint64_t()>;  // milliseconds
    explicit CLostPartitionSearchModel(Clock clock = {});
    ~CLostPartitionSearchModel() override;

    // IPartitionSearchCallback (the searcher's worker).
    int PumpMessages() override { return 0; }
    void StepProgress() override;
    int IsCancelled() override;
    void SetStage(int step) override;
    void AddProgress() override;
    void SetRange(std::uint64_t first, std::uint64_t last) override;
    void SetPosition(int position) override;
    void OnPartitionFound(const FoundPartitionInfo* partition) override;

    // UI thread: one timer tick. Recomputes both texts.
    void OnTimer();
    std::string ElapsedText() const;
    std::string RemainingText() const;

    // The bar: range and position as the progress control holds them (low 32 bits).
    struct Bar {
        std::int32_t low = 0, high = 100, position = 0;
    };
    Bar GetBar() const;

    // The Cancel button: asks "Are you sure to stop searching?"; Yes cancels. True when the
    // search is cancelled after the call. The dialog disables Cancel and shows "Cancelling...".
    bool OnCancel(IUiServices& ui);
    bool Cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    bool CancelQuestionOpen() const { return m_questionOpen.load(std::memory_order_acquire); }
    // A run that stops by itself after `steps` candidates, as if the user had cancelled then
    // (scripted runs).
    void CancelAfterSteps(std::uint64_t steps) { m_cancelAfter.store(steps, std::memory_order_release); }

    std::uint64_t StepsDone() const { return m_steps.load(std::memory_order_acquire); }
    std::size_t FoundCount() const;
    // Moves the collected partitions, in the order found, to the end of `out`; their devices
    // go with them.
    void CopyFoundPartitions(std::vector<std::unique_ptr<FoundPartitionInfo>>& out);

    // "%02d:%02d:%02d" of a millisecond count, and the remaining-time text of n steps done of
    // `last` after `elapsedMs` ("Calculating..." when nothing is done).
    static std::string FormatElapsed(std::uint64_t elapsedMs);
    static std::string FormatRemaining(std::uint64_t last, std::uint64_t stepsDone, std::uint64_t elapsedMs);

private:
    void StepIt();
    void UpdateTexts();  // under m_lock

    Clock m_clock;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_questionOpen{false};
    std::atomic<std::uint64_t> m_cancelAfter{~std::uint64_t(0)};
    std::atomic<std::int32_t> m_low{0}, m_high{100}, m_position{0}, m_step{10};
    std::atomic<std::uint64_t> m_steps{0};
    std::atomic<std::uint64_t> m_last{0};
    std::atomic<bool> m_firstStepTaken{false};
    std::atomic<std::uint64_t> m_firstStepTick{0};

    mutable std::mutex m_lock;  // the clock, the texts and the found list
    std::uint64_t m_clockCount = 0;
    std::uint64_t m_clockBase = 0;
    std::string m_elapsed = "00:00:00";
    std::string m_remaining = "00:00:00";
    std::vector<std::unique_ptr<FoundPartitionInfo>> m_found;
};
