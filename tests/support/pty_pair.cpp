#include "pty_pair.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadLog(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool LinkReady(const std::string& link) {
    std::error_code error;
    return std::filesystem::exists(link, error); // follows the link to the pty
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

TPtyPair::TPtyPair() {
    char pattern[] = "/tmp/telvora-pty-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error(std::string("cannot create a temporary folder: ") +
                                 std::strerror(errno));
    }
    m_dir = pattern;
    m_local = m_dir + "/local";
    m_remote = m_dir + "/remote";
    const std::string log = m_dir + "/socat.log";
    const std::string first = "pty,raw,echo=0,link=" + m_local;
    const std::string second = "pty,raw,echo=0,link=" + m_remote;
    std::vector<char*> argv = {const_cast<char*>("socat"),        const_cast<char*>("-d"),
                               const_cast<char*>("-d"),           const_cast<char*>(first.c_str()),
                               const_cast<char*>(second.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int spawned = posix_spawnp(&m_pid, "socat", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_pid = -1;
        std::filesystem::remove_all(m_dir);
        throw std::runtime_error(
            std::string("cannot start socat (install it: scripts/install-deps.sh): ") +
            std::strerror(spawned));
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!(LinkReady(m_local) && LinkReady(m_remote))) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            const std::string text = ReadLog(log);
            std::filesystem::remove_all(m_dir);
            throw std::runtime_error("socat ended before creating its ptys (is it installed?): " +
                                     text);
        }
        if (MillisecondsLeft(deadline) == 0) {
            const std::string text = ReadLog(log);
            Stop();
            throw std::runtime_error("socat did not create its ptys in time: " + text);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TPtyPair::~TPtyPair() {
    Stop();
}

void TPtyPair::Stop() {
    Hangup();
    if (!m_dir.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
        m_dir.clear();
    }
}

void TPtyPair::Hangup() {
    if (m_remoteFd >= 0) {
        close(m_remoteFd);
        m_remoteFd = -1;
    }
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (MillisecondsLeft(deadline) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_pid = -1;
    }
}

int TPtyPair::RemoteFd() {
    if (m_remoteFd >= 0) {
        return m_remoteFd;
    }
    m_remoteFd = open(m_remote.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_remoteFd < 0) {
        throw std::runtime_error("cannot open " + m_remote + ": " + std::strerror(errno));
    }
    termios t{};
    tcgetattr(m_remoteFd, &t);
    cfmakeraw(&t);
    tcsetattr(m_remoteFd, TCSANOW, &t);
    return m_remoteFd;
}

bool TPtyPair::WriteRemote(const void* data, std::size_t size, int timeoutMs) {
    const int fd = RemoteFd();
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, left);
    }
    return true;
}

std::size_t TPtyPair::ReadRemote(void* data, std::size_t size, int timeoutMs) {
    const int fd = RemoteFd();
    auto* bytes = static_cast<unsigned char*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, left);
    }
    return done;
}
