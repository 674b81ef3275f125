#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace telvora {

// Lets a polling thread sleep until its period is over or until there is
// something for it to do, whichever comes first. A wake that comes while
// the thread is busy is kept for its next wait, so none is lost.
class TWakeUp {
public:
    // Any thread.
    void Notify();
    // Waits until notified or until period has passed; true when notified.
    bool WaitFor(std::chrono::milliseconds period);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_woken = false;
};

} // namespace telvora
