// A full repaint of the Large (960x576) screen, offscreen.
#include "screen/crt_screen.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

using namespace telvora;

namespace {

void BM_FullRepaintLarge(benchmark::State& state) {
    TCrtScreen screen;
    screen.SetColumns(40);
    screen.SetRows(24);
    screen.SetFontDelta(16);
    // A screen full of mixed glyphs, inverse ones included.
    for (int i = 0; i < 40 * 24 - 1; ++i) {
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

BENCHMARK(BM_FullRepaintLarge)->Unit(benchmark::kMillisecond);
