#pragma once

#include "common/hand_over.h"
#include "connection/chunk_sink.h"
#include "transfer/block_timer.h"
#include "transfer/transfer_port.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>

class QLabel;
class QPushButton;

namespace telvora {

class TLiveConnection;

// The window of a running transfer: the file name, the counters and the
// status, and one button that first cancels and then closes (Escape presses
// it). It carries out what the transfer's state machine asks of its port:
// the bytes to the live line, the progress (at most every 50 ms, an ending
// at once), the alert, the block timer, the end of the transfer mode. The
// bytes come from the line's thread, the ticks and the button from this one.
class TTransferWindow : public QDialog, protected TTransferPort {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 448;
    static constexpr int kClientHeight = 101;

    // What the second counter shows: the blocks, or (for a streaming
    // protocol, which has none to count) the rate in bytes a second.
    enum class TRow { Blocks, Rate };
    // The captions of one kind of transfer.
    struct TCaptions {
        QString objectName;
        QString title;
        QString bytes;
        QString blocks;
        QString errors;
        TRow second = TRow::Blocks;
    };

    TTransferWindow(QWidget* parent, const TCaptions& captions);
    ~TTransferWindow() override;

    // What the line's thread hands the bytes to while the transfer runs.
    std::shared_ptr<TChunkSink> Sink() const;
    // The line has ended: nothing more goes to it.
    void TransportLost();
    // The line the running or last transfer uses; null once lost.
    const TLiveConnection* Line() const { return m_line; }
    virtual bool Running() const = 0;
    virtual TTransferProgress Progress() const = 0;

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

protected:
    // Before the state machine starts: the line and how to end the transfer mode.
    void Begin(TLiveConnection* line, std::function<void()> endTransferMode);
    // After the state machine has started: the bytes that came since Begin
    // go to it, and from now on every byte as it comes.
    void Started();
    // The state machine's bytes from the line, its ticks, its cancel, its
    // line lost; the derived window's destructor calls TransportLost first.
    // receive returns how many bytes the state machine took (fewer once it
    // has ended: the rest goes to the screen).
    void SetSink(std::function<std::size_t(const std::uint8_t*, std::size_t)> receive);
    virtual void Tick() = 0;
    virtual void UserCancel() = 0;
    virtual void LineLost() = 0;

    // TTransferPort, called with the state machine's lock held, from either thread.
    void Send(const std::uint8_t* bytes, std::size_t count) override;
    void ShowProgress(const TTransferProgress& progress) override;
    void Alert() override;
    void EndTransferMode() override;
    void ArmTimer(int intervalMs) override;
    void DisableTimer() override;

private:
    void BuildWindow(const TCaptions& captions);
    void Apply(const TTransferProgress& progress);
    void ApplyPending();
    QString RateText(const TTransferProgress& progress);

    THandOver m_ui;
    TBlockTimer m_blockTimer;
    class TStartingSink;
    std::shared_ptr<TStartingSink> m_sink;
    // Set while a transfer may send; read under the state machine's lock.
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
    // The rate: bytes of the file at the last sample, and when it was taken.
    TRow m_second = TRow::Blocks;
    QElapsedTimer m_sinceSample;
    std::string m_sampleFile;
    std::int64_t m_sampleBytes = 0;
    QString m_rate;
};

} // namespace telvora
