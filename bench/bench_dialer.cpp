// LoadHosts of a large host directory into the grid (target: 5000 hosts in
// 100 ms or less).
#include "directory/dialer.h"
#include "directory/memory_settings_store.h"

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <string>

namespace {

void FillStore(telvora::TMemorySettingsStore& store, int hosts) {
    // Added in a scrambled order so that the sort has work to do.
    for (int i = 0; i < hosts; ++i) {
        const int n = (i * 7919) % hosts;
        const std::string description =
            (n % 2 ? "board " : "Board ") + std::to_string(n) + " of the directory";
        store.PutString(telvora::THostDirectory::kDirectoryKey, description,
                        "bbs" + std::to_string(n) + ".example.org");
        store.PutString(telvora::THostDirectory::kDirectoryKey, description + "-PORT",
                        std::to_string(23 + n % 1000));
    }
}

void BM_DialerLoadHosts(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    telvora::TMemorySettingsStore store;
    FillStore(store, hosts);
    telvora::TDialer dialer(store);
    dialer.show();
    auto* grid = dialer.findChild<QTableView*>(QStringLiteral("HyperGrid1"));
    for (auto _ : state) {
        dialer.LoadHosts();
        // Include laying out and painting the visible part of the grid.
        grid->viewport()->repaint();
    }
    if (grid->model()->rowCount() != hosts + 1) {
        state.SkipWithError("the grid does not hold every host");
    }
    state.SetItemsProcessed(state.iterations() * hosts);
}
BENCHMARK(BM_DialerLoadHosts)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

// The list rules alone, without the grid.
void BM_HostDirectoryLoadHosts(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    telvora::TMemorySettingsStore store;
    FillStore(store, hosts);
    telvora::THostDirectory directory(store);
    for (auto _ : state) {
        directory.LoadHosts();
        benchmark::DoNotOptimize(directory.RowCount());
    }
    state.SetItemsProcessed(state.iterations() * hosts);
}
BENCHMARK(BM_HostDirectoryLoadHosts)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
