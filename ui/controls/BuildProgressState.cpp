#include "ui/controls/BuildProgressState.h"

#include "ui/controls/Formatting.h"

#include <algorithm>
#include <chrono>

std::uint32_t CBuildProgressState::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CBuildProgressState::BeginStage(const char* text, std::int32_t total, std::uint32_t nowMs) {
    {
        std::lock_guard<std::mutex> lock(m_textMutex);
        m_stageText = text ? text : "";
    }
    m_stageStart.store(nowMs);
    m_total.store(total);
    m_rangeMax.store(std::max<std::int32_t>(0, total));
    m_steps.store(0);
    m_position.store(0);
    m_stageSerial.fetch_add(1, std::memory_order_acq_rel);
}

void CBuildProgressState::StepBy(std::int32_t count) {
    m_steps.fetch_add(count);
    m_position.fetch_add(count);
}

void CBuildProgressState::SetPos(std::int32_t position) {
    m_steps.fetch_add(1);
    m_position.store(position);
}

void CBuildProgressState::Reset() {
    m_total.store(0);
    m_steps.store(0);
    m_position.store(m_rangeMax.load());
}

std::string CBuildProgressState::StageText() const {
    std::lock_guard<std::mutex> lock(m_textMutex);
    return m_stageText;
}

std::int32_t CBuildProgressState::Position() const {
    const std::int64_t pos = m_position.load();
    return static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(pos, m_rangeMax.load())));
}

std::string CBuildProgressState::ElapsedText(std::uint32_t nowMs) const {
    return uifmt::FormatElapsed(nowMs - m_stageStart.load());
}
