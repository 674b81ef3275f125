#include "connection/telnet/wsocket.h"

#include "common/posix_io.h"
#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/winsock_errors.h"

#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/tcp.h>
#include <poll.h>
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
    // Nothing may be queued for this object from now on.
    m_owner.ShutDown();
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
    telvora::PostToThreadOf(notifiers[0], [notifiers, handles] {
        for (QSocketNotifier* notifier : notifiers) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        for (int fd : handles) {
            ::close(fd);
        }
    });
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
        Fire(&TWSocket::m_onSessionClosed, code);
    }
}

// ---------------------------------------------------------------- connect

TWSocket::Resolved TWSocket::ResolveAll() {
    std::string addr, port, proto, localAddr, localPort;
    THostLookup hostLookup = nullptr;
    THostAddressLookup addressLookup = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if ((m_handle >= 0 && State() != wsClosed) || m_connectRunning) {
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
        hostLookup = m_hostLookup;
        addressLookup = m_addressLookup;
        m_connectRunning = true;
        m_connectCancelled = false;
    }
    Resolved where;
    try {
        where.proto = WSocketResolveProto(proto);
        where.sockType = where.proto == kProtoUdp ? SOCK_DGRAM : SOCK_STREAM;
        const std::uint16_t peerPort = WSocketResolvePort(port, proto);
        where.localPort = WSocketResolvePort(localPort, proto);
        if (localAddr != "0.0.0.0" && !ParseIPv6Address(localAddr, where.local)) {
            where.local = TSocketAddress::IPv4(WSocketResolveHost(localAddr));
        }
        // "::" asks for no particular address either, in whichever family.
        where.localAny =
            localAddr == "0.0.0.0" ||
            (where.local.Family() == AF_INET6 &&
             IN6_IS_ADDR_UNSPECIFIED(
                 &reinterpret_cast<const sockaddr_in6*>(&where.local.storage)->sin6_addr));
        where.peers = hostLookup != nullptr ? WSocketResolveHostAddresses(addr, hostLookup)
                                            : WSocketResolveHostAddresses(addr, addressLookup);
        for (TSocketAddress& peer : where.peers) {
            peer.SetPort(peerPort);
        }
    } catch (const ESocketException& e) {
        FinishConnect();
        throw ESocketException(std::string("connect: ") + e.what());
    } catch (...) {
        FinishConnect();
        throw;
    }
    return where;
}

void TWSocket::SetHostLookup(THostLookup lookup) {
    std::lock_guard lock(m_mutex);
    if (lookup == nullptr || lookup == SystemHostLookup) {
        m_hostLookup = nullptr;
        m_addressLookup = SystemHostAddressLookup;
    } else {
        m_hostLookup = lookup;
        m_addressLookup = nullptr;
    }
}

void TWSocket::SetHostLookup(THostAddressLookup lookup) {
    std::lock_guard lock(m_mutex);
    m_hostLookup = nullptr;
    m_addressLookup = lookup != nullptr ? lookup : SystemHostAddressLookup;
}

bool TWSocket::SetSocketOptionsLocked(int fd, Failure& failure) {
    if (m_attempt.sockType != SOCK_STREAM) {
        return true;
    }
    auto failed = [&failure](const char* function) {
        failure.code = WinsockErrorFromErrno(errno);
        failure.message = WinsockErrorMessage(failure.code, function);
        return false;
    };
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return failed("setsockopt(SO_REUSEADDR)");
    }
    if ((ComponentOptions() & wsoTcpNoDelay) != 0 &&
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        return failed("setsockopt(TCP_NODELAY)");
    }
    if (m_lingerOnOff != wsLingerNoSet) {
        // Linger on with 0 seconds: the final close resets the connection.
        linger setting{};
        setting.l_onoff = m_lingerOnOff == wsLingerOn ? 1 : 0;
        setting.l_linger = m_lingerTimeout;
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &setting, sizeof setting) != 0) {
            return failed("setsockopt(SO_LINGER)");
        }
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
        return failed("setsockopt(SO_KEEPALIVE)");
    }
    return true;
}

