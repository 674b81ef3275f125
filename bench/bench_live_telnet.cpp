// A live Telnet line end to end, from a loopback peer through the socket, the
// Telnet layer, the FIFO and the connection thread into the screen:
// - echo latency from a key pressed on the screen to the echoed cell
//   (target: median <= 1 ms, p99 <= 5 ms), beside the same figure for a
//   thread that only polls every 100 ms;
// - unthrottled throughput (target: >= 100 MB/s);
// - pacing at 2400 and 300 bps (target: within 1% of 1000/Delay bytes/s).
#include "app/main_window.h"
#include "connection/telnet.h"
#include "connection/throttle.h"
#include "connection/wake_up.h"
#include "program.h"
#include "screen/crt_screen.h"
#include "support/bench_screen.h"

#include "loopback_peer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace telvora;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEchoSamples = 400;
constexpr int kPollSamples = 40;
constexpr std::size_t kFloodBytes = 64u << 20;

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// Serves the event loop without sleeping until done() holds.
template <typename Done> void Spin(Done done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// A peer that echoes every byte it receives at once.
class EchoPeer {
public:
    EchoPeer()
        : m_thread([this] {
              if (!m_peer.Accept()) {
                  return;
              }
              while (!m_stop) {
                  const std::vector<std::uint8_t> got = m_peer.Read(1, 100);
                  if (!got.empty()) {
                      m_peer.SendAll(got);
                  }
              }
          }) {}
    ~EchoPeer() {
        m_stop = true;
        m_thread.join();
    }
    std::string PortText() const { return m_peer.PortText(); }

private:
    LoopbackPeer m_peer;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The benchmarks' argument: 0 for a Telnet line, 1 for raw TCP.
TLineProtocol ProtocolOf(const benchmark::State& state) {
    return state.range(0) == 0 ? TLineProtocol::Telnet : TLineProtocol::Raw;
}
void LabelProtocol(benchmark::State& state) {
    state.SetLabel(ProtocolOf(state) == TLineProtocol::Telnet ? "telnet" : "raw");
}

void BM_EchoLatency(benchmark::State& state) {
    LabelProtocol(state);
    EchoPeer peer;
    test::TProgram program{Tmain::Sound::Off};
    Tmain& window = program.window;
    window.Session().ConnectTelnet("127.0.0.1", peer.PortText(), ProtocolOf(state));
    Spin([&] {
        return window.Session().TelnetConn() != nullptr &&
               window.Session().TelnetConn()->StatusText().startsWith(QStringLiteral("Connected"));
    });
    TCrtScreen& screen = *window.Screen();
    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        for (int i = 0; i < kEchoSamples; ++i) {
            const int x = screen.CursorX();
            const int y = screen.CursorY();
            const auto start = Clock::now();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            QCoreApplication::sendEvent(&screen, &key);
            Spin([&] { return screen.CursorX() != x || screen.CursorY() != y; });
            micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    state.counters["median_ms"] = Percentile(micros, 0.5) / 1000.0;
    state.counters["p99_ms"] = Percentile(micros, 0.99) / 1000.0;
    window.ShutDown();
}

// What the same keystroke waits with a thread that only looks every 100 ms:
// data arrives at a random moment and is seen at the next poll.
void BM_EchoLatencyWithPurePolling(benchmark::State& state) {
    std::vector<double> micros;
    std::mt19937 random(11);
    for (auto _ : state) {
        micros.clear();
        std::atomic<bool> arrived{false};
        std::atomic<bool> stop{false};
        std::atomic<Clock::rep> seen{0};
        std::thread poller([&] {
            while (!stop) {
                std::this_thread::sleep_for(TTelnet::kPollPeriod);
                if (arrived.exchange(false)) {
                    seen = Clock::now().time_since_epoch().count();
                }
            }
        });
        for (int i = 0; i < kPollSamples; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
            seen = 0;
            const auto start = Clock::now();
            arrived = true;
            while (seen == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            const Clock::time_point end{Clock::duration(seen.load())};
            micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        stop = true;
        poller.join();
    }
    state.counters["median_ms"] = Percentile(micros, 0.5) / 1000.0;
    state.counters["p99_ms"] = Percentile(micros, 0.99) / 1000.0;
}

using bench::Screen;

struct SessionTimes {
    Clock::time_point started;
    Clock::time_point firstShown;
    Clock::time_point ended;
};

// Runs one Telnet session against a peer sending `bytes`, until the line
// has ended after the peer's close (everything delivered).
SessionTimes RunSession(const std::vector<std::uint8_t>& bytes, int speed,
                        TLineProtocol protocol = TLineProtocol::Telnet) {
    Screen().WriteByte(125);
    SendingPeer peer(bytes);
    bool ended = false;
    SessionTimes times;
    times.started = Clock::now();
    auto* telnet = new TTelnet("127.0.0.1", peer.PortText(), speed, Screen().Model(), nullptr,
                               SystemHostLookup, protocol);
    QObject::connect(telnet, &TConnectionThread::Ended, [&] { ended = true; });
    telnet->Start(QThread::LowPriority);
    // The event loop sleeps between events, so the two cores stay with the
    // peer and the connection thread; a timer looks for the first byte.
    bool shown = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!shown && Screen().Cell(1, 1) != ' ') {
            shown = true;
            times.firstShown = Clock::now();
        }
    });
    look.start(0);
    while (!ended) {
        if (shown) {
            look.stop();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    times.ended = Clock::now();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return times;
}

void BM_UnthrottledThroughput(benchmark::State& state) {
    LabelProtocol(state);
    std::vector<std::uint8_t> flood(kFloodBytes);
    for (std::size_t i = 0; i < flood.size(); ++i) {
        flood[i] = i % 41 == 40 ? 155 : static_cast<std::uint8_t>('A' + i % 26);
    }
    double seconds = 0;
    for (auto _ : state) {
        const SessionTimes times = RunSession(flood, kUnthrottledSpeed, ProtocolOf(state));
        seconds = std::chrono::duration<double>(times.ended - times.started).count();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFloodBytes));
    state.counters["MB_per_s"] = static_cast<double>(kFloodBytes) / 1e6 / seconds;
}

void BM_LivePacingAccuracy(benchmark::State& state) {
    const int speed = static_cast<int>(state.range(0));
    const int delay = ThrottleDelay(speed);
    const double seconds = speed == 300 ? 8.0 : 3.0;
    const auto count = static_cast<std::size_t>(seconds * 1000.0 / delay);
    const std::vector<std::uint8_t> page(count, 'P');
    double ratio = 0;
    for (auto _ : state) {
        const SessionTimes times = RunSession(page, speed);
        const double paced = std::chrono::duration<double>(times.ended - times.firstShown).count();
        state.SetIterationTime(paced);
        ratio = (static_cast<double>(count - 1) / paced) / (1000.0 / delay);
    }
    state.counters["bytes_per_s_target"] = 1000.0 / delay;
    state.counters["off_by_percent"] = (ratio - 1.0) * 100.0;
}

} // namespace

BENCHMARK(BM_EchoLatency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EchoLatencyWithPurePolling)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnthrottledThroughput)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LivePacingAccuracy)
    ->Arg(2400)
    ->Arg(300)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
