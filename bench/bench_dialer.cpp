// LoadHosts of a large host directory into the grid (target: 5000 hosts in
// 100 ms or less).
#include "directory/dialer.h"
#include "directory/memory_settings_store.h"
#include "directory/qt_settings_store.h"

#include <QApplication>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>

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

// Loads the hosts into the window's grid, laying out and painting its
// visible part each time.
void LoadIntoGrid(benchmark::State& state, telvora::TDialer& dialer, int hosts) {
    dialer.show();
    auto* grid = dialer.findChild<QTableView*>(QStringLiteral("HyperGrid1"));
    for (auto _ : state) {
        dialer.LoadHosts();
        grid->viewport()->repaint();
    }
    if (grid->model()->rowCount() != hosts + 1) {
        state.SkipWithError("the grid does not hold every host");
    }
    state.SetItemsProcessed(state.iterations() * hosts);
}

void BM_DialerLoadHosts(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    telvora::TMemorySettingsStore store;
    FillStore(store, hosts);
    telvora::TDialer dialer(store);
    LoadIntoGrid(state, dialer, hosts);
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

// A host directory of that many hosts in the QSettings file of a temporary
// configuration folder, never the user's own.
class TFileStoreFolder {
public:
    explicit TFileStoreFolder(int hosts) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path());
        telvora::TMemorySettingsStore source;
        FillStore(source, hosts);
        telvora::TQtSettingsStore store(QStringLiteral("Marrowby"), QStringLiteral("Telvora"));
        store.DeleteKey(telvora::THostDirectory::kDirectoryKey);
        store.OpenKey(telvora::THostDirectory::kDirectoryKey);
        for (const auto& [folded, value] : source.Values(telvora::THostDirectory::kDirectoryKey)) {
            store.WriteString(value.Name, value.Data);
        }
        m_written = m_folder.isValid() && store.CloseKey();
    }
    bool Written() const { return m_written; }

private:
    QTemporaryDir m_folder;
    bool m_written = false;
};

// The list rules through the QSettings file. The file of 5000 hosts is larger
// than QSettings keeps parsed between sessions, so each load reads it anew.
void BM_QtStoreLoadHosts(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    const TFileStoreFolder folder(hosts);
    if (!folder.Written()) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    telvora::TQtSettingsStore store(QStringLiteral("Marrowby"), QStringLiteral("Telvora"));
    telvora::THostDirectory directory(store);
    for (auto _ : state) {
        directory.LoadHosts();
    }
    if (directory.RowCount() != hosts + 1) {
        state.SkipWithError("the list does not hold every host");
    }
    state.SetItemsProcessed(state.iterations() * hosts);
}
BENCHMARK(BM_QtStoreLoadHosts)->Arg(5000)->Unit(benchmark::kMillisecond);

// What the user waits for: the window as the program builds it, over the
// QSettings file, loading into the grid and painting it.
void BM_DialerLoadHostsFromFile(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    const TFileStoreFolder folder(hosts);
    if (!folder.Written()) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    telvora::TDialer dialer;
    LoadIntoGrid(state, dialer, hosts);
}
BENCHMARK(BM_DialerLoadHostsFromFile)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace
