#include "app/wizard/LostPartitionSearchModel.h"

#include "app/wizard/UiServices.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

#include <cstdio>

namespace {

std::uint64_t SteadyMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string Hms(std::uint64_t hours, std::uint64_t minutes, std::uint64_t seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(hours),
                  static_cast<unsigned long long>(minutes), static_cast<unsigned long long>(seconds));
    return text;
}

} // namespace

CLostPartitionSearchModel::CLostPartitionSearchModel(Clock clock) : m_clock(clock ? std::move(clock) : Clock(SteadyMs)) {}

CLostPartitionSearchModel::~CLostPartitionSearchModel() = default;

std::string CLostPartitionSearchModel::FormatElapsed(std::uint64_t e) {
    const std::uint64_t s = (e / 1000) % 3600;
    return Hms(e / 3600000, s / 60, s % 60);
}

std::string CLostPartitionSearchModel::FormatRemaining(std::uint64_t last, std::uint64_t n, std::uint64_t e) {
    if (n == 0)
        return uistr::UiString(uistr::kCalculating);
    const std::uint64_t left = last > n ? last - n : 0;
    // 128-bit product: a huge disk's candidate count times hours of milliseconds still fits.
    const auto s = static_cast<std::uint64_t>(static_cast<unsigned __int128>(left) * e / n / 1000);
    const std::uint64_t t = s + 1;
    return Hms(t / 3600, (t % 3600) / 60, (t % 3600) % 60);
}

void CLostPartitionSearchModel::StepIt() {
    const std::int32_t step = m_step.load(std::memory_order_relaxed);
    std::int32_t pos = m_position.load(std::memory_order_relaxed) + step;
    const std::int32_t low = m_low.load(std::memory_order_relaxed), high = m_high.load(std::memory_order_relaxed);
    // The progress control wraps to its lower end when a step passes the upper one.
    if (pos > high)
        pos = low + (pos - high);
    m_position.store(pos, std::memory_order_relaxed);
}

void CLostPartitionSearchModel::StepProgress() {
    const std::uint64_t steps = m_steps.fetch_add(1, std::memory_order_acq_rel) + 1;
    const std::uint64_t now = m_clock();
    if (!m_firstStepTaken.exchange(true, std::memory_order_acq_rel))
        m_firstStepTick.store(now, std::memory_order_release);
    else if (now - m_firstStepTick.load(std::memory_order_acquire) > kStepThrottleMs)
        StepIt();
    if (steps >= m_cancelAfter.load(std::memory_order_acquire))
        m_cancelled.store(true, std::memory_order_release);
}

int CLostPartitionSearchModel::IsCancelled() { return m_cancelled.load(std::memory_order_acquire) ? 1 : 0; }

void CLostPartitionSearchModel::SetStage(int step) { m_step.store(step, std::memory_order_relaxed); }

void CLostPartitionSearchModel::AddProgress() {
    m_position.fetch_add(1, std::memory_order_relaxed);
    m_steps.fetch_add(1, std::memory_order_acq_rel);
}

void CLostPartitionSearchModel::SetRange(std::uint64_t first, std::uint64_t last) {
    m_low.store(static_cast<std::int32_t>(static_cast<std::uint32_t>(first)), std::memory_order_relaxed);
    m_high.store(static_cast<std::int32_t>(static_cast<std::uint32_t>(last)), std::memory_order_relaxed);
    m_last.store(last, std::memory_order_release);
    // A range that grows while the search runs (a geometry added to it) keeps the clock.
    if (m_steps.load(std::memory_order_acquire) != 0)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_clockCount = m_clockBase = m_clock();
}

void CLostPartitionSearchModel::SetPosition(int position) { m_position.store(position, std::memory_order_relaxed); }

void CLostPartitionSearchModel::OnPartitionFound(const FoundPartitionInfo* partition) {
    if (!partition)
        return;
    auto copy = std::make_unique<FoundPartitionInfo>(partition->TakeCopy());
    std::lock_guard<std::mutex> lock(m_lock);
    m_found.push_back(std::move(copy));
}

void CLostPartitionSearchModel::UpdateTexts() {
    const std::uint64_t e = m_clockCount - m_clockBase;
    m_elapsed = FormatElapsed(e);
    if (e < kCalculatingMs)
        m_remaining = uistr::UiString(uistr::kCalculating);
    else if (!m_questionOpen.load(std::memory_order_acquire))
        m_remaining = FormatRemaining(m_last.load(std::memory_order_acquire), m_steps.load(std::memory_order_acquire), e);
}

void CLostPartitionSearchModel::OnTimer() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_clockCount += kTimerPeriodMs;
    UpdateTexts();
}

std::string CLostPartitionSearchModel::ElapsedText() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_elapsed;
}

std::string CLostPartitionSearchModel::RemainingText() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_remaining;
}

CLostPartitionSearchModel::Bar CLostPartitionSearchModel::GetBar() const {
    Bar b;
    b.low = m_low.load(std::memory_order_relaxed);
    b.high = m_high.load(std::memory_order_relaxed);
    b.position = m_position.load(std::memory_order_relaxed);
    return b;
}

bool CLostPartitionSearchModel::OnCancel(IUiServices& ui) {
    if (Cancelled() || CancelQuestionOpen())
        return Cancelled();  // already cancelled, or the question is up
    m_questionOpen.store(true, std::memory_order_release);
    const int answer = ui.MessageBox(uistr::kStopSearchingQuestion, kMbQuestion, kMbYes | kMbNo);
    if (answer == kAnswerYes) {
        m_cancelled.store(true, std::memory_order_release);  // the remaining time stays as it was
        return true;
    }
    m_questionOpen.store(false, std::memory_order_release);
    return false;
}

std::size_t CLostPartitionSearchModel::FoundCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_found.size();
}

void CLostPartitionSearchModel::CopyFoundPartitions(std::vector<std::unique_ptr<FoundPartitionInfo>>& out) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& p : m_found)
        out.push_back(std::move(p));
    m_found.clear();
}
