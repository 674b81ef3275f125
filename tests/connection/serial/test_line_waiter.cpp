// The modem-line waiter: a wait that sleeps in the kernel is ended by Stop,
// changes are reported, a driver without the wait is noticed. A blocking read
// on a pipe stands in for TIOCMIWAIT, which pseudo-terminals do not have.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "connection/serial/line_waiter.h"
#include "pty_pair.h"

namespace {

using namespace std::chrono_literals;

class Pipe {
public:
    Pipe() { EXPECT_EQ(pipe2(m_fds, O_CLOEXEC), 0); }
    ~Pipe() {
        close(m_fds[0]);
        close(m_fds[1]);
    }
    int ReadEnd() const { return m_fds[0]; }
    void Send() const { EXPECT_EQ(write(m_fds[1], "x", 1), 1); }

private:
    int m_fds[2] = {-1, -1};
};

// Blocks in read() like TIOCMIWAIT blocks in the driver; a byte is a change.
TLineWaiter::TWait BlockingPipeWait(const Pipe& pipe) {
    const int fd = pipe.ReadEnd();
    return [fd] {
        char byte = 0;
        const ssize_t got = read(fd, &byte, 1);
        return got == 1 ? 0 : -1;
    };
}

class ChangeCounter {
public:
    void Add() {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_count >= count; });
    }
    int Count() {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// Runs Stop on another thread; if it does not return in time the blocked wait
// is released by hand so the test ends (and fails) instead of hanging.
bool StopsInTime(TLineWaiter& waiter, const Pipe& pipe) {
    auto stopped = std::async(std::launch::async, [&] { waiter.Stop(); });
    if (stopped.wait_for(5s) == std::future_status::ready) {
        return true;
    }
    pipe.Send();
    stopped.wait();
    return false;
}

} // namespace

TEST(LineWaiter, ReportsEachChangeAndStopEndsAWaitInsideTheKernel) {
    ASSERT_TRUE(TLineWaiter::CanInterrupt());
    Pipe pipe;
    ChangeCounter changes;
    TLineWaiter waiter(BlockingPipeWait(pipe), [&] { changes.Add(); });
    pipe.Send();
    ASSERT_TRUE(changes.WaitFor(1));
    pipe.Send();
    ASSERT_TRUE(changes.WaitFor(2));
    EXPECT_TRUE(waiter.Supported());
    // The thread now sleeps in read() with nothing to come.
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(StopsInTime(waiter, pipe));
    EXPECT_EQ(changes.Count(), 2);
    EXPECT_TRUE(waiter.Supported());
}

TEST(LineWaiter, StopRightAfterTheStartNeverHangs) {
    Pipe pipe;
    for (int i = 0; i < 50; ++i) {
        TLineWaiter waiter(BlockingPipeWait(pipe), [] {});
        ASSERT_TRUE(StopsInTime(waiter, pipe)) << "round " << i;
    }
}

TEST(LineWaiter, AWaitTheDriverDoesNotHaveEndsTheWaiter) {
    ChangeCounter changes;
    TLineWaiter waiter(
        [] {
            errno = ENOTTY;
            return -1;
        },
        [&] { changes.Add(); });
    ASSERT_TRUE(changes.WaitFor(1));
    EXPECT_FALSE(waiter.Supported());
    waiter.Stop();
    EXPECT_EQ(changes.Count(), 1);
}

TEST(LineWaiter, APseudoTerminalHasNoModemLineWait) {
    TPtyPair pty;
    const int fd = open(pty.Local().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ChangeCounter changes;
    {
        TLineWaiter waiter(TLineWaiter::ModemLineWait(fd), [&] { changes.Add(); });
        ASSERT_TRUE(changes.WaitFor(1));
        EXPECT_FALSE(waiter.Supported());
    }
    close(fd);
}
