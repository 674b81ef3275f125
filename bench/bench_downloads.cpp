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
// seconds after the header, where rz asks at once. rz's pace varies a lot
// from run to run (its reads wait on timeouts): the best of the runs of
// each side is compared.
//
// The Y-Modem-1k download also runs with sz behind a real Telnet server
// (inetutils telnetd) on telvora's side, the Telnet layer decoding every byte,
// beside rz over the plain relay: the whole runs are compared.
//
// Needs the telvora program (TELVORA_BINARY), sz, rz, socat and telnetd.

#include "tcp_relay.h"
#include "transfer_bench.h"

#include <functional>

using namespace telvora::bench;
using telvora::test::TTcpRelay;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kAck = 0x06;

// One receive through the relay: the receiver's command gets the relay's port.
enum class Server { PlainRelay, Telnetd };

TTransferRun Receive(const TTransferSetup& setup, const std::string& szArguments, bool batch,
                     Server server, const std::function<std::string(int)>& receiver) {
    const int port = FreePort();
    if (server == Server::Telnetd) {
        ServeBehindTelnetd(setup.root / "sent", port, "sz " + szArguments + " file.bin");
    } else {
        ServeBehindSocat(setup.root / "sent", port, "sz " + szArguments + " file.bin");
    }
    TTcpRelay relay(port, std::chrono::seconds(120));
    const auto start = Clock::now();
    std::system(receiver(relay.Port()).c_str());
    TTransferRun run;
    run.wholeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // A batch's data begins with the 'C' after the header's ACK; a single
    // file's with the first 'C'.
    const std::vector<std::uint8_t> opening =
        batch ? std::vector<std::uint8_t>{kAck, 'C'} : std::vector<std::uint8_t>{'C'};
    run.dataSeconds =
        TTcpRelay::PhaseSeconds(relay.Runs(), TTcpRelay::Direction::FromClient, opening)
            .value_or(1e9);
    return run;
}

std::string TelvoraCommand(const TTransferSetup& setup, bool batch, Server server, int port) {
    const std::string where = batch ? (setup.root / "received").string()
                                    : (setup.root / "received" / "file.bin").string();
    // The plain relay escapes nothing: the Telnet filter is off for it.
    const std::string filter = server == Server::PlainRelay ? " --no-telnet-filter" : "";
    return std::string("timeout 120 ") + TELVORA_BINARY + " --headless --exit-when-done" + filter +
           " --telnet 127.0.0.1:" + std::to_string(port) +
           (batch ? " --receive-ymodem '" : " --receive-xmodem '") + where + "' >/dev/null 2>&1";
}

std::string RzCommand(const TTransferSetup& setup, bool batch, int port) {
    const std::string rz = batch ? "rz --ymodem -y" : "rz --xmodem --with-crc -y file.bin";
    return "cd '" + (setup.root / "received").string() +
           "' && timeout 120 socat TCP:127.0.0.1:" + std::to_string(port) + " EXEC:'" + rz +
           "',pty,raw,echo=0 >/dev/null 2>&1";
}

void Compare(benchmark::State& state, std::size_t bytes, const std::string& szArguments, bool batch,
             const char* name, Server server = Server::PlainRelay) {
    TTransferSetup setup(bytes, name);
    TTransferRun ours;
    TTransferRun theirs;
    int rzFailures = 0;
    for (auto _ : state) {
        const TTransferRun mine = Receive(setup, szArguments, batch, server, [&](int port) {
            return TelvoraCommand(setup, batch, server, port);
        });
        if (!setup.ReceivedWhole()) {
            state.SkipWithError("telvora's copy differs from the file sent");
            return;
        }
        setup.EmptyReceived();
        const TTransferRun rz = Receive(setup, szArguments, batch, Server::PlainRelay,
                                        [&](int port) { return RzCommand(setup, batch, port); });
        // rz's own failures only leave that run out; they are counted.
        if (setup.ReceivedWhole()) {
            theirs.KeepBest(rz);
        } else {
            ++rzFailures;
        }
        setup.EmptyReceived();
        ours.KeepBest(mine);
        state.SetIterationTime(mine.dataSeconds);
    }
    ReportRates(state, bytes, ours, theirs, "rz");
    state.counters["rz_failed_runs"] = rzFailures;
}

void BM_YModem1k4MB(benchmark::State& state) {
    Compare(state, 4u << 20, "--ymodem -k", true, "ymodem");
}

void BM_YModem1k4MBThroughTelnetd(benchmark::State& state) {
    Compare(state, 4u << 20, "--ymodem -k", true, "ymodem-telnetd", Server::Telnetd);
}

void BM_XModemCrc128KB(benchmark::State& state) {
    Compare(state, 128u << 10, "--xmodem", false, "xmodem");
}

} // namespace

BENCHMARK(BM_YModem1k4MB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YModem1k4MBThroughTelnetd)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XModemCrc128KB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
