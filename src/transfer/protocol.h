#pragma once

#include "transfer/block_receiver.h"
#include "transfer/receiver_files.h"
#include "transfer/transfer_window.h"

#include <functional>
#include <string>

namespace telvora {

// The download window ("Download Files"), which owns the block receiver.
class TProtocol : public TTransferWindow {
    Q_OBJECT

public:
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
    bool Running() const override { return m_receiver.Running(); }
    TTransferProgress Progress() const override { return m_receiver.Progress(); }

private:
    void Tick() override { m_receiver.TimeoutTimer(); }
    void UserCancel() override { m_receiver.UserCancel(); }
    void LineLost() override { m_receiver.TransportLost(); }

    TDiskFiles m_files;
    TBlockReceiver m_receiver;
};

} // namespace telvora
