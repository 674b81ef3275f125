#include "connection/serial/comm_event_thread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "common/posix_io.h"
#include "connection/serial/line_state.h"
#include "connection/serial/line_waiter.h"

namespace {

constexpr std::uint32_t Bit(TCommEventType e) {
    return static_cast<std::uint32_t>(e);
}

constexpr std::uint32_t kLineEventBits =
    Bit(TCommEventType::evCts) | Bit(TCommEventType::evDsr) | Bit(TCommEventType::evRing) |
    Bit(TCommEventType::evRlsd) | Bit(TCommEventType::evBreak) | Bit(TCommEventType::evError);

int BytesWaiting(int fd) {
    return std::max(telvora::BytesWaiting(fd), 0);
}

} // namespace

TCommEventThread::TCommEventThread(int fd, TCommEventTypes events, TCallback callback)
    : m_fd(fd), m_wanted(events.Mask()), m_callback(std::move(callback)) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    m_thread = std::thread([this] { Execute(); });
}

TCommEventThread::~TCommEventThread() {
    Terminate();
    close(m_wakeFd);
}

void TCommEventThread::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
}

void TCommEventThread::NotifyWrite() {
    if ((m_wanted & Bit(TCommEventType::evTxEmpty)) == 0) {
        return;
    }
    m_writePending.store(true);
    Wake();
}

void TCommEventThread::NotifyRxFlag() {
    if ((m_wanted & Bit(TCommEventType::evRxFlag)) == 0) {
        return;
    }
    m_rxFlagPending.store(true);
    Wake();
}

void TCommEventThread::Terminate() {
    m_terminate.store(true);
    Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TCommEventThread::Execute() {
    const bool wantRx = (m_wanted & Bit(TCommEventType::evRxChar)) != 0;
    TLineSnapshot lines = ReadLineSnapshot(m_fd);
    const bool watchLines =
        (m_wanted & kLineEventBits) != 0 && (lines.HasCounters || lines.HasLines);
    std::unique_ptr<TLineWaiter> lineWaiter;
    if (watchLines && lines.HasCounters) {
        lineWaiter =
            std::make_unique<TLineWaiter>(TLineWaiter::ModemLineWait(m_fd), [this] { Wake(); });
    }
    // Bytes still waiting after the last report. While some are left unread the
    // port stays readable, so the thread looks at the count on the timer instead
    // and reports again when more have arrived or when someone has read.
    int reported = 0;
    bool hungUp = false;
    bool hangUpReported = false;
    bool backOff = false;
    bool txPending = false;
    while (!m_terminate.load()) {
        const bool readSinceReport = m_readSinceReport.load();
        const bool watchFd = wantRx && reported == 0 && !hungUp && !backOff;
        pollfd fds[2] = {{watchFd ? m_fd : -1, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int timeoutMs = -1;
        if (watchLines) {
            timeoutMs =
                lineWaiter && lineWaiter->Supported() ? kLineSafetyPollMs : kLinePollIntervalMs;
        }
        if ((wantRx && !watchFd) || txPending) {
            timeoutMs = kLinePollIntervalMs;
        }
        if (wantRx && reported > 0 && readSinceReport) {
            timeoutMs = 0;
        }
        const int ready = poll(fds, 2, timeoutMs);
        if (m_terminate.load()) {
            break;
        }
        backOff = false;
        std::uint32_t mask = 0;
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            std::uint64_t value = 0;
            [[maybe_unused]] const auto got = read(m_wakeFd, &value, sizeof value);
            if (m_writePending.exchange(false)) {
                txPending = true;
            }
        }
        if (wantRx) {
            const bool consumed = m_readSinceReport.exchange(false);
            const bool retry = m_readTimedOut.exchange(false);
            const int waiting = BytesWaiting(m_fd);
            if (watchFd && fds[0].revents != 0 && waiting == 0) {
                // A hung-up line (the other end of a pseudo-terminal closed, a
                // USB adapter pulled) stays "ready" for good: stop polling it.
                if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                    hungUp = true;
                } else {
                    backOff = true;
                }
            }
            if (waiting > 0 && (waiting > reported || consumed || retry)) {
                mask |= Bit(TCommEventType::evRxChar);
            }
            reported = std::min(reported, waiting);
        }
        if (watchLines) {
            const TLineSnapshot now = ReadLineSnapshot(m_fd);
            mask |= LineEvents(lines, now);
            lines = now;
        }
        if (m_rxFlagPending.exchange(false)) {
            mask |= Bit(TCommEventType::evRxFlag);
        }
        if (txPending && telvora::BytesToSend(m_fd) == 0) {
            txPending = false;
            mask |= Bit(TCommEventType::evTxEmpty);
        }
        mask &= m_wanted;
        if (hungUp && !hangUpReported) {
            hangUpReported = true;
            mask |= kHangUp | (m_wanted & Bit(TCommEventType::evRlsd));
        }
        if (mask == 0) {
            continue;
        }
        try {
            m_callback(mask);
        } catch (...) {
            // A failing handler must not end the port's event reporting.
        }
        // Only an event that reported received bytes covers them: bytes that
        // came during another event (a write finished, a line changed) have
        // not been reported yet.
        if ((mask & Bit(TCommEventType::evRxChar)) != 0) {
            reported = BytesWaiting(m_fd);
        }
    }
    // The waiter uses the port too; it ends before the queues are purged.
    lineWaiter.reset();
    DrainAndPurge();
}

void TCommEventThread::DrainAndPurge() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseDrainTimeoutMs);
    while (telvora::BytesToSend(m_fd) > 0 && std::chrono::steady_clock::now() < deadline) {
        poll(nullptr, 0, kLinePollIntervalMs);
    }
    tcflush(m_fd, TCIOFLUSH);
}
