// A Y-Modem-1k upload of a 4 MB file to lrzsz's rz behind a TCP relay on
// loopback, sent by the whole program (file, sender, Telnet layer with 255
// doubled, socket; the relay undoubles as a Telnet server does), beside
// lrzsz's own sz sending the same file to the same rz set-up. Target:
// telvora's rate / sz's rate >= 1.0.
//
// The rate is that of the data blocks: from rz's request for the first data
// block to its last reply, timed by the relay. The whole run is printed as
// well. rz clears its input after each reply, and a block that arrives
// before that is lost and sent again after a timeout, to either sender: the
// best of the runs of each side is compared.
//
// Needs the telvora program (TELVORA_BINARY), sz, rz and socat.

#include "tcp_relay.h"
#include "transfer_bench.h"

#include <functional>

using namespace telvora::bench;
using telvora::test::TTcpRelay;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kAck = 0x06;

TTransferRun Send(const TTransferSetup& setup, TTcpRelay::FromClient fromClient,
                  const std::function<std::string(int)>& sender, bool telnetd = false) {
    const int port = FreePort();
    if (telnetd) {
        ServeBehindTelnetd(setup.root / "received", port, "rz --ymodem -y");
    } else {
        ServeBehindSocat(setup.root / "received", port, "rz --ymodem -y");
    }
    TTcpRelay relay(port, std::chrono::seconds(120), {}, fromClient);
    const auto start = Clock::now();
    std::system(sender(relay.Port()).c_str());
    TTransferRun run;
    run.wholeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The data begins with rz's 'C' after the header's ACK.
    run.dataSeconds =
        TTcpRelay::PhaseSeconds(relay.Runs(), TTcpRelay::Direction::FromServer, {kAck, 'C'})
            .value_or(1e9);
    // rz writes the file as it ends: give it a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return run;
}

// With telnetd, telvora's upload crosses a real Telnet server (which decodes
// it) to rz; sz's goes over the plain relay.
void BM_YModem1kUpload4MB(benchmark::State& state) {
    const bool telnetd = state.range(0) == 1;
    state.SetLabel(telnetd ? "telvora through telnetd" : "telvora through a Telnet-style relay");
    const std::size_t bytes = 4u << 20;
    TTransferSetup setup(bytes, "upload");
    const std::string file = (setup.root / "sent" / "file.bin").string();
    TTransferRun ours;
    TTransferRun theirs;
    int szFailures = 0;
    for (auto _ : state) {
        const TTransferRun mine = Send(
            setup, telnetd ? TTcpRelay::FromClient::AsItComes : TTcpRelay::FromClient::TelnetStyle,
            [&](int port) {
                return std::string("timeout 120 ") + TELVORA_BINARY +
                       " --headless --exit-when-done --telnet 127.0.0.1:" + std::to_string(port) +
                       " --send-ymodem '" + file + "' >/dev/null 2>&1";
            },
            telnetd);
        if (!setup.ReceivedWhole()) {
            state.SkipWithError("rz's copy of telvora's upload differs from the file");
            return;
        }
        setup.EmptyReceived();
        const TTransferRun sz = Send(setup, TTcpRelay::FromClient::AsItComes, [&](int port) {
            return "cd '" + (setup.root / "sent").string() +
                   "' && timeout 120 socat TCP:127.0.0.1:" + std::to_string(port) +
                   " EXEC:'sz --ymodem -k file.bin',pty,raw,echo=0 >/dev/null 2>&1";
        });
        // sz's own failures (rz gives up on it now and then) only leave
        // that run out; they are counted.
        if (setup.ReceivedWhole()) {
            theirs.KeepBest(sz);
        } else {
            ++szFailures;
        }
        setup.EmptyReceived();
        ours.KeepBest(mine);
        state.SetIterationTime(mine.dataSeconds);
    }
    ReportRates(state, bytes, ours, theirs, "sz");
    state.counters["sz_failed_runs"] = szFailures;
}

} // namespace

BENCHMARK(BM_YModem1kUpload4MB)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
