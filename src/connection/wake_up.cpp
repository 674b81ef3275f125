#include "connection/wake_up.h"

namespace telvora {

void TWakeUp::Notify() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_one();
}

bool TWakeUp::WaitFor(std::chrono::milliseconds period) {
    std::unique_lock lock(m_mutex);
    const bool woken = m_changed.wait_for(lock, period, [this] { return m_woken; });
    m_woken = false;
    return woken;
}

} // namespace telvora