bool TWSocket::BindLocalLocked(int fd, int family, Failure& failure) {
    const Resolved& where = m_attempt;
    if (where.localPort == 0 && where.localAny) {
        return true;
    }
    TSocketAddress local = where.local;
    if (where.localAny) {
        local = family == AF_INET6 ? TSocketAddress::IPv6(in6addr_any)
                                   : TSocketAddress::IPv4(htonl(INADDR_ANY));
    }
    local.SetPort(where.localPort);
    // A local address of the other family cannot be bound to this socket.
    const int code = local.Family() != family                      ? kWsaEAfNoSupport
                     : ::bind(fd, local.Data(), local.length) != 0 ? WinsockErrorFromErrno(errno)
                                                                   : 0;
    if (code != 0) {
        failure.code = code;
        failure.message = "winsock.bind failed, error #" + std::to_string(code);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        failure.code = WinsockErrorFromErrno(errno);
        failure.message = "winsock.getsockname failed, error #" + std::to_string(failure.code);
        return false;
    }
    m_localPort = std::to_string(
        ntohs(TSocketAddress::From(reinterpret_cast<sockaddr*>(&bound), length).Port()));
    return true;
}

int TWSocket::StartAttemptLocked(const TSocketAddress& peer, Failure& failure) {
    const int fd =
        ::socket(peer.Family(), m_attempt.sockType | SOCK_NONBLOCK | SOCK_CLOEXEC, m_attempt.proto);
    if (fd < 0) {
        failure.code = WinsockErrorFromErrno(errno);
        failure.message = WinsockErrorMessage(failure.code, "Connect (socket)");
        return -1;
    }
    if (!SetSocketOptionsLocked(fd, failure) || !BindLocalLocked(fd, peer.Family(), failure)) {
        ::close(fd);
        return -1;
    }
    if (::connect(fd, peer.Data(), peer.length) != 0 && errno != EINPROGRESS) {
        failure.code = WinsockErrorFromErrno(errno);
        failure.message = WinsockErrorMessage(failure.code, "Connect");
        ::close(fd);
        return -1;
    }
    return fd;
}

void TWSocket::SetConnectTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(m_mutex);
    m_connectTimeout = timeout;
}

bool TWSocket::ConnectCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_connectCancelled;
}

void TWSocket::Connect() {
    // The attempt is known from its start, so that a Close() during the name
    // lookup (or at any later moment) can cancel it.
    Resolved where = ResolveAll();
    {
        std::lock_guard lock(m_mutex);
        where.peers = InterleaveFamilies(std::move(where.peers));
        m_attempt = std::move(where);
    }
    int pendingError = 0;
    int fd = -1;
    try {
        fd = RaceAttempts(pendingError);
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_connectRunning = false;
        m_attempt = Resolved{};
        m_state = wsClosed;
        throw;
    }
    std::uint64_t generation = 0;
    {
        // The handle is set up under the lock: a Close() sees either no
        // handle or one whose connect is over, never a state in between.
        std::lock_guard lock(m_mutex);
        m_connectRunning = false;
        if (m_connectCancelled || fd < 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            m_state = wsClosed;
            return;
        }
        m_sendQueue.clear();
        m_allSent = true;
        m_closeReported = false;
        m_handlerFailure.clear();
        m_pendingReceiveError = 0;
        m_pendingConnectError = pendingError;
        m_handle = fd;
        generation = ++m_generation;
        m_state = wsConnecting;
    }
    // Armed only now: the first write notice must find the connect under way.
    // A failure is told at once: its handle may never become writable.
    m_owner.RunOrPost([this, generation, failed = pendingError != 0] {
        ArmNotifiers(generation);
        if (failed) {
            ConnectNotice();
        }
    });
}

