#pragma once

// A desktop keyring of the test's own: a private D-Bus session with
// gnome-keyring-daemon's Secret Service, its login keyring unlocked with a
// password of its own and kept in a fresh folder. While it lives, this process
// and the programs it starts talk to it instead of any keyring of the user.

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace telvora::test {

class TKeyringSession {
public:
    static constexpr auto kStartTimeout = std::chrono::seconds(20);

    TKeyringSession() {
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            m_oldAddress = old;
        }
        const std::string folder = m_folder.path().toStdString();
        const std::string address = folder + "/address";
        const std::string script = "printf '%s' \"$DBUS_SESSION_BUS_ADDRESS\" > '" + address +
                                   ".new' && " +
                                   "printf 'telvora' | gnome-keyring-daemon --unlock "
                                   "--components=secrets >/dev/null 2>&1 && " +
                                   "mv '" + address + ".new' '" + address + "' && exec sleep 600";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setsid();
            ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
            ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            ::execlp("dbus-run-session", "dbus-run-session", "--", "sh", "-c", script.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream file(address);
            const std::string text{std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>()};
            if (!text.empty()) {
                ::setenv("DBUS_SESSION_BUS_ADDRESS", text.c_str(), 1);
                m_ready = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TKeyringSession() {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_oldAddress) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }
    TKeyringSession(const TKeyringSession&) = delete;
    TKeyringSession& operator=(const TKeyringSession&) = delete;

    // False when dbus-run-session or gnome-keyring-daemon did not start
    // (the install script installs both).
    bool Ready() const { return m_ready; }

private:
    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/telvora-keyring-XXXXXX")};
    std::optional<std::string> m_oldAddress;
    pid_t m_pid = -1;
    bool m_ready = false;
};

} // namespace telvora::test
