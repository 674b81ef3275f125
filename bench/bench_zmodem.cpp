// ZMODEM through the whole program, beside lrzsz itself.
//
// BM_ZmodemDownload4MB: a 4 MB file from lrzsz's sz behind a TCP relay on
// loopback, received by telvora (raw TCP, --receive-zmodem), beside lrzsz's
// rz receiving it from the same set-up. BM_ZmodemUpload4MB: the same file
// sent to rz by telvora (--send-zmodem) and by sz. The whole runs are timed
// (start-up and handshake included), the best of three on each side; the
// ratio is lrzsz's time over telvora's (target >= 1.0: telvora at least as
// fast). What starting and ending costs each side (the program against a
// server that ends at once) is printed too, and the ratio without it.
//
// BM_LongDistanceLine4MB: the same download through a relay that holds each
// direction's bytes 25 ms (a round trip of 50 ms), by ZMODEM and by
// Y-Modem-1k, beside the line's own time for 4 MB (the file sent once,
// plainly, through the same relay). ZMODEM streams and waits for no reply;
// Y-Modem-1k waits a round trip for each of its 4096 blocks, so its run
// takes minutes: one run of each.
//
// Needs the telvora program (TELVORA_BINARY), sz, rz and socat.

#include "tcp_relay.h"
#include "transfer_bench.h"

#include <functional>

using namespace telvora::bench;
using telvora::test::TTcpRelay;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBytes = 4u << 20;
// Long enough for Y-Modem-1k's 4096 round trips on the long-distance line.
constexpr int kLimitSeconds = 600;
constexpr auto kLongDistance = std::chrono::milliseconds(25);

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// Starts a server's socat command (listening on the port) in the folder; returns at once.
void Serve(const std::filesystem::path& folder, const std::string& socat) {
    const std::string command = "cd " + Quoted(folder) + " && (timeout " +
                                std::to_string(kLimitSeconds) + " socat " + socat +
                                " >/dev/null 2>&1 &)";
    std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}
void ServeProgram(const std::filesystem::path& folder, int port, const std::string& program) {
    Serve(folder, "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr EXEC:'" +
                      program + "',pty,raw,echo=0");
}

// Runs the client's command against the relay in front of the port; the
// whole run's seconds.
double Through(int port, std::chrono::milliseconds delay,
               const std::function<std::string(int)>& client) {
    TTcpRelay relay(port, std::chrono::seconds(kLimitSeconds), {}, TTcpRelay::FromClient::AsItComes,
                    delay);
    const auto start = Clock::now();
    std::system(client(relay.Port()).c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    relay.Runs();
    // A receiver behind socat writes the file as it ends: give it a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return seconds;
}

std::string Telvora(const std::string& arguments, int port) {
    return "timeout " + std::to_string(kLimitSeconds) + " " + TELVORA_BINARY +
           " --headless --exit-when-done --raw 127.0.0.1:" + std::to_string(port) + " " +
           arguments + " >/dev/null 2>&1";
}
std::string LrzszClient(const std::filesystem::path& folder, const std::string& program, int port) {
    return "cd " + Quoted(folder) + " && timeout " + std::to_string(kLimitSeconds) +
           " socat TCP:127.0.0.1:" + std::to_string(port) + " EXEC:'" + program +
           "',pty,raw,echo=0 >/dev/null 2>&1";
}

enum class Receiver { Telvora, Rz };

// sz sends the file; the receiver takes it into the received folder.
double Download(const TTransferSetup& setup, Receiver receiver, const std::string& sz,
                const std::string& receive, std::chrono::milliseconds delay = {}) {
    const int port = FreePort();
    ServeProgram(setup.root / "sent", port, sz + " file.bin");
    return Through(port, delay, [&](int relayPort) {
        return receiver == Receiver::Telvora
                   ? Telvora(receive + " " + Quoted(setup.root / "received"), relayPort)
                   : LrzszClient(setup.root / "received", "rz -q -b -y", relayPort);
    });
}

enum class Sender { Telvora, Sz };

double Upload(const TTransferSetup& setup, Sender sender) {
    const int port = FreePort();
    ServeProgram(setup.root / "received", port, "rz -q -b -y");
    return Through(port, {}, [&](int relayPort) {
        return sender == Sender::Telvora
                   ? Telvora("--send-zmodem " + Quoted(setup.root / "sent" / "file.bin"), relayPort)
                   : LrzszClient(setup.root / "sent", "sz -q file.bin", relayPort);
    });
}

// What a whole run costs beside the transfer: the program (telvora, or
// socat starting the lrzsz program) started against a server that ends at
// once, the best of three.
double StartUpSeconds(const TTransferSetup& setup, Receiver program) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const int port = FreePort();
        ServeProgram(setup.root / "sent", port, "true");
        best = std::min(best, Through(port, {}, [&](int relayPort) {
                            return program == Receiver::Telvora
                                       ? Telvora("", relayPort)
                                       : LrzszClient(setup.root / "received", "true", relayPort);
                        }));
    }
    return best;
}