int TWSocket::RaceAttempts(int& pendingError) {
    using Clock = std::chrono::steady_clock;
    // How often a race with nothing to do looks whether a Close() cancelled it.
    constexpr auto kCancelLook = std::chrono::milliseconds(20);
    std::vector<TSocketAddress> peers;
    Clock::time_point giveUp;
    {
        std::lock_guard lock(m_mutex);
        peers = m_attempt.peers;
        giveUp = Clock::now() + m_connectTimeout;
    }
    std::vector<pollfd> racing;
    int lastFailed = -1; // the last handle whose connect failed, kept to report it
    const auto closeAllBut = [&](int kept) {
        for (const pollfd& attempt : racing) {
            if (attempt.fd != kept) {
                ::close(attempt.fd);
            }
        }
        racing.clear();
        if (lastFailed >= 0 && lastFailed != kept) {
            ::close(lastFailed);
        }
        lastFailed = -1;
    };
    Failure last;
    std::size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    for (;;) {
        if (ConnectCancelled()) {
            closeAllBut(-1);
            return -1;
        }
        const Clock::time_point now = Clock::now();
        if (next < peers.size() && (racing.empty() || now >= nextStart)) {
            if (m_onTrying) {
                m_onTrying(peers[next].Text());
            }
            Failure failure;
            int fd = -1;
            {
                std::lock_guard lock(m_mutex);
                fd = StartAttemptLocked(peers[next], failure);
            }
            ++next;
            nextStart = now + kAttemptDelay;
            if (fd >= 0) {
                racing.push_back({fd, POLLOUT, 0});
            } else {
                last = failure;
            }
            continue;
        }
        if (racing.empty()) {
            if (lastFailed >= 0) {
                pendingError = last.code;
                return lastFailed;
            }
            m_lastError = last.code;
            throw ESocketException(last.message);
        }
        if (now >= giveUp) {
            // The first attempt stays to report the timeout; the rest go.
            const int kept = racing.front().fd;
            closeAllBut(kept);
            pendingError = kWsaTimedOut;
            return kept;
        }
        Clock::time_point wake = std::min(giveUp, now + kCancelLook);
        if (next < peers.size()) {
            wake = std::min(wake, nextStart);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
        if (::poll(racing.data(), racing.size(), static_cast<int>(wait.count())) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < racing.size();) {
            if (racing[i].revents == 0) {
                ++i;
                continue;
            }
            int soError = 0;
            socklen_t length = sizeof soError;
            const int fd = racing[i].fd;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
                soError = errno;
            }
            if (soError == 0) {
                closeAllBut(fd);
                return fd;
            }
            // A refusal (or an unreachable address) starts the next at once.
            last.code = WinsockErrorFromErrno(soError);
            last.message = WinsockErrorMessage(last.code, "Connect");
            if (lastFailed >= 0) {
                ::close(lastFailed);
            }
            lastFailed = fd;
            racing.erase(racing.begin() + static_cast<std::ptrdiff_t>(i));
            nextStart = Clock::now();
        }
    }
}

void TWSocket::FinishConnect() {
    std::lock_guard lock(m_mutex);
    m_connectRunning = false;
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
        m_owner.RunOrPost([this, generation] { EnableWriteNotice(generation); });
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
    AbortWith(0);
}

void TWSocket::AbortWith(int error) {
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
    CloseSocket(true, false, error);
}

void TWSocket::CloseSocket(bool report, bool shutdownFirst, int error) {
    bool fire = false;
    {
        std::lock_guard lock(m_mutex);
        // A Connect under way on another thread ends without connecting.
        m_connectCancelled = m_connectRunning;
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
    m_owner.RunOrPost([this] { ReleaseNotifiers(); });
    if (fire) {
        Fire(&TWSocket::m_onSessionClosed, error);
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
    m_attempt = Resolved{};
}
