#pragma once

// A Hayes modem of the tests' own on the far end of a pty pair: it answers
// AT commands (echoing them), says BUSY for the number "BUSY" and for the
// first busyTimes calls of any other, and for a number HOST:PORT calls the
// loopback board there and carries bytes both ways until "+++" with a guard
// time of silence on each side returns it to command mode, ATH drops the
// call, or the board hangs up (NO CARRIER). Everything the modem received is
// kept, so that tests can check how commands ended.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace telvora::test {

class TTestModem {
    template <typename F> auto Locked(F f) const {
        std::lock_guard lock(m_mutex);
        return f();
    }

public:
    using Clock = std::chrono::steady_clock;
    // Well under the terminal's guard time of one second: a loaded machine
    // may read the bytes before and after a guard time late.
    static constexpr auto kGuard = std::chrono::milliseconds(500);

    TTestModem(int fd, int busyTimes = 0) : m_fd(fd), m_busyTimes(busyTimes) {
        m_thread = std::thread([this] { Run(); });
    }
    ~TTestModem() {
        m_stop = true;
        m_thread.join();
        DropCall();
    }
    TTestModem(const TTestModem&) = delete;
    TTestModem& operator=(const TTestModem&) = delete;

    // Everything received from the terminal, and the commands (without CR).
    std::string Received() const {
        return Locked([&] { return m_received; });
    }
    std::vector<std::string> Commands() const {
        return Locked([&] { return m_commands; });
    }
    bool Online() const { return m_board.load() >= 0 && !m_commandMode; }
    // Waits (up to timeoutMs) until the modem has had this command.
    bool WaitForCommand(const std::string& command, int timeoutMs = 5000) const {
        for (int waited = 0;; waited += 20) {
            const std::vector<std::string> commands = Commands();
            if (std::find(commands.begin(), commands.end(), command) != commands.end()) {
                return true;
            }
            if (waited >= timeoutMs) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

private:
    void Say(const std::string& text) { Write(m_fd, "\r\n" + text + "\r\n"); }
    static void Write(int fd, const std::string& bytes) {
        if (fd < 0) {
            return;
        }
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else {
                pollfd room{fd, POLLOUT, 0};
                if (::poll(&room, 1, 1000) <= 0) {
                    return;
                }
            }
        }
    }
    void DropCall() {
        const int board = m_board.exchange(-1);
        if (board >= 0) {
            ::close(board);
        }
        m_commandMode = true;
    }

    void Run() {
        while (!m_stop) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_board.load(), POLLIN, 0}};
            const int count = m_board.load() >= 0 && !m_commandMode ? 2 : 1;
            ::poll(fds, static_cast<nfds_t>(count), 50);
            char buffer[4096];
            if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::read(m_board.load(), buffer, sizeof buffer);
                if (n <= 0) {
                    DropCall();
                    Say("NO CARRIER");
                } else {
                    Write(m_fd, std::string(buffer, static_cast<std::size_t>(n)));
                }
            }
            const ssize_t n =
                (fds[0].revents & POLLIN) != 0 ? ::read(m_fd, buffer, sizeof buffer) : 0;
            const std::string bytes = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
            Locked([&] { return m_received += bytes, 0; });
            m_commandMode ? Command(bytes) : Data(bytes);
        }
    }

    // Online: "+++" alone between two guard times escapes to command mode.
    void Data(const std::string& bytes) {
        const auto now = Clock::now();
        if (bytes.empty()) {
            if (m_pluses == 3 && now - m_last >= kGuard) {
                m_pluses = 0;
                m_commandMode = true;
                Say("OK");
            }
            return;
        }
        if (bytes ==
                std::string(static_cast<std::size_t>(3 - m_pluses), '+').substr(0, bytes.size()) &&
            (m_pluses > 0 || now - m_last >= kGuard)) {
            m_pluses += static_cast<int>(bytes.size());
        } else {
            Write(m_board.load(), std::string(static_cast<std::size_t>(m_pluses), '+') + bytes);
            m_pluses = 0;
        }
        m_last = now;
    }

    void Command(const std::string& bytes) {
        for (const char c : bytes) {
            Write(m_fd, std::string(1, c)); // echo
            if (c != '\r') {
                m_line += c;
                continue;
            }
            const std::string line = std::exchange(m_line, {});
            Locked([&] { return m_commands.push_back(line), 0; });
            Answer(line);
        }
    }

    void Answer(const std::string& line) {
        if (line.rfind("ATD", 0) == 0) {
            Dial(line.substr(line.size() > 3 && (line[3] == 'T' || line[3] == 'P') ? 4 : 3));
        } else if (line.rfind("ATH", 0) == 0) {
            DropCall();
            Say("OK");
        } else if (line == "ATO" && m_board.load() >= 0) {
            m_commandMode = false;
            Say("CONNECT 9600");
        } else {
            Say(line.rfind("AT", 0) == 0 ? "OK" : "ERROR");
        }
    }

    void Dial(const std::string& number) {
        const std::size_t colon = number.rfind(':');
        if (number == "BUSY" || (colon != std::string::npos && m_busyTimes-- > 0)) {
            Say("BUSY");
            return;
        }
        if (colon == std::string::npos) {
            Say("NO DIALTONE");
            return;
        }
        const int board = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(number.substr(colon + 1))));
        ::inet_pton(AF_INET, number.substr(0, colon).c_str(), &address.sin_addr);
        if (::connect(board, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(board);
            Say("NO CARRIER");
            return;
        }
        m_board = board;
        m_commandMode = false;
        m_last = Clock::now();
        Say("CONNECT 9600");
    }

    const int m_fd;
    int m_busyTimes;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_board{-1};
    std::atomic<bool> m_commandMode{true};
    std::string m_line;
    int m_pluses = 0;
    Clock::time_point m_last = Clock::now();
    mutable std::mutex m_mutex;
    std::string m_received;
    std::vector<std::string> m_commands;
    std::thread m_thread;
};

} // namespace telvora::test
