#include "connection/wsocket.h"

#include "connection/socket_resolver.h"
#include "connection/winsock_errors.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kProtoUdp = 17;

bool ClosesConnection(int code) {
    return code == kWsaEInvalidArgument || code == kWsaENotSocket || code == kWsaEConnAborted ||
           code == kWsaEConnReset || code == kWsaENotConnected;
}

} // namespace

// ---------------------------------------------------------------- TWSocket

TWSocket::TWSocket(QObject* parent) : QObject(parent) {}

TWSocket::~TWSocket() {
    m_destroying = true;
    if (State() != wsClosed) {
        try {
            CloseSocket(false, true);
        } catch (...) {
            // A failing close must not escape a destructor.
        }
    }
    std::vector<int> handles;
    {
        std::lock_guard lock(m_mutex);
        handles.swap(m_retiredHandles);
        if (m_handle >= 0) {
            handles.push_back(m_handle);
        }
    }
    if (QThread::currentThread() == thread() || !m_readNotifier) {
        ReleaseNotifiers();
        for (int fd : handles) {
            ::close(fd);
        }
        return;
    }
    // Destroyed on another thread: the notifiers may only be stopped on their
    // own thread, and their handles must stay open until then.
    QSocketNotifier* notifiers[] = {m_readNotifier.release(), m_writeNotifier.release(),
                                    m_urgentNotifier.release()};
    QMetaObject::invokeMethod(
        notifiers[0],
        [notifiers, handles] {
            for (QSocketNotifier* notifier : notifiers) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            for (int fd : handles) {
                ::close(fd);
            }
        },
        Qt::QueuedConnection);
}

std::string TWSocket::Trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') {
        --last;
    }
    return text.substr(first, last - first);
}

void TWSocket::SetProperty(std::string& field, bool& assigned, const std::string& value,
                           const char* name) {
    const std::string trimmed = Trimmed(value);
    std::lock_guard lock(m_mutex);
    if (trimmed == field && assigned == !trimmed.empty()) {
        return;
    }
    if (State() != wsClosed) {
        throw ESocketException(std::string("Cannot change ") + name + " if not closed");
    }
    field = trimmed;
    assigned = !trimmed.empty();
}

std::string TWSocket::Addr() const {
    std::lock_guard lock(m_mutex);
    return m_addr;
}
void TWSocket::SetAddr(const std::string& addr) {
    SetProperty(m_addr, m_addrAssigned, addr, "Addr");
}
std::string TWSocket::Port() const {
    std::lock_guard lock(m_mutex);
    return m_port;
}
void TWSocket::SetPort(const std::string& port) {
    SetProperty(m_port, m_portAssigned, port, "Port");
}
std::string TWSocket::Proto() const {
    std::lock_guard lock(m_mutex);
    return m_proto;
}
void TWSocket::SetProto(const std::string& proto) {
    SetProperty(m_proto, m_protoAssigned, proto, "Proto");
}
std::string TWSocket::LocalAddr() const {
    std::lock_guard lock(m_mutex);
    return m_localAddr;
}
void TWSocket::SetLocalAddr(const std::string& addr) {
    std::lock_guard lock(m_mutex);
    m_localAddr = Trimmed(addr);
}
std::string TWSocket::LocalPort() const {
    std::lock_guard lock(m_mutex);
    return m_localPort;
}
void TWSocket::SetLocalPort(const std::string& port) {
    std::lock_guard lock(m_mutex);
    m_localPort = Trimmed(port);
}
TSocketLingerOnOff TWSocket::LingerOnOff() const {
    std::lock_guard lock(m_mutex);
    return m_lingerOnOff;
}
void TWSocket::SetLingerOnOff(TSocketLingerOnOff onOff) {
    std::lock_guard lock(m_mutex);
    m_lingerOnOff = onOff;
}
int TWSocket::LingerTimeout() const {
    std::lock_guard lock(m_mutex);
    return m_lingerTimeout;
}
void TWSocket::SetLingerTimeout(int seconds) {
    std::lock_guard lock(m_mutex);
    m_lingerTimeout = seconds;
}
int TWSocket::HSocket() const {
    std::lock_guard lock(m_mutex);
    return m_handle;
}
bool TWSocket::AllSent() const {
    std::lock_guard lock(m_mutex);
    return m_allSent;
}
std::vector<int> TWSocket::QueuedChunks() const {
    std::lock_guard lock(m_mutex);
    std::vector<int> sizes;
    for (const auto& chunk : m_sendQueue) {
        sizes.push_back(chunk.Peek().second);
    }
    return sizes;
}
std::uint64_t TWSocket::Generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

