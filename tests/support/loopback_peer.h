#pragma once

// A TCP peer on 127.0.0.1 for socket tests: it listens on a free port and
// accepts one connection; the test drives it from its own thread with
// blocking calls that all have timeouts.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A loopback port that is bound but never listens: a connect to it is
// refused, and no other process can take the port while the object lives.
class RefusingPort {
public:
    RefusingPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            throw std::runtime_error("cannot reserve a loopback port");
        }
        m_port = ntohs(addr.sin_port);
    }
    ~RefusingPort() { ::close(m_fd); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A loopback port that listens but never answers a connect: its accept
// queue is full and nobody accepts, so the kernel drops every new SYN, as a
// dead host's address would. On ::1 or 127.0.0.1; port 0 for any free one.
class SilentPort {
public:
    SilentPort(int family, int port) {
        m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            return;
        }
        const int on = 1;
        if (family == AF_INET6) {
            ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        }
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto& six = reinterpret_cast<sockaddr_in6&>(address);
            six.sin6_family = AF_INET6;
            six.sin6_addr = in6addr_loopback;
            six.sin6_port = htons(static_cast<std::uint16_t>(port));
            length = sizeof six;
        } else {
            auto& four = reinterpret_cast<sockaddr_in&>(address);
            four.sin_family = AF_INET;
            four.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            four.sin_port = htons(static_cast<std::uint16_t>(port));
            length = sizeof four;
        }
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 0) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            Release();
            return;
        }
        m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                          : reinterpret_cast<sockaddr_in&>(address).sin_port);
        // Fills the queue: connects until one is left unanswered.
        for (int i = 0; i < 8; ++i) {
            const int client = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            m_fillers.push_back(client);
            if (::connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0) {
                continue;
            }
            pollfd wait{client, POLLOUT, 0};
            if (errno == EINPROGRESS && ::poll(&wait, 1, 300) == 0) {
                return; // this one hangs: so will every later one
            }
        }
        Release();
    }
    ~SilentPort() { Release(); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    bool Ok() const { return m_fd >= 0; }
    int Port() const { return m_port; }

private:
    void Release() {
        for (const int client : m_fillers) {
            ::close(client);
        }
        m_fillers.clear();
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }

    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

class LoopbackPeer {
public:
    static constexpr int kTimeoutMs = 5000;

    // receiveBuffer > 0 shrinks the accepted socket's receive window, so a
    // sender fills it quickly when nobody reads.
    explicit LoopbackPeer(int receiveBuffer = 0) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (receiveBuffer > 0) {
            ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 4) != 0) {
            throw std::runtime_error("loopback peer cannot listen");
        }
        socklen_t length = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
    }
    ~LoopbackPeer() {
        CloseConnection();
        ::close(m_listen);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }

    // A port on which nobody listens (bound once, then released).
    static int FreePort() {
        LoopbackPeer probe;
        return probe.Port();
    }

    bool Accept(int timeoutMs = kTimeoutMs) {
        if (!WaitFor(m_listen, POLLIN, timeoutMs)) {
            return false;
        }
        m_conn = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_conn >= 0;
    }

    void SendAll(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (!WaitFor(m_conn, POLLOUT, kTimeoutMs)) {
                throw std::runtime_error("loopback peer: send timed out");
            }
            const ssize_t n =
                ::send(m_conn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0) {
                throw std::runtime_error("loopback peer: send failed");
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void SendText(const std::string& text) {
        SendAll(std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    // Reads until count bytes have arrived, the peer closes or the timeout passes.
    std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs = kTimeoutMs) {
        std::vector<std::uint8_t> out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::uint8_t buffer[65536];
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !WaitFor(m_conn, POLLIN, static_cast<int>(left))) {
                break;
            }
            const std::size_t want = std::min(sizeof buffer, count - out.size());
            const ssize_t n = ::recv(m_conn, buffer, want, 0);
            if (n <= 0) {
                m_eof = true;
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    // True once the other side has closed (or reset) the connection.
    bool WaitForClose(int timeoutMs = kTimeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_eof && std::chrono::steady_clock::now() < deadline) {
            Read(1 << 20, 50);
        }
        return m_eof;
    }

    // Closes with a reset (linger on, 0 seconds) instead of an orderly close.
    void Reset() {
        if (m_conn >= 0) {
            linger setting{1, 0};
            ::setsockopt(m_conn, SOL_SOCKET, SO_LINGER, &setting, sizeof setting);
        }
        CloseConnection();
    }

    void CloseConnection() {
        if (m_conn >= 0) {
            ::close(m_conn);
            m_conn = -1;
        }
    }

private:
    static bool WaitFor(int fd, short events, int timeoutMs) {
        pollfd p{fd, events, 0};
        int rc = 0;
        do {
            rc = ::poll(&p, 1, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        return rc > 0;
    }

    int m_listen = -1;
    int m_conn = -1;
    int m_port = 0;
    bool m_eof = false;
};

// A peer on a thread of its own that sends the bytes to whoever connects
// (within timeoutMs), then hangs up, like a BBS's greeting or a whole page.
class SendingPeer {
public:
    explicit SendingPeer(std::vector<std::uint8_t> bytes, int timeoutMs = 30000)
        : m_thread([this, bytes = std::move(bytes), timeoutMs] {
              if (m_peer.Accept(timeoutMs)) {
                  m_peer.SendAll(bytes);
                  m_peer.CloseConnection();
              }
          }) {}
    ~SendingPeer() { m_thread.join(); }
    SendingPeer(const SendingPeer&) = delete;
    SendingPeer& operator=(const SendingPeer&) = delete;
    std::string PortText() const { return m_peer.PortText(); }

private:
    LoopbackPeer m_peer;
    std::thread m_thread;
};
