#include "connection/serial/line_waiter.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <memory>

#include <linux/serial.h>
#include <pthread.h>
#include <sys/ioctl.h>

namespace {

// A realtime signal: nothing else in the program uses it, and a thread-directed
// realtime signal is never lost to another thread.
int StopSignal() {
    return SIGRTMIN + 4;
}

void IgnoreStopSignal(int) {}

// Installs the empty handler once; refuses when someone else owns the signal.
bool InstallStopHandler() {
    struct sigaction current {};
    if (sigaction(StopSignal(), nullptr, &current) != 0) {
        return false;
    }
    if (current.sa_handler == IgnoreStopSignal) {
        return true;
    }
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = IgnoreStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the interrupted wait returns EINTR
    return sigaction(StopSignal(), &action, nullptr) == 0;
}

bool SameCounts(const serial_icounter_struct& a, const serial_icounter_struct& b) {
    return a.cts == b.cts && a.dsr == b.dsr && a.rng == b.rng && a.dcd == b.dcd;
}

} // namespace

bool TLineWaiter::CanInterrupt() {
    static const bool installed = InstallStopHandler();
    return installed;
}

TLineWaiter::TLineWaiter(TWait wait, TChanged changed)
    : m_wait(std::move(wait)), m_changed(std::move(changed)) {
    if (!CanInterrupt()) {
        m_supported.store(false);
        m_exited = true;
        return;
    }
    m_thread = std::thread([this] { Execute(); });
}

TLineWaiter::~TLineWaiter() {
    Stop();
}

void TLineWaiter::Execute() {
    sigset_t stopSignal;
    sigemptyset(&stopSignal);
    sigaddset(&stopSignal, StopSignal());
    pthread_sigmask(SIG_UNBLOCK, &stopSignal, nullptr);
    while (!m_stop.load()) {
        const int result = m_wait();
        const int error = errno;
        if (m_stop.load()) {
            break;
        }
        if (result == 0) {
            m_changed();
        } else if (error != EINTR) {
            m_supported.store(false);
            m_changed();
            break;
        }
    }
    std::lock_guard lock(m_mutex);
    m_exited = true;
    m_exitedEvent.notify_all();
}

void TLineWaiter::Stop() {
    m_stop.store(true);
    if (!m_thread.joinable()) {
        return;
    }
    std::unique_lock lock(m_mutex);
    while (!m_exited) {
        pthread_kill(m_thread.native_handle(), StopSignal());
        m_exitedEvent.wait_for(lock, std::chrono::milliseconds(kStopRetryMs));
    }
    lock.unlock();
    m_thread.join();
}

TLineWaiter::TWait TLineWaiter::ModemLineWait(int fd) {
    auto last = std::make_shared<serial_icounter_struct>();
    auto haveLast = std::make_shared<bool>(false);
    return [fd, last, haveLast]() -> int {
        serial_icounter_struct now{};
        if (ioctl(fd, TIOCGICOUNT, &now) == 0) {
            const bool changedMeanwhile = *haveLast && !SameCounts(now, *last);
            *last = now;
            *haveLast = true;
            if (changedMeanwhile) {
                return 0;
            }
        }
        const int result = ioctl(fd, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS);
        if (result == 0) {
            serial_icounter_struct after{};
            if (ioctl(fd, TIOCGICOUNT, &after) == 0) {
                *last = after;
            }
        }
        return result;
    };
}
