// A Y-Modem-1k download of a 4 MB file from lrzsz's sz behind a TCP relay on
// loopback, received by the whole program (socket, Telnet layer, FIFO,
// connection thread, receiver), beside lrzsz's own rz receiving the same file
// by Y-Modem from the same set-up. Target: telvora's rate / rz's rate >= 1.0.
// The same for X-Modem CRC with 128-byte blocks, which is bound by the round
// trip per block.
//
// The rate is that of the data blocks: from the receiver's request for the
// first data block to its last reply, timed by a relay of our own between
// the two sides. The whole run, start-up and handshake included, is printed
// as well: telvora's receiver sends its first 'C' one second after it
// starts and asks for a batch file's first block at its next tick, two
// seconds after the header, where rz asks at once.
//
// Needs the telvora program (TELVORA_BINARY), sz, rz and socat.

#include "tcp_relay.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using telvora::test::TTcpRelay;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kAck = 0x06;

struct Setup {
    fs::path root;
    std::size_t size;
    Setup(std::size_t bytes, const char* name) : size(bytes) {
        root = fs::temp_directory_path() /
               (std::string("telvora-bench-") + name + "." + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "sent");
        fs::create_directories(root / "received");
        std::mt19937 random(5);
        std::string content(bytes, '\0');
        for (char& c : content) {
            c = static_cast<char>(random() & 0xFF);
        }
        content.back() = 'E';
        std::ofstream(root / "sent" / "file.bin", std::ios::binary) << content;
    }
    ~Setup() { fs::remove_all(root); }
    void EmptyReceived() const {
        fs::remove_all(root / "received");
        fs::create_directories(root / "received");
    }
};

int FreePort() {
    static int next = 25000 + static_cast<int>(getpid() % 2000) * 10;
    return next++;
}

// Starts sz behind socat; the shell returns at once.
void ServeSz(const Setup& setup, int port, const std::string& szArguments) {
    const std::string command = "cd '" + (setup.root / "sent").string() +
                                "' && (timeout 120 socat TCP-LISTEN:" + std::to_string(port) +
                                ",bind=127.0.0.1,reuseaddr EXEC:'sz " + szArguments +
                                " file.bin',pty,raw,echo=0 >/dev/null 2>&1 &)";
    std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

struct TRun {
    double wholeSeconds = 0;
    double dataSeconds = 0;
};

// One receive through the relay: the receiver's command gets the relay's port.
TRun Receive(const Setup& setup, const std::string& szArguments, bool batch,
             const std::function<std::string(int)>& receiver) {
    const int port = FreePort();
    ServeSz(setup, port, szArguments);
    TTcpRelay relay(port, std::chrono::seconds(120));
    const auto start = Clock::now();
    std::system(receiver(relay.Port()).c_str());
    TRun run;
    run.wholeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // A batch's data begins with the 'C' after the header's ACK; a single
    // file's with the first 'C'.
    const std::vector<std::uint8_t> opening =
        batch ? std::vector<std::uint8_t>{kAck, 'C'} : std::vector<std::uint8_t>{'C'};
    run.dataSeconds =
        TTcpRelay::PhaseSeconds(relay.Runs(), TTcpRelay::Direction::FromClient, opening)
            .value_or(0.0);
    return run;
}

std::string TelvoraCommand(const Setup& setup, bool batch, int port) {
    const std::string where = batch ? (setup.root / "received").string()
                                    : (setup.root / "received" / "file.bin").string();
    return std::string("timeout 120 ") + TELVORA_BINARY +
           " --headless --exit-when-done --no-telnet-filter --telnet 127.0.0.1:" +
           std::to_string(port) + (batch ? " --receive-ymodem '" : " --receive-xmodem '") + where +
           "' >/dev/null 2>&1";
}

std::string RzCommand(const Setup& setup, bool batch, int port) {
    const std::string rz = batch ? "rz --ymodem -y" : "rz --xmodem --with-crc -y file.bin";
    return "cd '" + (setup.root / "received").string() +
           "' && timeout 120 socat TCP:127.0.0.1:" + std::to_string(port) + " EXEC:'" + rz +
           "',pty,raw,echo=0 >/dev/null 2>&1";
}

bool ReceivedWhole(const Setup& setup) {
    std::ifstream sent(setup.root / "sent" / "file.bin", std::ios::binary);
    std::ifstream received(setup.root / "received" / "file.bin", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(sent), {}) ==
           std::string(std::istreambuf_iterator<char>(received), {});
}

void Compare(benchmark::State& state, std::size_t bytes, const std::string& szArguments, bool batch,
             const char* name) {
    Setup setup(bytes, name);
    // rz's pace varies a lot from run to run (its reads wait on timeouts):
    // the best of the runs of each side is compared.
    TRun ours{1e9, 1e9};
    TRun theirs{1e9, 1e9};
    const auto keepBest = [](TRun& best, const TRun& run) {
        if (run.dataSeconds > 0 && run.dataSeconds < best.dataSeconds) {
            best = run;
        }
    };
    for (auto _ : state) {
        const TRun mine = Receive(setup, szArguments, batch,
                                  [&](int port) { return TelvoraCommand(setup, batch, port); });
        if (!ReceivedWhole(setup)) {
            state.SkipWithError("telvora's copy differs from the file sent");
            return;
        }
        setup.EmptyReceived();
        const TRun rz = Receive(setup, szArguments, batch,
                                [&](int port) { return RzCommand(setup, batch, port); });
        if (!ReceivedWhole(setup)) {
            state.SkipWithError("rz's copy differs from the file sent");
            return;
        }
        setup.EmptyReceived();
        keepBest(ours, mine);
        keepBest(theirs, rz);
        state.SetIterationTime(mine.dataSeconds);
    }
    if (ours.dataSeconds >= 1e9 || theirs.dataSeconds >= 1e9) {
        state.SkipWithError(ours.dataSeconds >= 1e9 ? "telvora's data phase was not seen"
                                                    : "rz's data phase was not seen");
        return;
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    state.counters["telvora_MB_per_s"] = megabytes / ours.dataSeconds;
    state.counters["rz_MB_per_s"] = megabytes / theirs.dataSeconds;
    state.counters["ratio_to_rz"] = theirs.dataSeconds / ours.dataSeconds;
    state.counters["telvora_whole_s"] = ours.wholeSeconds;
    state.counters["rz_whole_s"] = theirs.wholeSeconds;
}

void BM_YModem1k4MB(benchmark::State& state) {
    Compare(state, 4u << 20, "--ymodem -k", true, "ymodem");
}

void BM_XModemCrc128KB(benchmark::State& state) {
    Compare(state, 128u << 10, "--xmodem", false, "xmodem");
}

} // namespace

BENCHMARK(BM_YModem1k4MB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XModemCrc128KB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
