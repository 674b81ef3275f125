// The serial port component on real pseudo-terminal pairs: opening, line
// settings as the kernel holds them, transfers both ways, events on the
// owner's thread, and the error texts.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "connection/serial/custom_comm.h"
#include "pty_pair.h"
#include "qt_event_wait.h"

namespace {

using namespace std::chrono_literals;

// The settings the serial connection gives its port.
void ConfigureLikeTheSerialConnection(TCustomComm& comm, const std::string& device) {
    comm.SetBaudRate(TBaudrate::br19200);
    comm.SetDeviceName(device);
    comm.SetParity(TParity::paNone);
    comm.SetDatabits(TDatabits::da8);
    comm.SetStopbits(TStopbits::sb10);
    comm.SetReadBufSize(10000);
    comm.SetWriteBufSize(10000);
    comm.SetReadTimeout(0);
    comm.SetWriteTimeout(0);
    comm.SetFlowControl(TFlowControl::fcNone);
}

termios KernelRecord(const TCustomComm& comm) {
    termios t{};
    EXPECT_EQ(tcgetattr(comm.Handle(), &t), 0);
    return t;
}

speed_t OutSpeed(const TCustomComm& comm) {
    const termios t = KernelRecord(comm);
    return cfgetospeed(&t);
}

template <typename F> void ExpectCommError(F f, const char* message, int code) {
    try {
        f();
        ADD_FAILURE() << "no ECommError, expected: " << message;
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), message);
        EXPECT_EQ(e.ErrorCode(), code);
    }
}

// A handler's read of the count it was given; what came is added to received.
int ReadInto(TCustomComm& sender, int count, std::string& received) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
    const int got = sender.Read(buffer.data(), count);
    received.append(buffer.begin(), buffer.begin() + std::max(got, 0));
    return got;
}

// Waits with no events served, so the owner's thread stays busy meanwhile.
int WaitForInQueue(TCustomComm& comm, int count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (comm.InQueCount() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
    }
    return comm.InQueCount();
}

class CommTest : public ::testing::Test {
protected:
    void SetUp() override { ConfigureLikeTheSerialConnection(m_comm, m_pty.Local()); }

    TPtyPair m_pty;
    TComm m_comm;
};

} // namespace

TEST(Comm, DefaultsBeforeOpen) {
    TComm comm;
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.Handle(), -1);
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ((std::array{comm.ReadTimeout(), comm.WriteTimeout(), comm.ReadBufSize(),
                          comm.WriteBufSize()}),
              (std::array{1000, 1000, 4096, 2048}));
    EXPECT_EQ(comm.MonitorEvents(), kAllCommEvents);
    EXPECT_EQ(comm.BaudRate(), TBaudrate::br9600);
    EXPECT_EQ(comm.Parity(), TParity::paNone);
    EXPECT_EQ(comm.Stopbits(), TStopbits::sb10);
    EXPECT_EQ(comm.Databits(), TDatabits::da8);
    EXPECT_TRUE(comm.Options().Empty());
    EXPECT_EQ(comm.FlowControl(), TFlowControl::fcDefault);
    const TCommEventChars& chars = comm.EventChars();
    EXPECT_EQ((std::array{chars.XonChar(), chars.XoffChar(), chars.ErrorChar(), chars.EofChar(),
                          chars.EvtChar()}),
              (std::array<std::uint8_t, 5>{17, 19, 0, 0, 0}));
    EXPECT_EQ(comm.InQueCount(), -1);
    comm.Close(); // closing a closed port does nothing
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommTest, OpenAppliesTheLineSettingsAndCloseReleasesTheDevice) {
    m_comm.Open();
    ASSERT_TRUE(m_comm.Enabled());
    const termios t = KernelRecord(m_comm);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    m_comm.Close();
    EXPECT_FALSE(m_comm.Enabled());
    EXPECT_EQ(m_comm.Handle(), -1);
    m_comm.Close();
    // The device can be opened again.
    m_comm.Open();
    EXPECT_TRUE(m_comm.Enabled());
}

