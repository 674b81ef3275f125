// Throughput of the screen model: one byte at a time through the locked
// WriteByte, and whole blocks through WriteBlock; the same for lines of text
// that scroll into an emptied scrollback, and the scrollback's memory when full.
// Each throughput runs at 40 columns and at 80 (an XEP80), side by side.
#include "screen/scrollback.h"
#include "screen/shared_screen.h"

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace telvora;

namespace {

constexpr std::size_t kStreamSize = 1 << 20;

std::vector<std::uint8_t> Repeat(const std::vector<std::uint8_t>& pattern) {
    std::vector<std::uint8_t> stream;
    stream.reserve(kStreamSize);
    while (stream.size() < kStreamSize) {
        stream.insert(stream.end(), pattern.begin(), pattern.end());
    }
    stream.resize(kStreamSize);
    return stream;
}

std::vector<std::uint8_t> PrintableText() {
    const std::string text = "The quick brown fox jumps over the lazy dog 0123456789. ";
    return Repeat({text.begin(), text.end()});
}

// Every ATASCII test file one after the other: real screens with cursor
// moves, clears, inverse text and line ends.
std::vector<std::uint8_t> CaptureMix() {
    std::vector<std::uint8_t> mix;
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TELVORA_TESTDATA_DIR) + "/atascii")) {
        if (entry.path().extension() != ".md") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream file(path, std::ios::binary);
        mix.insert(mix.end(), std::istreambuf_iterator<char>(file),
                   std::istreambuf_iterator<char>());
    }
    return Repeat(mix);
}

std::vector<std::uint8_t> ScrollHeavy() {
    return Repeat({155});
}

// A message listing: short lines, each ending in End Of Line, so that the
// screen scrolls every line once it is full.
std::vector<std::uint8_t> ScrollingText() {
    const std::string line = "  42  Re: modem settings for 2400 baud\x9b";
    return Repeat({line.begin(), line.end()});
}

// At the width the benchmark's argument names: 40 columns, or an XEP80's 80.
SharedScreen& FreshScreen(const benchmark::State& state) {
    static SharedScreen screen;
    screen.WithModel([columns = static_cast<int>(state.range(0))](ScreenModel& model) {
        model.SetColumns(columns);
        model.ClearScreen();
        model.TakeDamage();
    });
    return screen;
}

void ReportScrollback(benchmark::State& state, SharedScreen& screen) {
    screen.WithModel([&state](const ScreenModel& model) {
        state.counters["scrollback_rows"] = static_cast<double>(model.History().Count());
        state.counters["scrollback_bytes"] = static_cast<double>(model.History().MemoryBytes());
    });
}

// Each pass starts from an empty scrollback, so it measures filling it (the
// rows reserved and first written) as well as dropping the oldest once full.
void RunScrollingText(benchmark::State& state, bool blockwise) {
    const std::vector<std::uint8_t> stream = ScrollingText();
    SharedScreen& screen = FreshScreen(state);
    for (auto _ : state) {
        screen.WithModel([](ScreenModel& model) { model.History().Clear(); });
        if (blockwise) {
            screen.WriteBlock(stream.data(), stream.size());
        } else {
            for (std::uint8_t byte : stream) {
                screen.WriteByte(byte);
            }
        }
        screen.WithModel([](ScreenModel& model) { model.TakeDamage(); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    ReportScrollback(state, screen);
}

void RunWriteByte(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    SharedScreen& screen = FreshScreen(state);
    for (auto _ : state) {
        for (std::uint8_t byte : stream) {
            screen.WriteByte(byte);
        }
        screen.WithModel([](ScreenModel& model) { model.TakeDamage(); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void RunWriteBlock(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    SharedScreen& screen = FreshScreen(state);
    for (auto _ : state) {
        screen.WriteBlock(stream.data(), stream.size());
        screen.WithModel([](ScreenModel& model) { model.TakeDamage(); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void BM_WriteByte_Printable(benchmark::State& state) {
    RunWriteByte(state, PrintableText());
}
void BM_WriteByte_CaptureMix(benchmark::State& state) {
    RunWriteByte(state, CaptureMix());
}
void BM_WriteByte_ScrollHeavy(benchmark::State& state) {
    RunWriteByte(state, ScrollHeavy());
}
void BM_WriteBlock_Printable(benchmark::State& state) {
    RunWriteBlock(state, PrintableText());
}
void BM_WriteBlock_CaptureMix(benchmark::State& state) {
    RunWriteBlock(state, CaptureMix());
}
void BM_WriteBlock_ScrollHeavy(benchmark::State& state) {
    RunWriteBlock(state, ScrollHeavy());
}
void BM_WriteByte_ScrollbackFilling(benchmark::State& state) {
    RunScrollingText(state, false);
}
void BM_WriteBlock_ScrollbackFilling(benchmark::State& state) {
    RunScrollingText(state, true);
}

// The memory of a full scrollback, printed as the scrollback_bytes counter.
void BM_Scrollback_Fill10000Rows(benchmark::State& state) {
    std::array<std::uint8_t, kScrollbackColumns> row;
    row.fill('x');
    std::size_t bytes = 0;
    for (auto _ : state) {
        Scrollback history;
        for (std::size_t n = 0; n < kScrollbackRows; ++n) {
            history.Push(row, row.size());
        }
        bytes = history.MemoryBytes();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["scrollback_rows"] = static_cast<double>(kScrollbackRows);
    state.counters["scrollback_bytes"] = static_cast<double>(bytes);
}

} // namespace

BENCHMARK(BM_WriteByte_Printable)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteByte_CaptureMix)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteByte_ScrollHeavy)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteBlock_Printable)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteBlock_CaptureMix)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteBlock_ScrollHeavy)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteByte_ScrollbackFilling)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_WriteBlock_ScrollbackFilling)->ArgName("columns")->Arg(40)->Arg(80);
BENCHMARK(BM_Scrollback_Fill10000Rows);

BENCHMARK_MAIN();
