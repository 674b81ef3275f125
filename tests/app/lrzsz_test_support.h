#pragma once

// Transfers with a real peer from lrzsz (sz or rz): behind a TCP relay on
// loopback, which socat starts the peer for, or on the far end of a
// pseudo-terminal pair (a serial line). Every peer is bounded in time and
// stopped before its folder is removed.

#include "loopback_peer.h"
#include "run_telvora.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace telvora::test {

class LrzszTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(std::system("command -v sz >/dev/null && command -v rz >/dev/null && "
                              "command -v socat >/dev/null && test -x /usr/sbin/telnetd"),
                  0)
            << "lrzsz, socat and inetutils-telnetd are needed (scripts/install-deps.sh installs "
               "them)";
        root = std::filesystem::temp_directory_path() /
               ("telvora-lrzsz." + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root / "sent");
        std::filesystem::create_directories(root / "received");
    }
    void TearDown() override {
        StopPeer();
        // socat removes its pty link as it exits; what is left goes here.
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    void Write(const std::string& name, const std::string& content) {
        std::ofstream(root / "sent" / name, std::ios::binary) << content;
    }
    std::string Read(const std::filesystem::path& path) { return ReadAll(path); }
    static std::string RandomBytes(std::size_t size, unsigned seed) {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() & 0xFF);
        }
        // A sender fills the last block with 0x1A, which a receiver without
        // the length removes: content of its own that ends so would lose them.
        bytes.back() = 'E';
        return bytes;
    }

    // Starts the peer's command (a shell command line without commas), in the
    // folder, behind a TCP relay on a free port.
    int PeerOverTcp(const std::string& command, const std::filesystem::path& folder) {
        const int port = LoopbackPeer::FreePort();
        StartPeer("socat TCP-LISTEN:" + std::to_string(port) +
                      ",bind=127.0.0.1,reuseaddr SYSTEM:'" + command + "',pty,raw,echo=0",
                  folder);
        return port;
    }
    // Starts the peer's command in place of the login program of a real
    // Telnet server (inetutils telnetd) on a free port: the server negotiates
    // at connect and decodes what the client sends as Telnet.
    int PeerBehindTelnetd(const std::string& command, const std::filesystem::path& folder) {
        const std::filesystem::path script = root / ("peer" + std::to_string(m_peers + 1) + ".sh");
        std::ofstream(script) << "#!/bin/sh\ncd " << Quote(folder.string()) << " && exec "
                              << command << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        const int port = LoopbackPeer::FreePort();
        StartPeer("socat TCP-LISTEN:" + std::to_string(port) +
                      ",bind=127.0.0.1,reuseaddr EXEC:'/usr/sbin/telnetd -h -E " + script.string() +
                      "',nofork",
                  folder);
        return port;
    }
    // Starts the peer on the far end of a pty pair; returns the near end's path.
    std::string PeerOverSerial(const std::string& command, const std::filesystem::path& folder) {
        const std::string link = (root / "line").string();
        StartPeer("socat PTY,link=" + link + ",raw,echo=0 SYSTEM:'" + command + "',pty,raw,echo=0",
                  folder);
        for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return link;
    }
    void StartPeer(const std::string& command, const std::filesystem::path& folder) {
        m_marker = "telvora-peer-" + std::to_string(getpid()) + "-" + std::to_string(++m_peers);
        // The marker names the process group's shell so it can be stopped.
        const std::string shell =
            "cd " + Quote(folder.string()) + " && exec -a " + m_marker + " timeout 90 " + command;
        std::system(("(bash -c " + Quote(shell) + " >/dev/null 2>&1 &)").c_str());
        // socat needs a moment to listen; a refused connect would end the test's run.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    void StopPeer() {
        if (m_marker.empty()) {
            return;
        }
        // "[t]elvora-peer-..." matches the peer but not the shell that runs pkill.
        const std::string pattern = Quote("[" + m_marker.substr(0, 1) + "]" + m_marker.substr(1));
        std::system(("pkill -f " + pattern + " >/dev/null 2>&1").c_str());
        // Gone before the next peer starts or the folder is removed.
        const std::string alive = "pgrep -f " + pattern + " >/dev/null 2>&1";
        for (int i = 0; i < 100 && std::system(alive.c_str()) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_marker.clear();
    }
    // Waits (bounded) until the peer has ended by itself: a receiver has
    // written its files then.
    void WaitForPeer() {
        if (m_marker.empty()) {
            return;
        }
        const std::string pattern = Quote("[" + m_marker.substr(0, 1) + "]" + m_marker.substr(1));
        const std::string alive = "pgrep -f " + pattern + " >/dev/null 2>&1";
        for (int i = 0; i < 250 && std::system(alive.c_str()) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::filesystem::path root;

private:
    std::string m_marker;
    int m_peers = 0;
};

} // namespace telvora::test
