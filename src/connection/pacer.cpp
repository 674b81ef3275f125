#include "connection/pacer.h"

#include <algorithm>
#include <thread>

namespace telvora {

TPacer::Clock::time_point TPacer::NextDue(int delayMs, Clock::time_point now) {
    const auto step = std::chrono::milliseconds(delayMs);
    const auto tolerance = std::max<Clock::duration>(step, kStallLimit);
    if (m_restart || now > m_due + step + tolerance) {
        m_due = now;
        m_restart = false;
    }
    m_due += step;
    return m_due;
}

void TPacer::WaitForNext(int delayMs) {
    std::this_thread::sleep_until(NextDue(delayMs, Clock::now()));
}

} // namespace telvora