// ---------------------------------------------------------------- errors

void TWSocket::RaiseSocketError(int code, const std::string& function) {
    // A reset or vanished connection is over: close it before reporting.
    if (code == kWsaEConnReset || code == kWsaENotConnected) {
        CloseAfterError(code);
    }
    m_lastError = code;
    throw ESocketException(WinsockErrorMessage(code, function));
}

void TWSocket::CloseAfterError(int code) {
    bool fire = false;
    {
        std::lock_guard lock(m_mutex);
        fire = State() != wsClosed && !m_closeReported && !m_destroying;
        m_closeReported = true;
    }
    CloseSocket(false, false);
    if (fire) {
        Fire(m_onSessionClosed, code);
    }
}

// ---------------------------------------------------------------- connect

TWSocket::Resolved TWSocket::ResolveAll() {
    std::string addr, port, proto, localAddr, localPort;
    {
        std::lock_guard lock(m_mutex);
        if (m_handle >= 0 && State() != wsClosed) {
            throw ESocketException("Connect: Socket already in use");
        }
        if (!m_portAssigned) {
            throw ESocketException("Connect: No Port Specified");
        }
        if (!m_addrAssigned) {
            throw ESocketException("Connect: No IP Address Specified");
        }
        if (!m_protoAssigned) {
            throw ESocketException("Connect: No Protocol Specified");
        }
        addr = m_addr;
        port = m_port;
        proto = m_proto;
        localAddr = m_localAddr;
        localPort = m_localPort;
    }
    Resolved where;
    try {
        where.proto = WSocketResolveProto(proto);
        where.sockType = where.proto == kProtoUdp ? SOCK_DGRAM : SOCK_STREAM;
        where.port = WSocketResolvePort(port, proto);
        where.localPort = WSocketResolvePort(localPort, proto);
        where.localAddr =
            localAddr == "0.0.0.0" ? htonl(INADDR_ANY) : WSocketResolveHost(localAddr);
        where.addr = WSocketResolveHost(addr);
    } catch (const ESocketException& e) {
        throw ESocketException(std::string("connect: ") + e.what());
    }
    return where;
}

void TWSocket::SetSocketOptions(int fd, int sockType) {
    if (sockType != SOCK_STREAM) {
        return;
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        RaiseSocketError(WinsockErrorFromErrno(errno), "setsockopt(SO_REUSEADDR)");
    }
    if ((ComponentOptions() & wsoTcpNoDelay) != 0 &&
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        RaiseSocketError(WinsockErrorFromErrno(errno), "setsockopt(TCP_NODELAY)");
    }
    const TSocketLingerOnOff onOff = LingerOnOff();
    if (onOff != wsLingerNoSet) {
        // Linger on with 0 seconds: the final close resets the connection.
        linger setting{};
        setting.l_onoff = onOff == wsLingerOn ? 1 : 0;
        setting.l_linger = LingerTimeout();
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &setting, sizeof setting) != 0) {
            RaiseSocketError(WinsockErrorFromErrno(errno), "setsockopt(SO_LINGER)");
        }
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
        RaiseSocketError(WinsockErrorFromErrno(errno), "setsockopt(SO_KEEPALIVE)");
    }
}