TEST_F(CommTest, LineSettingsApplyAtOnceWhileOpenAndAreOnlyStoredWhileClosed) {
    m_comm.Open();
    m_comm.SetBaudRate(TBaudrate::br2400);
    EXPECT_EQ(OutSpeed(m_comm), static_cast<speed_t>(B2400));
    // (Recent kernels refuse parity and sizes other than 8 bits on a pseudo-terminal.)
    m_comm.SetStopbits(TStopbits::sb20);
    m_comm.SetOptions(TCommOptions{TCommOption::coParityCheck});
    termios t = KernelRecord(m_comm);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    m_comm.SetFlowControl(TFlowControl::fcSoftware);
    m_comm.EventChars().SetXonChar(0x11 + 1);
    t = KernelRecord(m_comm);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x12);
    m_comm.Close();

    // Closed: stored only (the device keeps its speed), then applied by the next Open.
    const int watcher = open(m_pty.Local().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(watcher, 0);
    m_comm.SetBaudRate(TBaudrate::br57600);
    EXPECT_EQ(m_comm.BaudRate(), TBaudrate::br57600);
    termios device{};
    EXPECT_EQ(tcgetattr(watcher, &device), 0);
    EXPECT_EQ(cfgetospeed(&device), static_cast<speed_t>(B2400));
    close(watcher);
    m_comm.Open();
    EXPECT_NE(m_comm.Handle(), -1);
    EXPECT_EQ(OutSpeed(m_comm), static_cast<speed_t>(B57600));
}

TEST_F(CommTest, ASpeedLinuxLacksIsRefusedWhileOpenAndFailsTheNextOpenLeavingThePortClosed) {
    m_comm.Open();
    ExpectCommError([&] { m_comm.SetBaudRate(TBaudrate::br14400); },
                    "Error updating DataControlBlock (Error: 22) ", EINVAL);
    EXPECT_EQ(OutSpeed(m_comm), static_cast<speed_t>(B19200));
    EXPECT_TRUE(m_comm.Enabled());
    m_comm.Close();
    // Kept, so the Open fails after the device was opened.
    EXPECT_EQ(m_comm.BaudRate(), TBaudrate::br14400);
    ExpectCommError([&] { m_comm.Open(); }, "Error updating DataControlBlock (Error: 22) ", EINVAL);
    EXPECT_FALSE(m_comm.Enabled());
    EXPECT_EQ(m_comm.Handle(), -1);
    // Nothing holds the line: another program may open it, and so may we.
    const int other = ::open(m_pty.Local().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(other, 0) << "the failed Open kept the line to itself";
    if (other >= 0) {
        ::close(other);
    }
    m_comm.SetBaudRate(TBaudrate::br19200);
    m_comm.Open();
    EXPECT_TRUE(m_comm.Enabled());
}

TEST_F(CommTest, OpenErrors) {
    m_comm.Open();
    const std::pair<const char*, std::function<void()>> refused[] = {
        {"Open", [&] { m_comm.Open(); }},
        {"SetDeviceName", [&] { m_comm.SetDeviceName("ttyS0"); }},
        {"SetMonitorEvents", [&] { m_comm.SetMonitorEvents(TCommEventTypes{}); }},
        {"SetReadBufSize", [&] { m_comm.SetReadBufSize(1); }},
        {"SetWriteBufSize", [&] { m_comm.SetWriteBufSize(1); }},
    };
    for (const auto& [name, call] : refused) {
        SCOPED_TRACE(name);
        ExpectCommError(call, "Port already assigned (open) (Error: -1) ", -1);
    }
    // Setting the value it already has is no change, so no error.
    m_comm.SetDeviceName(m_pty.Local());
    EXPECT_TRUE(m_comm.Enabled());
}

TEST(Comm, DevicesThatCannotBeUsed) {
    const std::string file = std::filesystem::temp_directory_path() / "telvora-not-a-port";
    std::ofstream(file) << "data";
    const struct {
        std::string device;
        const char* message;
        int code;
    } cases[] = {
        {"/dev/telvora-no-such-port", "Error accessing specified device (Error: 2) ", 2},
        {"telvora-no-such-port", "Error accessing specified device (Error: 2) ", 2}, // in /dev
        {"/dev/null", "Invalid device handle, access denied (Error: -1) ", -1},
        {file, "Invalid device handle, access denied (Error: -1) ", -1},
    };
    TComm comm;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        comm.SetDeviceName(c.device);
        ExpectCommError([&] { comm.Open(); }, c.message, c.code);
        EXPECT_FALSE(comm.Enabled());
    }
    std::filesystem::remove(file);

    std::uint8_t byte = 0;
    ExpectCommError([&] { comm.Read(&byte, 1); }, "Read error (Error: 9) ", EBADF);
    ExpectCommError([&] { comm.Write(&byte, 1); }, "Write error (Error: 9) ", EBADF);
}