// Keeps the best whole run of each side; lrzsz's failed runs are left out
// and counted, telvora's end the benchmark.
struct TBest {
    double ours = 1e9;
    double theirs = 1e9;
    int theirFailures = 0;
};

bool KeepRun(benchmark::State& state, const TTransferSetup& setup, double seconds, bool ours,
             TBest& best) {
    const bool whole = setup.ReceivedWhole();
    setup.EmptyReceived();
    if (!whole) {
        if (ours) {
            state.SkipWithError("telvora's transfer did not give the file sent");
            return false;
        }
        ++best.theirFailures;
        return true;
    }
    double& kept = ours ? best.ours : best.theirs;
    kept = std::min(kept, seconds);
    return true;
}

void Report(benchmark::State& state, const TTransferSetup& setup, const TBest& best,
            const std::string& other) {
    if (best.theirs >= 1e9) {
        state.SkipWithError(("every run of " + other + " failed").c_str());
        return;
    }
    state.counters["telvora_whole_s"] = best.ours;
    state.counters[other + "_whole_s"] = best.theirs;
    state.counters["ratio_to_" + other] = best.theirs / best.ours;
    state.counters[other + "_failed_runs"] = best.theirFailures;
    state.counters["telvora_MB_per_s"] = static_cast<double>(kBytes) / 1e6 / best.ours;
    // Without the start-up, which the program pays once per run whatever it transfers.
    const double ourStart = StartUpSeconds(setup, Receiver::Telvora);
    const double theirStart = StartUpSeconds(setup, Receiver::Rz);
    state.counters["telvora_start_s"] = ourStart;
    state.counters[other + "_start_s"] = theirStart;
    state.counters["ratio_past_start"] = (best.theirs - theirStart) / (best.ours - ourStart);
}

void BM_ZmodemDownload4MB(benchmark::State& state) {
    TTransferSetup setup(kBytes, "zmodem-download");
    TBest best;
    for (auto _ : state) {
        const double ours = Download(setup, Receiver::Telvora, "sz -q", "--receive-zmodem");
        if (!KeepRun(state, setup, ours, true, best)) {
            return;
        }
        KeepRun(state, setup, Download(setup, Receiver::Rz, "sz -q", ""), false, best);
        state.SetIterationTime(ours);
    }
    Report(state, setup, best, "rz");
}

void BM_ZmodemUpload4MB(benchmark::State& state) {
    TTransferSetup setup(kBytes, "zmodem-upload");
    TBest best;
    for (auto _ : state) {
        const double ours = Upload(setup, Sender::Telvora);
        if (!KeepRun(state, setup, ours, true, best)) {
            return;
        }
        KeepRun(state, setup, Upload(setup, Sender::Sz), false, best);
        state.SetIterationTime(ours);
    }
    Report(state, setup, best, "sz");
}

void BM_LongDistanceLine4MB(benchmark::State& state) {
    TTransferSetup setup(kBytes, "long-distance");
    for (auto _ : state) {
        const int port = FreePort();
        Serve(setup.root / "sent", "-u OPEN:file.bin,rdonly TCP-LISTEN:" + std::to_string(port) +
                                       ",bind=127.0.0.1,reuseaddr");
        const double line = Through(port, kLongDistance, [&](int relayPort) {
            return "timeout " + std::to_string(kLimitSeconds) +
                   " socat -u TCP:127.0.0.1:" + std::to_string(relayPort) +
                   " CREATE:" + Quoted(setup.root / "received" / "file.bin") + " >/dev/null 2>&1";
        });
        const bool lineWhole = setup.ReceivedWhole();
        setup.EmptyReceived();
        const double zmodem =
            Download(setup, Receiver::Telvora, "sz -q", "--receive-zmodem", kLongDistance);
        const bool zmodemWhole = setup.ReceivedWhole();
        setup.EmptyReceived();
        const double ymodem =
            Download(setup, Receiver::Telvora, "sz --ymodem -k", "--receive-ymodem", kLongDistance);
        const bool ymodemWhole = setup.ReceivedWhole();
        setup.EmptyReceived();
        if (!lineWhole || !zmodemWhole || !ymodemWhole) {
            state.SkipWithError(!lineWhole     ? "the plain copy differs from the file"
                                : !zmodemWhole ? "the ZMODEM copy differs from the file"
                                               : "the Y-Modem-1k copy differs from the file");
            return;
        }
        state.counters["line_s"] = line;
        state.counters["zmodem_whole_s"] = zmodem;
        state.counters["ymodem1k_whole_s"] = ymodem;
        state.counters["zmodem_to_line"] = zmodem / line;
        state.counters["ymodem1k_to_line"] = ymodem / line;
        state.SetIterationTime(zmodem);
    }
}

} // namespace

BENCHMARK(BM_ZmodemDownload4MB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZmodemUpload4MB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongDistanceLine4MB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
