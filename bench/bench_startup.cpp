// How long the program takes to start and stop, side by side in one run:
// telvora headless playing a one-byte movie, a minimal Qt Core program that
// starts an event loop and quits, a minimal Qt Widgets window that quits
// once it has painted, and telvora's window (offscreen) started, shown and
// closed by --exit-after 0 as soon as its event loop runs (about its time to
// the first paint, through the launcher). Each is the best of ten whole
// runs (fork, exec, load, run, exit). The target: telvora headless at most
// twice the Qt Core program.
//
// Needs the telvora program (TELVORA_BINARY) and the two minimal programs
// built beside this one (STARTUP_CORE, STARTUP_WIDGETS).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 10;

double BestOf(const std::string& command) {
    double best = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            return -1;
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void BM_StartToExit(benchmark::State& state) {
    const std::filesystem::path movie = std::filesystem::temp_directory_path() / "one-byte.ata";
    std::ofstream(movie, std::ios::binary) << 'A';
    const std::string quiet = " >/dev/null 2>&1";
    double headless = 0;
    double core = 0;
    double widgets = 0;
    double window = 0;
    for (auto _ : state) {
        headless = BestOf(std::string(TELVORA_BINARY) +
                          " --headless --speed max --exit-when-done " + movie.string() + quiet);
        core = BestOf(std::string(STARTUP_CORE) + quiet);
        widgets = BestOf("QT_QPA_PLATFORM=offscreen " + std::string(STARTUP_WIDGETS) + quiet);
        window = BestOf("QT_QPA_PLATFORM=offscreen " + std::string(TELVORA_BINARY) +
                        " --exit-after 0" + quiet);
        state.SetIterationTime(headless);
    }
    state.counters["headless_ms"] = headless * 1000;
    state.counters["qt_core_ms"] = core * 1000;
    state.counters["qt_widgets_ms"] = widgets * 1000;
    state.counters["window_ms"] = window * 1000;
    state.counters["headless_over_core"] = headless / core;
    std::printf("start to exit, best of %d: telvora headless %.1f ms, Qt Core %.1f ms, Qt Widgets "
                "window %.1f ms, telvora's window shown and closed %.1f ms; "
                "headless / Qt Core = %.2f (target <= 2.0)\n",
                kRuns, headless * 1000, core * 1000, widgets * 1000, window * 1000,
                headless / core);
    std::filesystem::remove(movie);
}
BENCHMARK(BM_StartToExit)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