TEST_F(CommTest, BytesTravelBothWays) {
    m_comm.Open();
    std::uint8_t buffer[300];
    EXPECT_EQ(m_comm.Read(buffer, sizeof buffer), 0); // nothing waiting: 0 at once

    std::vector<std::uint8_t> out(256);
    std::iota(out.begin(), out.end(), std::uint8_t{0});
    EXPECT_EQ(m_comm.Write(out.data(), static_cast<int>(out.size())), 256);
    std::vector<std::uint8_t> got(256);
    ASSERT_EQ(m_pty.ReadRemote(got.data(), got.size()), 256u);
    EXPECT_EQ(got, out);

    ASSERT_TRUE(m_pty.WriteRemote(out.data(), out.size()));
    std::vector<std::uint8_t> in;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (in.size() < 256 && std::chrono::steady_clock::now() < deadline) {
        const int n = m_comm.Read(buffer, sizeof buffer);
        ASSERT_GE(n, 0);
        in.insert(in.end(), buffer, buffer + n);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(in, out);
}

// With no events monitored nobody reads for us: the bytes stay in the queue.
TEST_F(CommTest, UnwatchedInputIsReadWithoutNullsOrPurged) {
    m_comm.SetOptions(TCommOptions{TCommOption::coNullStrip});
    m_comm.SetMonitorEvents(TCommEventTypes{});
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("\0a\0\0b\0", 6));
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_comm.InQueCount() == 6; }));
    std::uint8_t buffer[8] = {};
    ASSERT_EQ(m_comm.Read(buffer, sizeof buffer), 2);
    EXPECT_EQ(std::string(buffer, buffer + 2), "ab");

    ASSERT_TRUE(m_pty.WriteRemote("abc", 3));
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_comm.InQueCount() == 3; }));
    m_comm.PurgeIn();
    EXPECT_EQ(m_comm.InQueCount(), 0);
}

TEST_F(CommTest, AWriteThatCannotGoOutTimesOut) {
    m_comm.SetWriteTimeout(50);
    m_comm.Open();
    // Nobody reads the other end: the kernel's and socat's buffers fill up
    // until a write cannot put out a single byte within WriteTimeout.
    const std::vector<std::uint8_t> block(64 * 1024, 'x');
    int result = 0;
    for (int i = 0; i < 100 && result != -1; ++i) {
        result = m_comm.Write(block.data(), static_cast<int>(block.size()));
        EXPECT_NE(result, 0);
    }
    EXPECT_EQ(result, -1);
    // Nothing is left in flight: the port is usable and closes at once.
    m_comm.PurgeOut();
    m_comm.Close();
    EXPECT_FALSE(m_comm.Enabled());
}

