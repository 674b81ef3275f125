#pragma once

#include "common/hand_over.h"
#include "connection/chunk_sink.h"
#include "transfer/block_receiver.h"
#include "transfer/block_timer.h"
#include "transfer/receiver_files.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QLabel;
class QPushButton;

namespace telvora {

class TLiveConnection;

// The transfer window ("Download Files"): the file name, the counters and
// the status of the running download, and one button that first cancels
// and then closes. It owns the block receiver and its timer; the bytes come
// from the live line's thread, the ticks and the button from this one.
class TProtocol : public QDialog, private TReceiverPort {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 448;
    static constexpr int kClientHeight = 101;

    explicit TProtocol(QWidget* parent = nullptr);
    ~TProtocol() override;

    // Prepares a download over the line: into one file (created now; raises
    // ETransferFileError when it cannot be) or into a folder. endTransferMode
    // gives the received bytes back to the screen. Show the window with
    // exec() afterwards; the download runs until an ending, and the window
    // stays until the user closes it.
    void StartSingle(TLiveConnection* line, const std::string& path,
                     std::function<void()> endTransferMode);
    void StartBatch(TLiveConnection* line, const std::string& folder,
                    std::function<void()> endTransferMode);
    // What the line's thread hands the bytes to while the transfer runs.
    std::shared_ptr<TChunkSink> Sink() const { return m_sink; }
    // The line has ended: nothing more goes to it.
    void TransportLost();
    // The line the running or last download replies through; null once lost.
    const TLiveConnection* Line() const { return m_line; }
    bool Running() const { return m_receiver.Running(); }
    TTransferProgress Progress() const { return m_receiver.Progress(); }

    QLabel* lFilename = nullptr;
    QLabel* lBytes = nullptr;
    QLabel* lBlocks = nullptr;
    QLabel* lErrors = nullptr;
    QLabel* lStatus = nullptr;
    QPushButton* BitBtn1 = nullptr;

Q_SIGNALS:
    // Every change the window shows, and the ending, on this thread.
    void ProgressShown(const telvora::TTransferProgress& progress);

public Q_SLOTS:
    // "Cancel" cancels and the window stays; "Close" closes it.
    void BitBtn1Click();
    void reject() override;

private:
    // TReceiverPort, called with the receiver's lock held, from either thread.
    void SendReply(std::uint8_t byte) override;
    void ShowProgress(const TTransferProgress& progress) override;
    void Alert() override;
    void EndTransferMode() override;
    void ArmTimer(int intervalMs) override;
    void DisableTimer() override;

    void BuildWindow();
    void Begin(TLiveConnection* line, std::function<void()> endTransferMode);
    void Apply(const TTransferProgress& progress);
    void ApplyPending();

    THandOver m_ui;
    TBlockTimer m_blockTimer;
    TDiskFiles m_files;
    TBlockReceiver m_receiver;
    std::shared_ptr<TChunkSink> m_sink;
    // Set while a download may reply; read under the receiver's lock.
    TLiveConnection* m_line = nullptr;
    std::function<void()> m_endTransferMode;

    // Progress comes once per block, thousands a second: the window shows
    // the latest at most every kShowIntervalMs, and every ending at once.
    static constexpr int kShowIntervalMs = 50;
    std::mutex m_progressMutex;
    TTransferProgress m_pending; // guarded by m_progressMutex
    bool m_applyQueued = false;  // guarded by m_progressMutex
    QTimer m_applyTimer;
    QElapsedTimer m_sinceApply;
};

} // namespace telvora