void TWSocket::BindLocal(int fd, const Resolved& where) {
    if (where.localPort == 0 && where.localAddr == htonl(INADDR_ANY)) {
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = where.localAddr;
    local.sin_port = where.localPort;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int code = WinsockErrorFromErrno(errno);
        m_lastError = code;
        throw ESocketException("winsock.bind failed, error #" + std::to_string(code));
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        const int code = WinsockErrorFromErrno(errno);
        m_lastError = code;
        throw ESocketException("winsock.getsockname failed, error #" + std::to_string(code));
    }
    std::lock_guard lock(m_mutex);
    m_localPort = std::to_string(ntohs(local.sin_port));
}

void TWSocket::Connect() {
    const Resolved where = ResolveAll();

    const int fd = ::socket(AF_INET, where.sockType | SOCK_NONBLOCK | SOCK_CLOEXEC, where.proto);
    if (fd < 0) {
        RaiseSocketError(WinsockErrorFromErrno(errno), "Connect (socket)");
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        m_sendQueue.clear();
        m_allSent = true;
        m_closeReported = false;
        m_pendingReceiveError = 0;
        m_handle = fd;
        generation = ++m_generation;
        m_state = wsOpened;
    }
    SetSocketOptions(fd, where.sockType);
    BindLocal(fd, where);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = where.addr;
    peer.sin_port = where.port;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS) {
        const int code = WinsockErrorFromErrno(errno);
        m_lastError = code;
        throw ESocketException(WinsockErrorMessage(code, "Connect"));
    }
    m_state = wsConnecting;
    // Armed only now: the first write notice must find the connect under way.
    RunOnOwner([this, generation] { ArmNotifiers(generation); });
}

// ---------------------------------------------------------------- send and receive

int TWSocket::Send(const void* data, int count) {
    if (State() != wsConnected) {
        if (State() != wsClosed) {
            CloseAfterError(kWsaENotConnected);
        }
        m_lastError = kWsaENotConnected;
        throw ESocketException(WinsockErrorMessage(kWsaENotConnected, "Send"));
    }
    if (count <= 0) {
        return 0;
    }
    SendResult result = SendResult::Drained;
    int error = 0;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        m_allSent = false;
        auto bytes = static_cast<const std::uint8_t*>(data);
        int left = count;
        if (!m_sendQueue.empty()) {
            const int written = m_sendQueue.back().Write(bytes, left);
            bytes += written;
            left -= written;
        }
        while (left > 0) {
            m_sendQueue.emplace_back(kSendChunkSize);
            const int written = m_sendQueue.back().Write(bytes, left);
            bytes += written;
            left -= written;
        }
        result = TryToSendLocked(error);
        generation = m_generation;
    }
    HandleSendResult(result, error);
    if (result == SendResult::Pending) {
        RunOnOwner([this, generation] { EnableWriteNotice(generation); });
    }
    return count;
}

TWSocket::SendResult TWSocket::TryToSendLocked(int& error) {
    if (m_handle < 0) {
        return SendResult::Pending;
    }
    while (!m_sendQueue.empty()) {
        auto [bytes, length] = m_sendQueue.front().Peek();
        if (length == 0) {
            if (m_sendQueue.size() > 1) {
                m_sendQueue.pop_front();
                continue;
            }
            break;
        }
        const ssize_t sent =
            ::send(m_handle, bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = WinsockErrorFromErrno(errno);
            return error == kWsaEWouldBlock ? SendResult::Pending : SendResult::Failed;
        }
        m_sendQueue.front().Remove(static_cast<int>(sent));
        if (sent < length) {
            return SendResult::Pending;
        }
    }
    m_allSent = true;
    return SendResult::Drained;
}

void TWSocket::HandleSendResult(SendResult result, int error) {
    if (result != SendResult::Failed) {
        return;
    }
    if (ClosesConnection(error)) {
        CloseAfterError(error);
        return;
    }
    m_lastError = error;
    throw ESocketException(WinsockErrorMessage(error, "TryToSend failed"));
}

