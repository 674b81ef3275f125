#pragma once

#include <chrono>

namespace telvora {

// Paces bytes at the rate of a modem line on a running deadline: each byte is
// due `delay` ms after the previous one was due, so sleep overshoot and the
// time spent writing do not slow the line down. After a speed change, a pause
// in the data or a stall the schedule starts again from now, so no burst
// follows to make up for it.
class TPacer {
public:
    using Clock = std::chrono::steady_clock;

    // Lateness up to this much is made up by sending the next bytes without
    // waiting; a longer one restarts the schedule.
    static constexpr auto kStallLimit = std::chrono::milliseconds(50);

    // The next byte starts a new schedule.
    void Restart() { m_restart = true; }
    // Sleeps until the next byte is due.
    void WaitForNext(int delayMs);
    // When the next byte is due, for the given delay, without sleeping; advances the schedule.
    Clock::time_point NextDue(int delayMs, Clock::time_point now);

private:
    Clock::time_point m_due{};
    bool m_restart = true;
};

} // namespace telvora
