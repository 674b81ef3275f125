// The port event thread on a real pseudo-terminal pair: what it reports, how
// often, and that it ends promptly.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "connection/serial/comm_event_thread.h"
#include "pty_pair.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRx = static_cast<std::uint32_t>(TCommEventType::evRxChar);
constexpr std::uint32_t kTxEmpty = static_cast<std::uint32_t>(TCommEventType::evTxEmpty);

// Records the masks reported, lets a test wait for them.
class Recorder {
public:
    void Add(std::uint32_t mask) {
        std::lock_guard lock(m_mutex);
        m_masks.push_back(mask);
        m_changed.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 5000ms) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_masks.size() >= count; });
    }
    std::vector<std::uint32_t> Masks() {
        std::lock_guard lock(m_mutex);
        return m_masks;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint32_t> m_masks;
};

class EventThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_fd = open(m_pty.Local().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_fd, 0);
    }
    void TearDown() override { close(m_fd); }

    int Waiting() const {
        int count = 0;
        ioctl(m_fd, FIONREAD, &count);
        return count;
    }

    TPtyPair m_pty;
    int m_fd = -1;
};

} // namespace

TEST_F(EventThreadTest, ReportsArrivingBytesOnceUntilMoreArrive) {
    Recorder recorder;
    TCommEventThread thread(m_fd, kAllCommEvents, [&](std::uint32_t mask) { recorder.Add(mask); });
    ASSERT_TRUE(m_pty.WriteRemote("abc", 3));
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.Masks()[0], kRx);
    // Nobody reads: the bytes stay, and the port is not reported again for them.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.Masks().size(), 1u);
    ASSERT_TRUE(m_pty.WriteRemote("d", 1));
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(recorder.Masks()[1], kRx);
    // Once read (and the reader says so, as the component does), the next
    // byte is reported as soon as it comes.
    char buffer[16];
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(read(m_fd, buffer, sizeof buffer), 4);
    thread.NotifyRead();
    ASSERT_TRUE(m_pty.WriteRemote("e", 1));
    ASSERT_TRUE(recorder.WaitFor(3));
    thread.Terminate();
    EXPECT_EQ(recorder.Masks().size(), 3u);
}

TEST_F(EventThreadTest, OnlyMonitoredEventsAreReported) {
    Recorder recorder;
    TCommEventThread thread(m_fd, TCommEventTypes{TCommEventType::evTxEmpty},
                            [&](std::uint32_t mask) { recorder.Add(mask); });
    ASSERT_TRUE(m_pty.WriteRemote("abc", 3));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(recorder.Masks().empty());
    ASSERT_EQ(write(m_fd, "x", 1), 1);
    thread.NotifyWrite();
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.Masks()[0], kTxEmpty);
}

TEST_F(EventThreadTest, BytesThatArriveDuringAnotherEventAreStillReported) {
    Recorder recorder;
    bool first = true;
    TCommEventThread thread(m_fd, kAllCommEvents, [&](std::uint32_t mask) {
        if (first && mask == kTxEmpty) {
            first = false;
            // The bytes arrive while the owner handles the write's event.
            EXPECT_TRUE(m_pty.WriteRemote("abc", 3));
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (Waiting() < 3 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
        }
        recorder.Add(mask);
    });
    ASSERT_EQ(write(m_fd, "x", 1), 1);
    thread.NotifyWrite();
    ASSERT_TRUE(recorder.WaitFor(2));
    thread.Terminate();
    const std::vector<std::uint32_t> masks = recorder.Masks();
    EXPECT_EQ(masks[0], kTxEmpty);
    EXPECT_EQ(masks[1], kRx);
}

TEST_F(EventThreadTest, TerminateEndsAnIdleWaitPromptlyAndPurgesUnreadInput) {
    Recorder recorder;
    auto thread = std::make_unique<TCommEventThread>(
        m_fd, kAllCommEvents, [&](std::uint32_t mask) { recorder.Add(mask); });
    ASSERT_TRUE(m_pty.WriteRemote("xyz", 3));
    ASSERT_TRUE(recorder.WaitFor(1));
    const auto start = std::chrono::steady_clock::now();
    thread.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(Waiting(), 0);
}

TEST_F(EventThreadTest, WaitsForTheCallbackBeforeLookingAgain) {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> calls{0};
    TCommEventThread thread(m_fd, kAllCommEvents, [&](std::uint32_t) {
        most = std::max(most.load(), ++inside);
        std::this_thread::sleep_for(20ms);
        char buffer[64];
        while (read(m_fd, buffer, sizeof buffer) > 0) {
        }
        --inside;
        ++calls;
    });
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(m_pty.WriteRemote("0123456789", 10));
        std::this_thread::sleep_for(5ms);
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (Waiting() > 0 || calls.load() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(5ms);
    }
    thread.Terminate();
    EXPECT_EQ(most.load(), 1);
}
