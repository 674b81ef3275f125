// A Y-Modem-1k download of a 4 MB file from lrzsz's sz behind a TCP relay on
// loopback, received by the whole program (socket, Telnet layer, FIFO,
// connection thread, receiver), beside lrzsz's own rz receiving the same file
// from the same set-up. Target: telvora's rate / rz's rate >= 1.0. The same
// for X-Modem CRC with 128-byte blocks, which is bound by the round trip per
// block.
//
// Needs the telvora program (TELVORA_BINARY), sz, rz and socat.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

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
};

int FreePort() {
    static int next = 25000 + static_cast<int>(getpid() % 2000) * 10;
    return next++;
}

// Starts sz behind a relay; the shell returns at once.
void ServeSz(const Setup& setup, int port, const std::string& szArguments) {
    const std::string command = "cd '" + (setup.root / "sent").string() +
                                "' && (timeout 120 socat TCP-LISTEN:" + std::to_string(port) +
                                ",bind=127.0.0.1,reuseaddr EXEC:'sz " + szArguments +
                                " file.bin',pty,raw,echo=0 >/dev/null 2>&1 &)";
    std::system(command.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

double Seconds(const Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double TelvoraReceives(const Setup& setup, const std::string& szArguments, bool batch) {
    const int port = FreePort();
    ServeSz(setup, port, szArguments);
    const std::string where = batch ? (setup.root / "received").string()
                                    : (setup.root / "received" / "file.bin").string();
    const std::string command = std::string("timeout 120 ") + TELVORA_BINARY +
                                " --headless --exit-when-done --no-telnet-filter --telnet "
                                "127.0.0.1:" +
                                std::to_string(port) +
                                (batch ? " --receive-ymodem '" : " --receive-xmodem '") + where +
                                "' >/dev/null 2>&1";
    const auto start = Clock::now();
    std::system(command.c_str());
    return Seconds(start);
}

double RzReceives(const Setup& setup, const std::string& szArguments, bool batch) {
    const int port = FreePort();
    ServeSz(setup, port, szArguments);
    const std::string rz = batch ? "rz -y" : "rz -X -y file.bin";
    const std::string command = "cd '" + (setup.root / "received").string() +
                                "' && timeout 120 socat TCP:127.0.0.1:" + std::to_string(port) +
                                " EXEC:'" + rz + "',pty,raw,echo=0 >/dev/null 2>&1";
    const auto start = Clock::now();
    std::system(command.c_str());
    return Seconds(start);
}

void Compare(benchmark::State& state, std::size_t bytes, const std::string& szArguments, bool batch,
             const char* name) {
    Setup setup(bytes, name);
    double ours = 0;
    double theirs = 0;
    for (auto _ : state) {
        ours = TelvoraReceives(setup, szArguments, batch);
        fs::remove_all(setup.root / "received");
        fs::create_directories(setup.root / "received");
        theirs = RzReceives(setup, szArguments, batch);
        state.SetIterationTime(ours);
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    state.counters["telvora_MB_per_s"] = megabytes / ours;
    state.counters["rz_MB_per_s"] = megabytes / theirs;
    state.counters["ratio_to_rz"] = theirs / ours;
}

void BM_YModem1k4MB(benchmark::State& state) {
    Compare(state, 4u << 20, "--ymodem -k", true, "ymodem");
}

void BM_XModemCrc256KB(benchmark::State& state) {
    Compare(state, 256u << 10, "--xmodem", false, "xmodem");
}

} // namespace

BENCHMARK(BM_YModem1k4MB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XModemCrc256KB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
