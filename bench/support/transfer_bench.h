#pragma once

// What the download and upload benchmarks share: a folder with a random
// file to send, loopback ports, the best of several runs on each side.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace telvora::bench {

struct TTransferSetup {
    std::filesystem::path root;
    std::size_t size;
    TTransferSetup(std::size_t bytes, const char* name) : size(bytes) {
        root = std::filesystem::temp_directory_path() /
               (std::string("telvora-bench-") + name + "." + std::to_string(getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "sent");
        std::filesystem::create_directories(root / "received");
        std::mt19937 random(5);
        std::string content(bytes, '\0');
        for (char& c : content) {
            c = static_cast<char>(random() & 0xFF);
        }
        content.back() = 'E';
        std::ofstream(root / "sent" / "file.bin", std::ios::binary) << content;
    }
    ~TTransferSetup() { std::filesystem::remove_all(root); }
    void EmptyReceived() const {
        std::filesystem::remove_all(root / "received");
        std::filesystem::create_directories(root / "received");
    }
    // The received copy holds the file sent (X-Modem's fill after it allowed).
    bool ReceivedWhole() const {
        std::ifstream sent(root / "sent" / "file.bin", std::ios::binary);
        std::ifstream received(root / "received" / "file.bin", std::ios::binary);
        const std::string original(std::istreambuf_iterator<char>(sent), {});
        const std::string copy(std::istreambuf_iterator<char>(received), {});
        return copy.compare(0, original.size(), original) == 0 &&
               copy.find_first_not_of('\x1a', original.size()) == std::string::npos;
    }
};

inline int FreePort() {
    static int next = 25000 + static_cast<int>(getpid() % 2000) * 10;
    return next++;
}

// Starts a peer program behind socat listening on the port, in the folder;
// returns at once.
inline void ServeBehindSocat(const std::filesystem::path& folder, int port,
                             const std::string& program) {
    const std::string command =
        "cd '" + folder.string() + "' && (timeout 120 socat TCP-LISTEN:" + std::to_string(port) +
        ",bind=127.0.0.1,reuseaddr EXEC:'" + program + "',pty,raw,echo=0 >/dev/null 2>&1 &)";
    std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// Starts a peer program in place of the login program of a real Telnet
// server (inetutils telnetd) listening on the port; returns at once.
inline void ServeBehindTelnetd(const std::filesystem::path& folder, int port,
                               const std::string& program) {
    const std::filesystem::path script = folder.parent_path() / "telnetd-peer.sh";
    std::ofstream(script) << "#!/bin/sh\ncd '" << folder.string() << "' && exec " << program
                          << "\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string command = "(timeout 120 socat TCP-LISTEN:" + std::to_string(port) +
                                ",bind=127.0.0.1,reuseaddr EXEC:'/usr/sbin/telnetd -h -E " +
                                script.string() + "',nofork >/dev/null 2>&1 &)";
    std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

struct TTransferRun {
    double wholeSeconds = 1e9;
    double dataSeconds = 1e9;
    // The shortest whole run of all kept, which need not be the one with
    // the fastest data.
    double bestWholeSeconds = 1e9;
    bool Seen() const { return dataSeconds < 1e9; }
    void KeepBest(const TTransferRun& run) {
        const double bestWhole = std::min(bestWholeSeconds, run.wholeSeconds);
        if (run.dataSeconds > 0 && run.dataSeconds < dataSeconds) {
            *this = run;
        }
        bestWholeSeconds = bestWhole;
    }
};

// The counters both benchmarks print: telvora's data rate beside the
// other program's, their ratio, and each whole run.
inline void ReportRates(benchmark::State& state, std::size_t bytes, const TTransferRun& ours,
                        const TTransferRun& theirs, const std::string& other) {
    if (!ours.Seen() || !theirs.Seen()) {
        state.SkipWithError(!ours.Seen() ? "telvora's data phase was not seen"
                                         : "the other program's data phase was not seen");
        return;
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    state.counters["telvora_MB_per_s"] = megabytes / ours.dataSeconds;
    state.counters[other + "_MB_per_s"] = megabytes / theirs.dataSeconds;
    state.counters["ratio_to_" + other] = theirs.dataSeconds / ours.dataSeconds;
    state.counters["telvora_whole_s"] = ours.bestWholeSeconds;
    state.counters[other + "_whole_s"] = theirs.bestWholeSeconds;
    state.counters["whole_ratio_to_" + other] = theirs.bestWholeSeconds / ours.bestWholeSeconds;
}

} // namespace telvora::bench
