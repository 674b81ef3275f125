#include "transfer/block_timer.h"

#include <algorithm>

namespace telvora {

TBlockTimer::TBlockTimer(std::function<void()> tick) : m_tick(std::move(tick)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Fired(); });
}

TBlockTimer::~TBlockTimer() {
    m_ui.ShutDown();
}

void TBlockTimer::Arm(int intervalMs) {
    {
        std::lock_guard lock(m_mutex);
        m_interval = std::max(intervalMs, 1);
        m_deadline = Clock::now() + std::chrono::milliseconds(m_interval);
        // A running timer that fires no later than the new deadline looks
        // again then: nothing to do on the other thread.
        if (m_firesAt && *m_firesAt <= m_deadline) {
            return;
        }
        m_firesAt = m_deadline;
    }
    m_ui.RunOrPost([this] { Schedule(); });
}

void TBlockTimer::Disable() {
    std::lock_guard lock(m_mutex);
    m_interval = 0; // the running timer, when it fires, finds nothing to do
}

bool TBlockTimer::Active() const {
    std::lock_guard lock(m_mutex);
    return m_interval != 0;
}

int TBlockTimer::Interval() const {
    std::lock_guard lock(m_mutex);
    return m_interval;
}

void TBlockTimer::Schedule() {
    std::lock_guard lock(m_mutex);
    if (m_interval == 0) {
        m_firesAt.reset();
        m_timer.stop();
        return;
    }
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now());
    m_firesAt = m_deadline;
    m_timer.start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(rest.count(), 0)));
}

void TBlockTimer::Fired() {
    if (TickDue()) {
        m_tick();
    }
}

bool TBlockTimer::TickDue() {
    std::lock_guard lock(m_mutex);
    if (m_interval == 0) {
        m_firesAt.reset();
        return false;
    }
    const Clock::time_point now = Clock::now();
    const bool due = now >= m_deadline;
    if (due) {
        // Periodic: the next tick one interval on, unless re-armed meanwhile.
        m_deadline = now + std::chrono::milliseconds(m_interval);
    }
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - now);
    m_firesAt = m_deadline;
    m_timer.start(static_cast<int>(rest.count()));
    return due;
}

} // namespace telvora
