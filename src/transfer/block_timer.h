#pragma once

#include "common/hand_over.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace telvora {

// The periodic block timer of a transfer. The line's thread re-arms it with
// every block, thousands of times a second: re-arming only moves a deadline
// under a lock, and the user-interface thread's timer is touched only when
// it is not running or must fire sooner. Ticks run on the thread that made
// it (the user-interface thread).
class TBlockTimer {
public:
    explicit TBlockTimer(std::function<void()> tick);
    ~TBlockTimer();
    TBlockTimer(const TBlockTimer&) = delete;
    TBlockTimer& operator=(const TBlockTimer&) = delete;

    // Any thread: the first tick comes intervalMs from now, then one every
    // intervalMs until it is armed again or disabled.
    void Arm(int intervalMs);
    // Any thread: no tick comes after this returns, unless armed again.
    void Disable();
    bool Active() const;
    int Interval() const;

private:
    using Clock = std::chrono::steady_clock;

    void Schedule();
    void Fired();
    // Whether a tick is due now; if not, starts the timer for the rest.
    bool TickDue();

    std::function<void()> m_tick;
    THandOver m_ui;
    QTimer m_timer;
    mutable std::mutex m_mutex;
    int m_interval = 0;           // 0: disabled; guarded by m_mutex
    Clock::time_point m_deadline; // guarded by m_mutex
    // When the running (or asked for) timer fires; guarded by m_mutex.
    std::optional<Clock::time_point> m_firesAt;
};

} // namespace telvora
