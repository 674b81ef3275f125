// TWSocket's side on its owning thread: the notifiers of the handle and the
// dispatch of their notices to the session events.
#include "connection/telnet/wsocket.h"

#include "common/posix_io.h"
#include "connection/telnet/winsock_errors.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

// ---------------------------------------------------------------- notifiers (owning thread)

void TWSocket::ArmNotifiers(std::uint64_t generation) {
    int fd = -1;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation || m_handle < 0) {
            return; // closed again before the owning thread got here
        }
        fd = m_handle;
    }
    ReleaseNotifiers();
    m_notifierGeneration = generation;
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_urgentNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Exception);
    // Reads wait for the connect outcome, which comes as the first write notice.
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this,
            [this, generation] { Dispatch(generation, &TWSocket::ReadNotice); });
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this,
            [this, generation] { Dispatch(generation, &TWSocket::WriteNotice); });
    connect(m_urgentNotifier.get(), &QSocketNotifier::activated, this,
            [this, generation] { Dispatch(generation, &TWSocket::UrgentNotice); });
}

void TWSocket::ReleaseNotifiers() {
    // Possibly called from inside a notifier's own signal: disable now, delete later.
    for (auto* notifier : {&m_readNotifier, &m_writeNotifier, &m_urgentNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            notifier->release()->deleteLater();
        }
    }
    std::vector<int> retired;
    {
        std::lock_guard lock(m_mutex);
        retired.swap(m_retiredHandles);
    }
    for (int fd : retired) {
        ::close(fd);
    }
}

void TWSocket::EnableWriteNotice(std::uint64_t generation) {
    if (generation == m_notifierGeneration && m_writeNotifier && State() == wsConnected) {
        m_writeNotifier->setEnabled(true);
    }
}

void TWSocket::SetReceivePaused(bool paused) {
    if (m_receivePaused.exchange(paused) == paused) {
        return;
    }
    const std::uint64_t generation = Generation();
    m_owner.RunOrPost([this, generation] { ApplyReceivePause(generation); });
}

void TWSocket::ApplyReceivePause(std::uint64_t generation) {
    if (generation == m_notifierGeneration && m_readNotifier && State() == wsConnected) {
        // Level-triggered: on resume the notifier fires at once for what waits.
        m_readNotifier->setEnabled(!m_receivePaused.load());
    }
}

// ---------------------------------------------------------------- dispatch (owning thread)

// Every notice runs guarded: whatever an event handler throws ends the
// connection instead of escaping into the event loop.
void TWSocket::Dispatch(std::uint64_t generation, void (TWSocket::*notice)()) {
    if (generation != Generation()) {
        return; // a notice for a handle that is already gone
    }
    try {
        (this->*notice)();
    } catch (const std::exception& failure) {
        AbortAfterHandlerFailure(failure.what());
    } catch (...) {
        AbortAfterHandlerFailure("an unknown failure");
    }
}

void TWSocket::AbortAfterHandlerFailure(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        m_handlerFailure = text;
    }
    try {
        AbortWith(kWsaEConnAborted);
    } catch (...) {
        // The connection is closed as far as it can be; nothing else to do.
    }
}

std::string TWSocket::HandlerFailure() const {
    std::lock_guard lock(m_mutex);
    return m_handlerFailure;
}

void TWSocket::WriteNotice() {
    if (State() == wsConnecting) {
        ConnectNotice();
        return;
    }
    if (State() != wsConnected) {
        return;
    }
    SendResult result = SendResult::Drained;
    int error = 0;
    {
        std::lock_guard lock(m_mutex);
        result = TryToSendLocked(error);
    }
    if (result == SendResult::Drained && m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
    }
    HandleSendResult(result, error);
}

void TWSocket::ConnectNotice() {
    int soError = 0;
    socklen_t length = sizeof soError;
    const int fd = HSocket();
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
        soError = errno;
    }
    int error = soError == 0 ? 0 : WinsockErrorFromErrno(soError);
    {
        // The race has read the handle's own error already.
        std::lock_guard lock(m_mutex);
        if (m_pendingConnectError != 0) {
            error = std::exchange(m_pendingConnectError, 0);
        }
    }
    // A Close() on another thread may have come first; then nothing is reported.
    TSocketState connecting = wsConnecting;
    if (!m_state.compare_exchange_strong(connecting, wsConnected)) {
        return;
    }
    if (error == 0 && m_readNotifier) {
        m_readNotifier->setEnabled(!m_receivePaused.load());
        std::lock_guard lock(m_mutex);
        m_writeNotifier->setEnabled(!m_sendQueue.empty());
    }
    Fire(&TWSocket::m_onSessionConnected, error);
    if (error != 0 && State() != wsClosed) {
        Close();
    }
}

void TWSocket::ReadNotice() {
    if (State() != wsConnected) {
        return;
    }
    const int fd = HSocket();
    char probe = 0;
    const ssize_t peeked = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        ReceiveLoop((ComponentOptions() & wsoNoReceiveLoop) == 0);
    } else if (peeked == 0) {
        CloseNotice(0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        const int error = WinsockErrorFromErrno(errno);
        m_pendingReceiveError = error;
        CloseNotice(error);
    }
}

void TWSocket::UrgentNotice() {
    // Urgent data has no meaning here; taking it out stops the notices.
    const int fd = HSocket();
    char urgent = 0;
    if (fd >= 0) {
        static_cast<void>(::recv(fd, &urgent, 1, MSG_OOB | MSG_DONTWAIT));
    }
}

void TWSocket::CloseNotice(int error) {
    if (State() == wsConnecting) {
        return;
    }
    // What arrived before the close is delivered first.
    ReceiveLoop(true);
    bool fire = false;
    {
        std::lock_guard lock(m_mutex);
        fire = !m_closeReported && !m_destroying;
        m_closeReported = true;
    }
    if (fire) {
        Fire(&TWSocket::m_onSessionClosed, error);
    }
    if (State() != wsClosed) {
        Close();
    }
}

void TWSocket::ReceiveLoop(bool loop) {
    m_lastError = 0;
    for (int pass = 0; pass < kMaxReceivePasses; ++pass) {
        if (m_receivePaused.load()) {
            return;
        }
        const std::int64_t before = ReadCount();
        if (m_onDataAvailable) {
            m_onDataAvailable(*this, 0);
        } else {
            char discard[kDiscardSize];
            Receive(discard, kDiscardSize);
        }
        const int fd = HSocket();
        // A handler that read nothing would be called forever.
        if (!loop || LastError() != 0 || fd < 0 || State() != wsConnected ||
            ReadCount() == before) {
            return;
        }
        if (telvora::BytesWaiting(fd) <= 0) {
            return;
        }
    }
}

void TWSocket::Fire(SessionEvent TWSocket::*event, int error) {
    m_owner.RunOrPost([this, event, error] {
        const SessionEvent& handler = this->*event;
        if (handler) {
            handler(*this, error);
        }
    });
}
