#pragma once

#include "common/hand_over.h"
#include "transfer/transfer_window.h"
#include "transfer/zmodem/zmodem_files.h"
#include "transfer/zmodem/zmodem_receiver.h"

#include <functional>
#include <string>

class QMessageBox;

namespace telvora {

// The ZMODEM download window, which owns the ZMODEM receiver: the files the
// sender names go into one folder. When a file is already there and the
// choice is Ask, the user is asked once per transfer whether to resume,
// overwrite, rename or skip.
class TZmodemDownload : public TTransferWindow {
    Q_OBJECT

public:
    explicit TZmodemDownload(QWidget* parent = nullptr);
    ~TZmodemDownload() override;

    // Prepares a download into the folder over the line and sends the
    // receiver's first header; show the window with exec() afterwards.
    void Start(TLiveConnection* line, const std::string& folder, TExistingFile existing,
               std::function<void()> endTransferMode);
    bool Running() const override { return m_receiver.Running(); }
    TTransferProgress Progress() const override { return m_receiver.Progress(); }
    bool WaitingForChoice() const { return m_receiver.WaitingForChoice(); }
    // The question about an existing file while it is shown (tests answer it).
    QMessageBox* Question() const { return m_question; }

private:
    void Tick() override { m_receiver.TimeoutTimer(); }
    void UserCancel() override;
    void LineLost() override;
    // A question nobody needs an answer to any more is taken down.
    void DropQuestion();
    void AskExisting(const std::string& path);

    TZmodemDiskFiles m_files;
    TZmodemReceiver m_receiver;
    QMessageBox* m_question = nullptr;
    // Declared last: no question is asked on a half-gone window.
    THandOver m_ask;
};

} // namespace telvora
