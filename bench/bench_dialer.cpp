// LoadHosts of a large host directory into the grid (target: 5000 hosts in
// 100 ms or less).
#include "directory/dialer.h"
#include "directory/memory_settings_store.h"
#include "directory/qt_settings_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

#include <sys/stat.h>

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

// Settings files the store must not choke on (target: within a second
// each): 0 a FIFO, 1 a file of one 50 MB value (both refused unread), 2 a
// file just under the size bound holding one value too long for any entry
// (read, the value skipped).
void BM_QtStoreBrokenFile(benchmark::State& state) {
    QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QDir().mkpath(folder.filePath(QStringLiteral("Marrowby")));
    const QByteArray path =
        QFile::encodeName(folder.filePath(QStringLiteral("Marrowby/Telvora.conf")));
    QFile file(QString::fromLocal8Bit(path));
    bool made = false;
    switch (state.range(0)) {
    case 0:
        made = ::mkfifo(path.constData(), 0600) == 0;
        break;
    case 1:
        made = file.open(QIODevice::WriteOnly) && file.write("[General]\nClub=") > 0 &&
               file.resize(50 << 20);
        break;
    default:
        made = file.open(QIODevice::WriteOnly) &&
               file.write("[General]\nClub=" +
                          QByteArray(telvora::TQtSettingsStore::kMaxFileBytes - 100, 'x') +
                          "\nClub-PORT=23\n") > 0;
        break;
    }
    file.close();
    if (!made) {
        state.SkipWithError("cannot make the file");
        return;
    }
    telvora::TQtSettingsStore store(QStringLiteral("Marrowby"), QStringLiteral("Telvora"));
    telvora::THostDirectory directory(store);
    for (auto _ : state) {
        directory.LoadHosts();
    }
    if (directory.LoadProblem().empty()) {
        state.SkipWithError("the file was not refused");
    }
}
BENCHMARK(BM_QtStoreBrokenFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace
