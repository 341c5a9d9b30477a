#pragma once
// The state a directory build reports into: written by the build (often on its worker thread)
// and read by the progress dialog on the UI thread. Counters are atomics; the stage text sits
// behind a mutex. No window code.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CBuildProgressState {
public:
    // Milliseconds on a steady clock.
    static std::uint32_t NowMs();

    void BeginStage(const char* text, std::int32_t total, std::uint32_t nowMs);
    // Adds `count` to the position and the step counter.
    void StepBy(std::int32_t count);
    // Sets the position and counts one step.
    void SetPos(std::int32_t position);
    // Zeroes the stage total and step counter; the bar shows full (the upper end of its range).
    void Reset();

    void SetCancelled() { m_cancelled.store(true, std::memory_order_release); }
    bool Cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    std::string StageText() const;
    // Bumped by every BeginStage, so the dialog can show a new stage at once.
    std::uint32_t StageSerial() const { return m_stageSerial.load(std::memory_order_acquire); }
    std::int32_t StageTotal() const { return m_total.load(); }
    std::int32_t Steps() const { return m_steps.load(); }
    std::int32_t RangeMax() const { return m_rangeMax.load(); }
    // The bar's position, limited to 0..RangeMax.
    std::int32_t Position() const;
    // Elapsed time of the stage as "%02d:%02d:%02d".
    std::string ElapsedText(std::uint32_t nowMs) const;

private:
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_textMutex;
    std::string m_stageText;
    std::atomic<std::uint32_t> m_stageSerial{0};
    std::atomic<std::int32_t> m_total{0};
    std::atomic<std::int32_t> m_rangeMax{0};
    std::atomic<std::int32_t> m_steps{0};
    std::atomic<std::int64_t> m_position{0};
    std::atomic<std::uint32_t> m_stageStart{0};
};
