#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Waits in the driver for modem-line changes (TIOCMIWAIT) on a thread of its
// own and reports each one. Such a wait sleeps inside the driver, where
// neither closing the descriptor nor any other call ends it: only a signal
// does. Stop therefore sends the thread a signal (with an empty handler
// installed without SA_RESTART) until the thread has left its wait.
class TLineWaiter {
public:
    // Blocks until something changed: 0, or -1 with errno set (EINTR when
    // interrupted by the stop signal).
    using TWait = std::function<int()>;
    using TChanged = std::function<void()>;

    // How often Stop repeats the signal: one sent just before the thread
    // entered its wait is lost, the next one reaches it there.
    static constexpr int kStopRetryMs = 5;

    // Whether this process can interrupt a waiter (the stop signal is free for
    // it to use). Without it nobody may start a wait that cannot be ended.
    static bool CanInterrupt();

    // Starts the thread at once; changed runs on it after every wait that
    // returned 0, and once more when the wait fails for good (Supported() is
    // then false).
    TLineWaiter(TWait wait, TChanged changed);
    ~TLineWaiter();
    TLineWaiter(const TLineWaiter&) = delete;
    TLineWaiter& operator=(const TLineWaiter&) = delete;

    // False once the wait failed other than by being interrupted (a driver
    // without TIOCMIWAIT, a hung-up line).
    bool Supported() const { return m_supported.load(); }
    // Ends the wait and joins the thread.
    void Stop();

    // The wait for a change of CTS, DSR, RI or DCD on the port open on fd.
    // A change that happened between two waits is reported at once.
    static TWait ModemLineWait(int fd);

private:
    void Execute();

    TWait m_wait;
    TChanged m_changed;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_supported{true};
    std::mutex m_mutex;
    std::condition_variable m_exitedEvent;
    bool m_exited = false;
    std::thread m_thread;
};
