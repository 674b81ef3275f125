#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "connection/serial/comm_types.h"

// Waits for events of one open port on its own thread and reports each wait's
// event mask (TCommEventType bits) to a callback, which runs on this thread
// and is expected to hand the mask to the component's owner and wait for it.
//
// Received characters wake the thread through poll(). Modem-line changes wake
// it through a TLineWaiter sleeping in TIOCMIWAIT on drivers that have it; on
// drivers without it the lines are looked at every kLinePollIntervalMs. Breaks
// and line errors are read from the driver's counters at every wake (a break
// or a damaged character also puts a byte into the input, which wakes the
// thread). Pseudo-terminals report no lines at all.
class TCommEventThread {
public:
    using TCallback = std::function<void(std::uint32_t mask)>;

    // Reported, whatever is monitored, once the line has been hung up (the
    // other end of a pseudo-terminal closed, a USB adapter pulled out); evRlsd
    // comes with it when monitored. Nothing is reported after it.
    static constexpr std::uint32_t kHangUp = 1u << 31;

    static constexpr int kLinePollIntervalMs = 10;
    // While TIOCMIWAIT watches the lines the counters are still read this
    // often: a change in the instant between two waits is not lost for long.
    static constexpr int kLineSafetyPollMs = 1000;
    // Output still queued when the thread ends gets this long to go out before
    // the queues are purged. Purging at once would throw away bytes that Write
    // has already reported as written (the last key typed, the last reply of a
    // file transfer); the limit keeps Close prompt when the peer holds the
    // line with its handshake.
    static constexpr int kCloseDrainTimeoutMs = 500;

    // Starts the thread at once. fd stays owned by the caller and must stay
    // open until Terminate has returned.
    TCommEventThread(int fd, TCommEventTypes events, TCallback callback);
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Output was queued: evTxEmpty follows once the driver's output queue is empty.
    void NotifyWrite();
    // Bytes were taken from the port: what is still waiting (or arrives while
    // the reader was busy) is reported again even if the count did not grow.
    void NotifyRead() { m_readSinceReport.store(true); }
    // A read of the waiting bytes timed out: they are reported again at the
    // next look although no more arrived.
    void NotifyReadTimedOut() { m_readTimedOut.store(true); }
    // A read took the event character (EvtChar) from the port: evRxFlag follows.
    void NotifyRxFlag();
    // Ends the wait, purges the port's queues and joins the thread. The
    // callback must have returned (or be about to) for the join to finish.
    void Terminate();
    bool TerminateRequested() const { return m_terminate.load(); }

private:
    void Execute();
    void Wake();
    void DrainAndPurge();

    int m_fd;
    std::uint32_t m_wanted;
    TCallback m_callback;
    int m_wakeFd = -1;
    std::atomic<bool> m_terminate{false};
    std::atomic<bool> m_writePending{false};
    std::atomic<bool> m_readSinceReport{false};
    std::atomic<bool> m_readTimedOut{false};
    std::atomic<bool> m_rxFlagPending{false};
    std::thread m_thread;
};
