#pragma once

#include "transfer/transfer_rate.h"
#include "transfer/transfer_request.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <optional>
#include <string>

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace telvora {

// The window of a running transfer, a view of what the session's transfer
// reports: the file name, the counters and the status, and one button that
// first asks to cancel and then closes (Escape presses it). Whenever the
// file's size is known (a Y-Modem or ZMODEM header says it, an upload always
// knows it) a bar shows how much of it has come and the time left. Progress
// comes thousands of times a second: the window shows the latest at most
// every 50 ms, and an ending at once.
class TTransferWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 448;
    // Rows 16 pixels apart, each as high as its text with descenders.
    static constexpr int kRowHeight = 16;
    static constexpr int kClientHeight = 135;

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
    // The downloads' and uploads' windows, by blocks and by ZMODEM.
    static TCaptions CaptionsFor(TTransferKind kind);

    TTransferWindow(QWidget* parent, const TCaptions& captions);

    // A new transfer is shown: the button cancels again.
    void Begin();
    void Show(const TTransferProgress& progress);
    // "1:05" or "1:02:03"; seconds rounded up.
    static QString TimeText(double seconds);

    // Whether what it shows has not ended, and the latest it was given.
    bool Running() const { return m_running; }
    const TTransferProgress& Progress() const { return m_latest; }

    // Asks what happens to a file already there and to every other of the
    // transfer; none when the question was taken down unanswered.
    std::optional<TExistingFile> AskExisting(const QString& path);
    // The question while it is shown (tests answer it).
    QMessageBox* Question() const { return m_question; }

    QLabel* lFilename = nullptr;
    QLabel* lBytes = nullptr;
    QLabel* lBlocks = nullptr;
    QLabel* lErrors = nullptr;
    QLabel* lStatus = nullptr;
    QLabel* lTimeLeft = nullptr;
    QProgressBar* pProgress = nullptr;
    QPushButton* BitBtn1 = nullptr;

Q_SIGNALS:
    // Every change the window shows, and the ending.
    void ProgressShown(const telvora::TTransferProgress& progress);
    // The button (or Escape) while the transfer runs.
    void CancelAsked();

public Q_SLOTS:
    // "Cancel" asks to cancel and the window stays; "Close" closes it.
    void BitBtn1Click();
    void reject() override;

private:
    void BuildWindow(const TCaptions& captions);
    void Apply(const TTransferProgress& progress);
    void ApplyPending();
    void DropQuestion();
    void ShowShare(const TTransferProgress& progress);

    static constexpr int kShowIntervalMs = 50;
    TTransferProgress m_latest;
    bool m_running = false;
    QTimer m_applyTimer;
    QElapsedTimer m_sinceApply;
    QMessageBox* m_question = nullptr;
    TRow m_second = TRow::Blocks;
    TTransferRate m_rate;
};

} // namespace telvora
