#include "app/wizard/DeepScanProgress.h"

#include "ui/controls/StringTable.h"

#include <chrono>
#include <cstdio>
#include <cstring>

std::uint64_t ScaleForRange(std::uint64_t first, std::uint64_t last) {
    const std::int64_t d = static_cast<std::int64_t>(last - first);
    if (d <= 1000)
        return 1;
    std::uint64_t scale = 10;
    while (static_cast<std::uint64_t>(d) / scale > 1000)
        scale *= 10;
    return scale;
}

std::string FormatSearchClock(int hours, int minutes, int seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%d:%d:%d", hours, minutes, seconds);
    return text;
}

std::uint64_t CDeepScanProgressModel::SteadyMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

CDeepScanProgressModel::CDeepScanProgressModel(Clock clock)
    : m_clock(std::move(clock)), m_remaining(uistr::UiString(uistr::kCalculating)) {
    m_lastShown.store(m_clock(), std::memory_order_relaxed); // the throttle starts with the dialog
    ResetIntelligentSearchStats(&m_stats);
}

void CDeepScanProgressModel::SetRange(std::uint64_t first, std::uint64_t last) {
    const std::uint64_t scale = ScaleForRange(first, last);
    const std::uint64_t span = last >= first ? (last - first) / scale : 0;
    m_scale.store(scale, std::memory_order_release);
    m_barMax.store(span, std::memory_order_release);
    m_total.store(span, std::memory_order_release);
    m_startTick.store(m_clock(), std::memory_order_release);
}

void CDeepScanProgressModel::SetPosition(std::uint64_t chunk) {
    const std::uint64_t now = m_clock();
    if (now - m_lastShown.load(std::memory_order_acquire) <= kPositionThrottleMs)
        return;
    m_lastShown.store(now, std::memory_order_release);
    const std::uint64_t position = chunk / m_scale.load(std::memory_order_acquire);
    m_barPos.store(position, std::memory_order_release);
    // Remaining time: (total - progress) x (elapsed / 100) / progress x 100, integer steps.
    std::uint64_t remainingMs = 0;
    const std::uint64_t total = m_total.load(std::memory_order_acquire);
    if (position > 0) {
        const std::uint64_t elapsed = now - m_startTick.load(std::memory_order_acquire);
        const std::uint64_t left = total > position ? total - position : 0;
        remainingMs = left * (elapsed / 100) / position * 100;
    }
    const int h = static_cast<int>(remainingMs / 3600000);
    const int m = static_cast<int>(remainingMs / 60000 % 60);
    const int s = static_cast<int>(remainingMs / 1000 % 60);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (h || m || s || m_remainingShownOnce) {
        m_remainingShownOnce = true;
        m_remaining = FormatSearchClock(h, m, s);
    } else {
        m_remaining = uistr::UiString(uistr::kCalculating);
    }
}

void CDeepScanProgressModel::GetStatistics(IntelligentSearchStats* out) {
    if (!out)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    *out = m_stats;
}

void CDeepScanProgressModel::SetStatistics(const IntelligentSearchStats* stats) {
    if (!stats)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats = *stats;
}

void CDeepScanProgressModel::Tick() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (++m_seconds > 59) {
        m_seconds = 0;
        if (++m_minutes == 60) {
            m_minutes = 0;
            ++m_hours;
        }
    }
}

CDeepScanProgressModel::View CDeepScanProgressModel::Snapshot() const {
    View v;
    v.barPosition = m_barPos.load(std::memory_order_acquire);
    v.barMaximum = m_barMax.load(std::memory_order_acquire);
    v.cancelled = Cancelled();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::memcpy(v.counters, m_stats.counters, sizeof v.counters);
    v.elapsed = FormatSearchClock(m_hours, m_minutes, m_seconds);
    v.remaining = m_remaining;
    return v;
}
