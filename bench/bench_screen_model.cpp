// Throughput of the screen model: one byte at a time through the locked
// WriteByte, and whole blocks through WriteBlock.
#include "screen/shared_screen.h"

#include <benchmark/benchmark.h>

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

SharedScreen& FreshScreen() {
    static SharedScreen screen;
    screen.WithModel([](ScreenModel& model) {
        model.SetColumns(40);
        model.ClearScreen();
        model.TakeDamage();
    });
    return screen;
}

void RunWriteByte(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    SharedScreen& screen = FreshScreen();
    for (auto _ : state) {
        for (std::uint8_t byte : stream) {
            screen.WriteByte(byte);
        }
        screen.WithModel([](ScreenModel& model) { model.TakeDamage(); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void RunWriteBlock(benchmark::State& state, const std::vector<std::uint8_t>& stream) {
    SharedScreen& screen = FreshScreen();
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

} // namespace

BENCHMARK(BM_WriteByte_Printable);
BENCHMARK(BM_WriteByte_CaptureMix);
BENCHMARK(BM_WriteByte_ScrollHeavy);
BENCHMARK(BM_WriteBlock_Printable);
BENCHMARK(BM_WriteBlock_CaptureMix);
BENCHMARK(BM_WriteBlock_ScrollHeavy);

BENCHMARK_MAIN();
