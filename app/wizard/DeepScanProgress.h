#pragma once
// What the deep-scan progress dialog shows, without windows. The search's worker calls the
// IIntelligentSearchCallback slots: they store atomics (and a copy of the statistics block
// under a small mutex) and return at once. The dialog reads a Snapshot from its one-second
// timer (which also advances the elapsed clock) and sets Cancel after the user confirmed.
#include "carving/SearchCallbacks.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// The divisor that keeps the bar at 1000 steps or fewer: 1 for a range of at most 1000 (or a
// reversed one), else the smallest power of ten from 10 on with (last - first) / scale <= 1000.
std::uint64_t ScaleForRange(std::uint64_t first, std::uint64_t last);
// "%d:%d:%d" without leading zeros.
std::string FormatSearchClock(int hours, int minutes, int seconds);

// The deep scan's progress as the dialog and the wizard see it.
class IDeepScanProgress : public IIntelligentSearchCallback {
public:
    // True once the user confirmed the cancel.
    virtual bool Cancelled() const = 0;
};

class CDeepScanProgressModel : public IDeepScanProgress {
public:
    // Milliseconds of a steady clock (tests pass their own).
    using Clock = std::function<std::uint64_t()>;
    static std::uint64_t SteadyMilliseconds();
    // Positions that arrive within this many ms of the last shown one move nothing.
    static constexpr std::uint64_t kPositionThrottleMs = 300;

    explicit CDeepScanProgressModel(Clock clock = SteadyMilliseconds);

    // ---- the worker's slots ----
    void SetPosition(std::uint64_t chunk) override;
    void SetRange(std::uint64_t first, std::uint64_t last) override;
    int IsCancelled() override { return m_cancelled.load(std::memory_order_acquire) ? 1 : 0; }
    // The window layer pumps its own loop while the worker runs; nothing to do here.
    int PumpMessages() override { return 0; }
    void GetStatistics(IntelligentSearchStats* out) override;
    void SetStatistics(const IntelligentSearchStats* stats) override;
    bool Cancelled() const override { return m_cancelled.load(std::memory_order_acquire); }

    // ---- the dialog's side (UI thread) ----
    // The user answered Yes to "Stop searching now?".
    void Cancel() { m_cancelled.store(true, std::memory_order_release); }
    // One second passed (the dialog's timer).
    void Tick();

    struct View {
        std::uint64_t barPosition = 0;
        std::uint64_t barMaximum = 0;
        std::uint64_t counters[8] = {}; // the first eight counters of the statistics block
        std::string elapsed;            // "h:m:s"
        std::string remaining;          // "h:m:s", or "Calculating..."
        bool cancelled = false;
    };
    View Snapshot() const;
    std::uint64_t Scale() const { return m_scale.load(std::memory_order_acquire); }

private:
    Clock m_clock;
    std::atomic<bool> m_cancelled{false};
    std::atomic<std::uint64_t> m_scale{1};
    std::atomic<std::uint64_t> m_barMax{0};
    std::atomic<std::uint64_t> m_barPos{0};
    std::atomic<std::uint64_t> m_total{0}; // scaled range of the estimate
    std::atomic<std::uint64_t> m_startTick{0};
    std::atomic<std::uint64_t> m_lastShown{0};
    mutable std::mutex m_mutex; // guards the block and the texts below
    IntelligentSearchStats m_stats;
    std::string m_remaining;
    bool m_remainingShownOnce = false;
    int m_hours = 0, m_minutes = 0, m_seconds = 0;
};
