#pragma once

// A TCP relay on loopback between a client and a server that listens: it
// notes when each run of bytes passed and in which direction (a benchmark
// times one phase of a transfer the same way for every program it
// compares), and it can spoil the line now and then at planned places:
// flip, drop or repeat a byte, stall both ways for a while, or cut the line
// (both sides closed there). It can also hold each run of bytes for a
// fixed time before passing it on, as a long-distance line does.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace telvora::test {

class TTcpRelay {
public:
    using Clock = std::chrono::steady_clock;
    enum class Direction { FromClient, FromServer };
    struct TRun {
        Direction direction;
        Clock::time_point when;
        std::vector<std::uint8_t> bytes;
    };
    enum class Fault { Flip, Drop, Repeat, Stall, Cut };
    struct TFault {
        Direction direction;
        std::size_t offset; // of the byte in what that side sent
        Fault kind;
        std::chrono::milliseconds stall{0};
    };

    // How the relay treats what the client sends: as it comes, or as a
    // Telnet server that never negotiated binary does (255 255 is one 255,
    // and the NUL after a CR is dropped).
    enum class FromClient { AsItComes, TelnetStyle };

    // Listens on 127.0.0.1 (Port()); the first client is joined to the
    // server listening on serverPort. Everything ends after timeout. Each
    // direction's bytes are passed on `delay` after they came (none by
    // default); the relay's own buffer has no limit, so a delay adds
    // latency without narrowing the line.
    TTcpRelay(int serverPort, std::chrono::seconds timeout, std::vector<TFault> faults = {},
              FromClient fromClient = FromClient::AsItComes,
              std::chrono::milliseconds delay = std::chrono::milliseconds(0))
        : m_serverPort(serverPort), m_faults(std::move(faults)), m_fromClient(fromClient),
          m_delay(delay) {
        std::sort(m_faults.begin(), m_faults.end(),
                  [](const TFault& a, const TFault& b) { return a.offset < b.offset; });
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = Loopback(0);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_listener, 1);
        m_thread = std::thread([this, timeout] { Run(Clock::now() + timeout); });
    }
    ~TTcpRelay() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        close(m_listener);
    }
    TTcpRelay(const TTcpRelay&) = delete;
    TTcpRelay& operator=(const TTcpRelay&) = delete;

    int Port() const { return m_port; }

    // Waits until both sides have closed (or the timeout); then the runs.
    std::vector<TRun> Runs() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        std::lock_guard lock(m_mutex);
        return m_runs;
    }
    // The runs passed on so far, without waiting for the end.
    std::vector<TRun> RunsSoFar() {
        std::lock_guard lock(m_mutex);
        return m_runs;
    }
    // How many planned faults the line has seen so far.
    int FaultsDone() const { return m_faultsDone.load(); }

    // The time from the run that completes the opening (its bytes seen in
    // that order in the given direction, others between them allowed) to
    // the last run in that direction.
    static std::optional<double> PhaseSeconds(const std::vector<TRun>& runs, Direction direction,
                                              const std::vector<std::uint8_t>& opening) {
        std::size_t matched = 0;
        std::optional<Clock::time_point> begin;
        Clock::time_point end{};
        for (const TRun& run : runs) {
            if (run.direction != direction) {
                continue;
            }
            end = run.when;
            for (const std::uint8_t byte : run.bytes) {
                if (!begin && byte == opening[matched] && ++matched == opening.size()) {
                    begin = run.when;
                }
            }
        }
        if (!begin) {
            return std::nullopt;
        }
        return std::chrono::duration<double>(end - *begin).count();
    }

