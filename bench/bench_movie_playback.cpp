// Movie playback: how closely the throttle keeps the line's byte rate, and
// how long an unthrottled 1 MB movie takes from start to its last byte painted.
#include "connection/play_atascii.h"
#include "connection/throttle.h"
#include "screen/crt_screen.h"
#include "support/bench_screen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

using namespace telvora;

namespace {

constexpr double kSecondsPerSpeed = 4.0;
constexpr std::size_t kLargeMovie = 1 << 20;

QString WriteMovie(const QTemporaryDir& dir, std::size_t size) {
    const QString path = dir.filePath(QStringLiteral("movie.ata"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    std::string bytes;
    bytes.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes += i % 61 == 60 ? '\x9b' : static_cast<char>('A' + i % 26);
    }
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

using bench::Screen;

// Plays the movie to its end; returns the seconds from start to the end steps.
double Play(const QString& path, int speed) {
    bool ended = false;
    QElapsedTimer timer;
    timer.start();
    auto* player = new TPlayAtascii(path.toStdString(), speed, Screen().Model());
    QObject::connect(player, &TConnectionThread::Ended, [&] { ended = true; });
    player->Start();
    while (!ended) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    // Let the player release itself before the next run.
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return seconds;
}

void BM_PacingAccuracy(benchmark::State& state) {
    const int speed = static_cast<int>(state.range(0));
    const int delay = ThrottleDelay(speed);
    const auto bytes = static_cast<std::size_t>(kSecondsPerSpeed * 1000.0 / delay);
    QTemporaryDir dir;
    const QString path = WriteMovie(dir, bytes);
    double ratio = 0;
    for (auto _ : state) {
        const double seconds = Play(path, speed);
        state.SetIterationTime(seconds);
        const double rate = static_cast<double>(bytes) / seconds;
        ratio = rate / (1000.0 / delay);
    }
    state.counters["bytes_per_s_target"] = 1000.0 / delay;
    state.counters["rate_ratio"] = ratio;
    state.counters["off_by_percent"] = (ratio - 1.0) * 100.0;
}

void BM_UnthrottledLargeMovie(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = WriteMovie(dir, kLargeMovie);
    for (auto _ : state) {
        state.SetIterationTime(Play(path, kUnthrottledSpeed));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeMovie));
}

// The same movie handed over one byte at a time, as a per-byte player would:
// measured on 64 KB and scaled to 1 MB, to show what the block hand-over saves.
void BM_PerByteHandOverLargeMovieEstimate(benchmark::State& state) {
    constexpr std::size_t kSample = 64 * 1024;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        QElapsedTimer timer;
        timer.start();
        std::thread worker([&] {
            for (std::size_t i = 0; i < kSample; ++i) {
                const auto byte = static_cast<std::uint8_t>('A' + i % 26);
                QMetaObject::invokeMethod(
                    &Screen(), [byte] { Screen().WriteByte(byte); }, Qt::BlockingQueuedConnection);
            }
            done = true;
        });
        while (!done) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        worker.join();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds * (static_cast<double>(kLargeMovie) / kSample));
    }
}

} // namespace

BENCHMARK(BM_PacingAccuracy)
    ->Arg(2400)
    ->Arg(1200)
    ->Arg(600)
    ->Arg(300)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnthrottledLargeMovie)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerByteHandOverLargeMovieEstimate)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
