#pragma once

// A real lrzsz peer (sz or rz) in a child process whose standard input and
// output are one end of a socket pair, and a loop that drives one of our
// ZMODEM cores against it: bytes from the child go to ReceiveChunk, what the
// core sends goes to the child, the core's timer ticks on the real clock,
// and a sender is pumped while the line takes data. Every wait has a
// deadline; the child is killed and reaped if it outlives the test.

#include "transfer/transfer_port.h"
#include "transfer/zmodem/zmodem_decoder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace telvora::test {

using Clock = std::chrono::steady_clock;

class ZmodemChild {
public:
    ZmodemChild(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            ADD_FAILURE() << "socketpair: " << std::strerror(errno);
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(pair[1], 0);
            ::dup2(pair[1], 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            if (::chdir(folder.c_str()) != 0) {
                ::_exit(126);
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(pair[1]);
        m_fd = pair[0];
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~ZmodemChild() {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    ZmodemChild(const ZmodemChild&) = delete;
    ZmodemChild& operator=(const ZmodemChild&) = delete;

    int Fd() const { return m_fd; }
    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, signal);
        }
    }
    // The child's exit status (its code, or 128 + a signal), once it has ended.
    std::optional<int> Exited() {
        if (m_status || m_pid <= 0) {
            return m_status;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return m_status;
    }
    std::optional<int> WaitExit(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!Exited() && Clock::now() < deadline) {
            Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_status;
    }
    // Reads and drops what the child still writes, so it never blocks on a full line.
    void Drain() {
        std::uint8_t buffer[4096];
        while (::read(m_fd, buffer, sizeof buffer) > 0) {
        }
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::optional<int> m_status;
};

// The port of a core driven against a real peer: what it sends waits in a
// buffer for the loop to write.
class LinePort : public TTransferPort {
public:
    void Send(const std::uint8_t* bytes, std::size_t count) override {
        outgoing.insert(outgoing.end(), bytes, bytes + count);
        sent += count;
    }
    void ShowProgress(const TTransferProgress& shown) override { progress = shown; }
    void Alert() override {}
    void EndTransferMode() override { ++ended; }
    void ArmTimer(int intervalMs) override { timer = intervalMs; }
    void DisableTimer() override { timer = 0; }

    std::vector<std::uint8_t> outgoing;
    std::size_t sent = 0;
    TTransferProgress progress;
    int timer = 0;
    int ended = 0;
};

// Spoils a stream in a repeatable way: between `from` and `until` bytes into
// it, about one byte in `every` is flipped or dropped.
class LineNoise {
public:
    LineNoise(std::uint64_t from, std::uint64_t until, unsigned every, unsigned seed)
        : m_from(from), m_until(until), m_every(every), m_random(seed) {}
    void Apply(std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> out;
        out.reserve(bytes.size());
        for (std::uint8_t byte : bytes) {
            const std::uint64_t at = m_seen++;
            if (at >= m_from && at < m_until && m_random() % m_every == 0) {
                ++damaged;
                if (m_random() % 2 == 0) {
                    continue; // dropped
                }
                byte ^= static_cast<std::uint8_t>(1u << (m_random() % 8));
            }
            out.push_back(byte);
        }
        bytes.swap(out);
    }
    int damaged = 0;

private:
    std::uint64_t m_from;
    std::uint64_t m_until;
    unsigned m_every;
    std::uint64_t m_seen = 0;
    std::mt19937 m_random;
};

struct DriveOptions {
    std::chrono::milliseconds limit{60000};
    LineNoise* toCore = nullptr; // spoils what the peer sends us
    LineNoise* toPeer = nullptr; // spoils what we send the peer
    // Called after every step; may cancel, kill the peer, answer a question.
    std::function<void()> step;
};

// Runs the core until it stops (or the limit passes: a failure), then sends
// what it said last and waits for the peer to end. Returns whether the core
// stopped in time.
template <class Core>
bool Drive(Core& core, LinePort& port, ZmodemChild& child, const DriveOptions& options = {}) {
    const auto deadline = Clock::now() + options.limit;
    auto nextTick = Clock::now() + std::chrono::milliseconds(port.timer > 0 ? port.timer : 1000);
    constexpr std::size_t kLineRoom = 64 * 1024;
    bool peerGone = false;
    auto flush = [&] {
        while (!port.outgoing.empty()) {
            const ssize_t written =
                ::send(child.Fd(), port.outgoing.data(), port.outgoing.size(), MSG_NOSIGNAL);
            if (written <= 0) {
                return;
            }
            port.outgoing.erase(port.outgoing.begin(), port.outgoing.begin() + written);
        }
    };
    while (core.Running()) {
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "the transfer did not end in time; status: " << port.progress.status;
            return false;
        }
        if constexpr (requires { core.Pump(); }) {
            while (port.outgoing.size() < kLineRoom && core.Pump()) {
            }
        }
        if (options.toPeer != nullptr && !port.outgoing.empty()) {
            options.toPeer->Apply(port.outgoing);
        }
        flush();
        const auto untilTick =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        pollfd line{child.Fd(), static_cast<short>(POLLIN), 0};
        if (!port.outgoing.empty()) {
            line.events |= POLLOUT;
        }
        const int wait = static_cast<int>(std::max<std::int64_t>(0, untilTick.count()));
        if (!peerGone && ::poll(&line, 1, wait) > 0 && (line.revents & (POLLIN | POLLHUP)) != 0) {
            std::vector<std::uint8_t> buffer(65536);
            const ssize_t got = ::read(child.Fd(), buffer.data(), buffer.size());
            if (got > 0) {
                buffer.resize(static_cast<std::size_t>(got));
                if (options.toCore != nullptr) {
                    options.toCore->Apply(buffer);
                }
                core.ReceiveChunk(buffer.data(), buffer.size());
            } else if (got == 0) {
                peerGone = true;
            }
        } else if (peerGone) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 20)));
        }
        if (Clock::now() >= nextTick) {
            core.TimeoutTimer();
            nextTick = Clock::now() + std::chrono::milliseconds(port.timer > 0 ? port.timer : 1000);
        }
        if (options.step) {
            options.step();
        }
    }
    flush();
    return true;
}

// What a stream reads as, byte by byte: its events and, if asked, the data
// the decoder held at each.
inline std::vector<TZmodemEvent> FeedAll(TZmodemDecoder& decoder,
                                         const std::vector<std::uint8_t>& bytes,
                                         std::vector<std::vector<std::uint8_t>>* data = nullptr) {
    std::vector<TZmodemEvent> events;
    for (std::uint8_t byte : bytes) {
        const TZmodemEvent event = decoder.Feed(byte);
        if (event.kind != TZmodemEvent::Kind::None) {
            events.push_back(event);
            if (data != nullptr) {
                data->push_back(decoder.Data());
            }
        }
    }
    return events;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string RandomContent(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// Every byte value, then runs of the bytes ZMODEM escapes and of CR after '@'.
inline std::string AwkwardContent() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    for (int value : {0x18, 0x10, 0x11, 0x13, 0x90, 0x91, 0x93, 0x0D, 0x8D, 0x7F, 0xFF, 0x2A}) {
        bytes.append(300, static_cast<char>(value));
    }
    for (int i = 0; i < 200; ++i) {
        bytes += "@\r@\x8d\xc0\r**\x18"
                 "B00";
    }
    return bytes;
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "telvora-zmodem.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace telvora::test