private:
    static sockaddr_in Loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    void Run(Clock::time_point deadline) {
        const int client = Accept(deadline);
        if (client < 0) {
            return;
        }
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(m_serverPort);
        if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const int on = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            Pump(client, server, deadline);
        }
        close(server);
        close(client);
    }

    int Accept(Clock::time_point deadline) {
        while (!m_stop && Clock::now() < deadline) {
            pollfd wait{m_listener, POLLIN, 0};
            if (poll(&wait, 1, 100) > 0) {
                return accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        return -1;
    }

    // Both ways until both sides have closed and what they sent is passed on.
    void Pump(int client, int server, Clock::time_point deadline) {
        struct TDue {
            Clock::time_point when;
            std::size_t first; // the offset of its first byte in what that side sent
            std::vector<std::uint8_t> bytes;
        };
        bool open[2] = {true, true};
        bool shut[2] = {false, false};
        bool gone[2] = {false, false}; // what that side sends has nowhere to go
        std::size_t passed[2] = {0, 0};
        std::deque<TDue> due[2];
        std::vector<std::uint8_t> buffer(65536);
        const auto pending = [&] { return !due[0].empty() || !due[1].empty(); };
        while ((open[0] || open[1] || pending()) && !m_stop && Clock::now() < deadline) {
            for (int side = 0; side < 2; ++side) {
                const int to = side == 0 ? server : client;
                const Direction direction =
                    side == 0 ? Direction::FromClient : Direction::FromServer;
                while (!due[side].empty() && due[side].front().when <= Clock::now()) {
                    const TForwarded forwarded =
                        Forward(direction, due[side].front().first,
                                std::move(due[side].front().bytes), to, deadline);
                    if (forwarded == TForwarded::Cut) {
                        return;
                    }
                    due[side].pop_front();
                    // The receiving side has gone: what else comes for it
                    // is dropped, and the other way still carries what its
                    // side sent before it went (a cancel, say).
                    if (forwarded == TForwarded::Failed) {
                        due[side].clear();
                        gone[side] = true;
                    }
                }
                // A side's end is passed on after the last of its bytes.
                if (!open[side] && due[side].empty() && !shut[side]) {
                    shutdown(to, SHUT_WR);
                    shut[side] = true;
                }
            }
            auto wait = std::chrono::milliseconds(100);
            for (const auto& queue : due) {
                if (!queue.empty()) {
                    wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                              queue.front().when - Clock::now()));
                }
            }
            pollfd waits[2] = {{open[0] ? client : -1, POLLIN, 0},
                               {open[1] ? server : -1, POLLIN, 0}};
            if (poll(waits, 2, static_cast<int>(std::max<std::int64_t>(0, wait.count()))) <= 0) {
                continue;
            }
            for (int side = 0; side < 2; ++side) {
                if (waits[side].revents == 0) {
                    continue;
                }
                const int from = side == 0 ? client : server;
                const ssize_t got = read(from, buffer.data(), buffer.size());
                if (got <= 0) {
                    open[side] = false;
                    continue;
                }
                const Direction direction =
                    side == 0 ? Direction::FromClient : Direction::FromServer;
                std::vector<std::uint8_t> bytes(buffer.begin(), buffer.begin() + got);
                if (direction == Direction::FromClient && m_fromClient == FromClient::TelnetStyle) {
                    bytes = Undoubled(bytes);
                }
                Note(direction, bytes);
                const std::size_t size = bytes.size();
                if (gone[side]) {
                    continue;
                }
                due[side].push_back({Clock::now() + m_delay, passed[side], std::move(bytes)});
                passed[side] += size;
            }
        }
    }

    // 255 255 becomes one 255 and CR NUL one CR, also when a run ends
    // between the two.
    std::vector<std::uint8_t> Undoubled(const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> single;
        single.reserve(bytes.size());
        for (const std::uint8_t byte : bytes) {
            const bool afterCr = m_afterCr;
            m_afterCr = false;
            if (byte == 0 && afterCr) {
                continue;
            }
            if (byte == 0xFF && !m_halfIac) {
                m_halfIac = true;
                continue;
            }
            m_afterCr = byte == 13 && !m_halfIac;
            m_halfIac = false;
            single.push_back(byte);
        }
        return single;
    }

    enum class TForwarded { Passed, Failed, Cut };
    // Sends bytes on, spoiled by the faults planned inside them.
    TForwarded Forward(Direction direction, std::size_t first, std::vector<std::uint8_t> bytes,
                       int to, Clock::time_point deadline) {
        std::size_t done = 0; // bytes of `bytes` already sent or dropped
        const std::size_t end = first + bytes.size();
        for (const TFault& fault : m_faults) {
            if (fault.direction != direction || fault.offset < first || fault.offset >= end) {
                continue;
            }
            const std::size_t at = fault.offset - first;
            if (!WriteAll(to, bytes.data() + done, at - done)) {
                return TForwarded::Failed;
            }
            done = at;
            ++m_faultsDone;
            switch (fault.kind) {
            case Fault::Flip:
                bytes[at] ^= 0x55;
                break;
            case Fault::Drop:
                done = at + 1;
                break;
            case Fault::Repeat:
                if (!WriteAll(to, bytes.data() + at, 1)) {
                    return TForwarded::Failed;
                }
                break;
            case Fault::Stall:
                std::this_thread::sleep_until(std::min(deadline, Clock::now() + fault.stall));
                break;
            case Fault::Cut:
                return TForwarded::Cut;
            }
        }
        return WriteAll(to, bytes.data() + done, bytes.size() - done) ? TForwarded::Passed
                                                                      : TForwarded::Failed;
    }

    static bool WriteAll(int to, const std::uint8_t* bytes, std::size_t count) {
        for (std::size_t sent = 0; sent < count;) {
            // A side that has gone must not end the test's process by SIGPIPE.
            const ssize_t wrote = send(to, bytes + sent, count - sent, MSG_NOSIGNAL);
            if (wrote <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    void Note(Direction direction, const std::vector<std::uint8_t>& bytes) {
        std::lock_guard lock(m_mutex);
        m_runs.push_back({direction, Clock::now(), bytes});
    }

    int m_serverPort;
    std::vector<TFault> m_faults;
    FromClient m_fromClient;
    std::chrono::milliseconds m_delay;
    bool m_halfIac = false; // a 255 from the client waits for its double
    bool m_afterCr = false; // a CR from the client may be followed by its NUL
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_faultsDone{0};
    std::mutex m_mutex;
    std::vector<TRun> m_runs;
    std::thread m_thread;
};

} // namespace telvora::test