int TWSocket::Receive(void* buffer, int size) {
    const int fd = HSocket();
    if (fd < 0) {
        m_lastError = kWsaENotSocket;
        return -1;
    }
    if (size <= 0) {
        return 0;
    }
    if (const int pending = m_pendingReceiveError.exchange(0); pending != 0) {
        m_lastError = pending;
        return -1;
    }
    ssize_t got = 0;
    do {
        got = ::recv(fd, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        m_lastError = WinsockErrorFromErrno(errno);
        return -1;
    }
    m_readCount += got;
    return static_cast<int>(got);
}

// ---------------------------------------------------------------- close

void TWSocket::Close() {
    CloseSocket(true, true);
}

void TWSocket::Abort() {
    {
        std::lock_guard lock(m_mutex);
        m_sendQueue.clear();
        m_allSent = true;
        if (m_handle >= 0 && State() == wsConnected) {
            // Linger off: the close must not wait for or reset anything further.
            linger setting{};
            ::setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &setting, sizeof setting);
        }
    }
    CloseSocket(true, false);
}

void TWSocket::CloseSocket(bool report, bool shutdownFirst) {
    bool fire = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_handle < 0) {
            m_state = wsClosed;
            ResetDefaultsLocked();
            return;
        }
        if (State() == wsClosed) {
            return;
        }
        if (shutdownFirst) {
            ::shutdown(m_handle, SHUT_WR);
        }
        RetireHandleLocked();
        m_state = wsClosed;
        fire = report && !m_closeReported && !m_destroying;
        // Defaults first: a handler may well connect again at once.
        ResetDefaultsLocked();
    }
    RunOnOwner([this] { ReleaseNotifiers(); });
    if (fire) {
        Fire(m_onSessionClosed, 0);
    }
}

void TWSocket::RetireHandleLocked() {
    m_retiredHandles.push_back(m_handle);
    m_handle = -1;
    ++m_generation;
}

void TWSocket::ResetDefaultsLocked() {
    m_addr.clear();
    m_addrAssigned = false;
    m_port.clear();
    m_portAssigned = false;
    m_proto = "tcp";
    m_protoAssigned = true;
    m_localAddr = "0.0.0.0";
    m_localPort = "0";
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    m_sendQueue.clear();
    m_allSent = true;
    m_closeReported = false;
    m_readCount = 0;
}

// ---------------------------------------------------------------- notifiers (owning thread)

void TWSocket::RunOnOwner(std::function<void()> step) {
    if (QThread::currentThread() == thread()) {
        step();
    } else {
        QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
    }
}

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

// ---------------------------------------------------------------- dispatch (owning thread)

// Every notice runs guarded: whatever an event handler throws ends the
// connection instead of escaping into the event loop.
void TWSocket::Dispatch(std::uint64_t generation, void (TWSocket::*notice)()) {
    if (generation != Generation()) {
        return; // a notice for a handle that is already gone
    }
    try {
        (this->*notice)();
    } catch (...) {
        try {
            Abort();
        } catch (...) {
            // The connection is closed as far as it can be; nothing else to do.
        }
    }
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
    const int error = soError == 0 ? 0 : WinsockErrorFromErrno(soError);
    m_state = wsConnected;
    if (error == 0 && m_readNotifier) {
        m_readNotifier->setEnabled(true);
        std::lock_guard lock(m_mutex);
        m_writeNotifier->setEnabled(!m_sendQueue.empty());
    }
    Fire(m_onSessionConnected, error);
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
        Fire(m_onSessionClosed, error);
    }
    if (State() != wsClosed) {
        Close();
    }
}

void TWSocket::ReceiveLoop(bool loop) {
    m_lastError = 0;
    for (int pass = 0; pass < kMaxReceivePasses; ++pass) {
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
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
            return;
        }
    }
}

void TWSocket::Fire(const SessionEvent& event, int error) {
    if (event) {
        event(*this, error);
    }
}