TEST_F(CommTest, AReadTimesOutWhileAWriteHoldsThePortAndTheBytesAreReportedAgain) {
    m_comm.SetReadTimeout(0);
    m_comm.SetFlowControl(TFlowControl::fcSoftware);
    std::vector<int> results;
    std::string received;
    m_comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        results.push_back(ReadInto(sender, count, received));
    });
    m_comm.Open();
    // The other end says XOFF: the port may not send, and a write waits for it
    // with the port held. (Filling the output instead would also stop socat
    // from passing bytes the other way.)
    static constexpr std::uint8_t xoff = 19;
    static constexpr std::uint8_t xon = 17;
    ASSERT_TRUE(m_pty.WriteRemote(&xoff, 1));
    std::this_thread::sleep_for(50ms);
    m_comm.SetWriteTimeout(50);
    const std::uint8_t byte = 'w';
    EXPECT_EQ(m_comm.Write(&byte, 1), -1); // a write timeout

    m_comm.SetWriteTimeout(10000);
    std::atomic<bool> writing{true};
    std::atomic<int> writeResult{0};
    std::thread writer([&] {
        writeResult = m_comm.Write(&byte, 1);
        writing = false;
    });
    // Whatever fails below, XON lets the write end and the thread is joined.
    struct TRelease {
        TPtyPair& Pty;
        std::thread& Writer;
        ~TRelease() {
            Pty.WriteRemote(&xon, 1);
            Writer.join();
        }
    } release{m_pty, writer};

    std::uint8_t buffer[16];
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!timedOut && writing && std::chrono::steady_clock::now() < deadline) {
        timedOut = m_comm.Read(buffer, sizeof buffer) == -1;
    }
    EXPECT_TRUE(timedOut) << "no read timed out while the write was waiting";
    m_comm.SetReadTimeout(30);
    EXPECT_EQ(m_comm.Read(buffer, sizeof buffer), -1); // gives up once its time has passed
    m_comm.SetReadTimeout(0);

    // Bytes that arrive meanwhile: the handler's read times out too.
    ASSERT_TRUE(m_pty.WriteRemote("abc", 3));
    ProcessEventsUntil([&] { return !results.empty(); });
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.front(), -1);
    EXPECT_TRUE(writing) << "the write ended too early for this test";

    // XON: the write goes out and frees the port; the bytes are reported
    // again although no more arrived.
    ASSERT_TRUE(m_pty.WriteRemote(&xon, 1));
    EXPECT_TRUE(ProcessEventsUntil([&] { return !writing && received == "abc"; })) << received;
    ProcessEventsFor(50);
    EXPECT_EQ(received, "abc");
    EXPECT_EQ(writeResult.load(), 1);
    std::uint8_t out = 0;
    EXPECT_EQ(m_pty.ReadRemote(&out, 1), 1u);
    EXPECT_EQ(out, 'w');
}

TEST_F(CommTest, AHungUpLineFailsWritesWithTheSystemsCode) {
    m_comm.Open();
    m_pty.Hangup();
    const std::uint8_t byte = 'x';
    ExpectCommError([&] { m_comm.Write(&byte, 1); }, "Write error (Error: 5) ", EIO);
    m_comm.Close();
    EXPECT_FALSE(m_comm.Enabled());
}

TEST_F(CommTest, RxCharRunsOnTheOwnersThreadWithTheWaitingCount) {
    std::vector<int> counts;
    std::string received;
    bool onOwnerThread = true;
    m_comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        EXPECT_EQ(&sender, &m_comm);
        onOwnerThread = onOwnerThread && QThread::currentThread() == m_comm.thread();
        counts.push_back(count);
        EXPECT_EQ(ReadInto(sender, count, received), count);
    });
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("hello", 5));
    ASSERT_TRUE(ProcessEventsUntil([&] { return received.size() == 5; }));
    EXPECT_EQ(received, "hello");
    EXPECT_TRUE(onOwnerThread);
    for (int c : counts) {
        EXPECT_GT(c, 0);
    }
}

TEST_F(CommTest, ABurstIsReadInOneCall) {
    std::vector<int> counts;
    std::string received;
    m_comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        counts.push_back(count);
        EXPECT_EQ(ReadInto(sender, count, received), count);
    });
    m_comm.Open();
    const std::string burst(4000, 'b');
    ASSERT_TRUE(m_pty.WriteRemote(burst.data(), burst.size()));
    // The owner's thread is busy while the burst arrives.
    ASSERT_EQ(WaitForInQueue(m_comm, 4000), 4000);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !counts.empty(); }));
    ProcessEventsFor(50);
    EXPECT_EQ(counts, std::vector<int>{4000});
}

