// A full repaint of the Large screen, offscreen: 40 columns (960x576) and
// 80 columns (1280x576, twice the cells, each narrower).
#include "screen/crt_screen.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

using namespace telvora;

namespace {

void BM_FullRepaintLarge(benchmark::State& state) {
    const int columns = static_cast<int>(state.range(0));
    TCrtScreen screen;
    screen.SetColumns(columns);
    screen.SetRows(24);
    screen.SetFontDelta(16);
    // A screen full of mixed glyphs, inverse ones included.
    for (int i = 0; i < columns * 24 - 1; ++i) {
        const int code = 33 + (i * 7) % 90;
        screen.WriteByte(static_cast<std::uint8_t>(i % 3 == 0 ? code | 0x80 : code));
    }
    QImage target(screen.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        screen.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
        benchmark::DoNotOptimize(target.constBits());
    }
}

} // namespace

BENCHMARK(BM_FullRepaintLarge)->ArgName("columns")->Arg(40)->Arg(80)->Unit(benchmark::kMillisecond);
