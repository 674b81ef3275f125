// How long a connect takes when a host's first address is dead, and when
// every address is: BM_SecondAddress races a name whose IPv6 address never
// answers (a silent ::1 port) and whose IPv4 one does (target: connected
// within 0.5 s); BM_GiveUp connects to a silent address with a 2 s connect
// timeout (target: "Connection timed out" within the timeout plus 1 s).
// Without the race the first took the kernel's whole retry time, about
// 135 s, and so did the second.

#include "connection/telnet/wsocket.h"

#include "loopback_peer.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

using namespace telvora;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kGiveUpTimeout = std::chrono::milliseconds(2000);

std::vector<TSocketAddress> g_addresses;

int BothFamilies(const std::string&, std::vector<TSocketAddress>& addresses) {
    addresses = g_addresses;
    return 0;
}

// Seconds from Connect until the socket is connected or has reported its
// failure (error then holds it).
double Connect(TWSocket& socket, int& error) {
    error = -1;
    socket.SetOnSessionConnected([&error](TWSocket&, int code) { error = code; });
    const auto start = Clock::now();
    socket.Connect();
    while (error < 0 && Clock::now() - start < std::chrono::seconds(30)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_SecondAddress(benchmark::State& state) {
    LoopbackPeer peer4;
    SilentPort silent6(AF_INET6, peer4.Port());
    if (!silent6.Ok()) {
        state.SkipWithError("no silent port on ::1 beside 127.0.0.1's");
        return;
    }
    g_addresses = {TSocketAddress::IPv4(htonl(INADDR_LOOPBACK)),
                   TSocketAddress::IPv6(in6addr_loopback)};
    double seconds = 0;
    int error = 0;
    for (auto _ : state) {
        TWSocket socket;
        socket.SetHostLookup(BothFamilies);
        socket.SetAddr("half.bbs.example");
        socket.SetPort(std::to_string(peer4.Port()));
        seconds = Connect(socket, error);
        state.SetIterationTime(seconds);
        peer4.Accept();
        socket.Close();
    }
    state.counters["seconds"] = seconds;
    std::printf("second address connected after %.3f s (error %d; target <= 0.5 s)\n", seconds,
                error);
}
BENCHMARK(BM_SecondAddress)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_GiveUp(benchmark::State& state) {
    SilentPort silent(AF_INET, 0);
    double seconds = 0;
    int error = 0;
    for (auto _ : state) {
        TWSocket socket;
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(silent.Port()));
        socket.SetConnectTimeout(kGiveUpTimeout);
        seconds = Connect(socket, error);
        state.SetIterationTime(seconds);
    }
    state.counters["seconds"] = seconds;
    std::printf("silent address given up after %.3f s with error %d (timeout %.1f s; target <= "
                "timeout + 1 s)\n",
                seconds, error, std::chrono::duration<double>(kGiveUpTimeout).count());
}
BENCHMARK(BM_GiveUp)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