TEST_F(CommTest, RxCharIsNotFiredWhenTheQueueIsAlreadyEmpty) {
    int calls = 0;
    m_comm.SetOnRxChar([&](TCustomComm&, int) { ++calls; });
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("0123456789", 10));
    ASSERT_EQ(WaitForInQueue(m_comm, 10), 10);
    // The event is on its way to this thread; the bytes are read before it arrives.
    std::uint8_t buffer[10];
    ASSERT_EQ(m_comm.Read(buffer, 10), 10);
    ProcessEventsFor(100);
    EXPECT_EQ(calls, 0);
}

TEST_F(CommTest, CloseFromInsideTheHandlerAndFromAnotherThread) {
    int calls = 0;
    m_comm.SetOnRxChar([&](TCustomComm& sender, int) {
        ++calls;
        sender.Close();
    });
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("a", 1));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_comm.Enabled(); }));
    EXPECT_EQ(calls, 1);

    // Closed on another thread while an event waits for this (busy) thread.
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("b", 1));
    std::this_thread::sleep_for(50ms);
    std::thread closer([&] { m_comm.Close(); });
    closer.join();
    EXPECT_FALSE(m_comm.Enabled());
    ProcessEventsFor(50);
    EXPECT_EQ(calls, 1);
}

TEST_F(CommTest, RxFlagFollowsAReadOfTheEventCharacter) {
    std::string order;
    std::string received;
    m_comm.EventChars().SetEvtChar('\n');
    m_comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        order += 'c';
        ReadInto(sender, count, received);
    });
    m_comm.SetOnRxFlag([&](TCustomComm&) { order += 'f'; });
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("ab\ncd", 5));
    // The bytes may come in more than one event: OnRxFlag follows the read
    // that took the character, wherever that falls.
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return received.size() == 5 && order.find('f') != std::string::npos;
    })) << order
        << " " << received.size();
    ASSERT_TRUE(m_pty.WriteRemote("xyz", 3));
    ASSERT_TRUE(ProcessEventsUntil([&] { return received.size() == 8; }));
    ProcessEventsFor(50);
    EXPECT_EQ(received, "ab\ncdxyz");
    // Once per read that took the character, after the event that reported it.
    EXPECT_EQ(std::count(order.begin(), order.end(), 'f'), 1) << order;
    EXPECT_EQ(order.front(), 'c');
}

TEST_F(CommTest, TxEmptyFollowsAWrite) {
    int txEmpty = 0;
    m_comm.SetOnTxEmpty([&](TCustomComm&) { ++txEmpty; });
    m_comm.Open();
    const std::uint8_t byte = 'k';
    ASSERT_EQ(m_comm.Write(&byte, 1), 1);
    EXPECT_TRUE(ProcessEventsUntil([&] { return txEmpty > 0; }));
}

TEST_F(CommTest, AHangUpIsALineEventAFailureWithItsReasonAndAClosedPort) {
    std::vector<std::string> events;
    m_comm.SetOnRlsd([&](TCustomComm&) { events.push_back("rlsd"); });
    m_comm.SetOnFailure([&](TCustomComm&, const std::string& text) { events.push_back(text); });
    m_comm.Open();
    m_pty.Hangup(); // the USB adapter is pulled out
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_comm.Enabled(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"rlsd", "The line was hung up (Error: 5) "}));
}

TEST_F(CommTest, AFailingHandlerIsReportedAndTheEventsGoOn) {
    std::vector<std::string> failures;
    std::string received;
    int calls = 0;
    m_comm.SetOnFailure([&](TCustomComm&, const std::string& text) { failures.push_back(text); });
    m_comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        ReadInto(sender, count, received);
        if (++calls == 1) {
            throw std::runtime_error("FIFO is too full!");
        }
    });
    m_comm.Open();
    ASSERT_TRUE(m_pty.WriteRemote("a", 1));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !failures.empty(); }));
    EXPECT_EQ(failures, (std::vector<std::string>{"An event handler failed: FIFO is too full!"}));
    ASSERT_TRUE(m_pty.WriteRemote("b", 1));
    ASSERT_TRUE(ProcessEventsUntil([&] { return calls == 2; }));
    EXPECT_TRUE(m_comm.Enabled());
}
