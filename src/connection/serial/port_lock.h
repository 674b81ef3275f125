#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// The lock that serialises the transfers of one port, with a bounded wait.
// Built on a mutex and a condition variable rather than std::timed_mutex,
// whose timed wait ThreadSanitizer cannot follow (it reports every unlock
// after one as an unlock of an unlocked mutex).
class TPortLock {
public:
    void lock() {
        std::unique_lock guard(m_mutex);
        m_free.wait(guard, [this] { return !m_busy; });
        m_busy = true;
    }
    bool try_lock() {
        std::lock_guard guard(m_mutex);
        if (m_busy) {
            return false;
        }
        m_busy = true;
        return true;
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout) {
        std::unique_lock guard(m_mutex);
        if (!m_free.wait_for(guard, timeout, [this] { return !m_busy; })) {
            return false;
        }
        m_busy = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard guard(m_mutex);
            m_busy = false;
        }
        m_free.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_busy = false;
};
