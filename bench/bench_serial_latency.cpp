// Latency from a byte written on the far end of a pseudo-terminal pair to the
// OnRxChar handler running on the owner's (user-interface) thread, which
// waits in its event loop meanwhile. Target: a median of 2 ms or less.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "connection/serial/custom_comm.h"
#include "pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wakes the event loop now and then, so a lost byte ends the run instead of hanging it.
constexpr int kWatchdogIntervalMs = 100;
constexpr auto kByteTimeout = std::chrono::seconds(5);

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void BM_SerialRxCharLatency(benchmark::State& state) {
    TPtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Local());
    comm.SetBaudRate(TBaudrate::br19200);
    comm.SetReadTimeout(0);
    comm.SetWriteTimeout(0);
    comm.SetFlowControl(TFlowControl::fcNone);
    bool arrived = false;
    comm.SetOnRxChar([&](TCustomComm& sender, int count) {
        std::uint8_t buffer[64];
        sender.Read(buffer, std::min(count, 64));
        arrived = true;
    });
    comm.Open();
    QTimer watchdog;
    watchdog.start(kWatchdogIntervalMs);

    std::vector<double> latencies;
    for (auto _ : state) {
        arrived = false;
        const auto start = Clock::now();
        if (!pty.WriteRemote("x", 1)) {
            state.SkipWithError("cannot write to the far end");
            break;
        }
        while (!arrived && Clock::now() - start < kByteTimeout) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (!arrived) {
            state.SkipWithError("a byte did not reach OnRxChar");
            break;
        }
        state.SetIterationTime(elapsed);
        latencies.push_back(elapsed * 1e6);
    }
    state.counters["median_us"] = Percentile(latencies, 0.5);
    state.counters["p90_us"] = Percentile(latencies, 0.9);
    state.counters["max_us"] = Percentile(latencies, 1.0);
}
BENCHMARK(BM_SerialRxCharLatency)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
