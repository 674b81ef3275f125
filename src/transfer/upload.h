#pragma once

#include "transfer/block_sender.h"
#include "transfer/sender_files.h"
#include "transfer/transfer_window.h"

#include <functional>
#include <string>
#include <vector>

namespace telvora {

// The upload window ("Upload Files"), which owns the block sender.
class TUpload : public TTransferWindow {
    Q_OBJECT

public:
    explicit TUpload(QWidget* parent = nullptr);
    ~TUpload() override;

    // Prepares an upload of the files over the line (every one is opened
    // now; raises ETransferFileError when one cannot be read, with nothing
    // sent). endTransferMode gives the received bytes back to the screen.
    // Show the window with exec() afterwards.
    void Start(TLiveConnection* line, TSendProtocol protocol, const std::vector<std::string>& paths,
               std::function<void()> endTransferMode);
    bool Running() const override { return m_sender.Running(); }
    TTransferProgress Progress() const override { return m_sender.Progress(); }

private:
    void Tick() override { m_sender.TimeoutTimer(); }
    void UserCancel() override { m_sender.UserCancel(); }
    void LineLost() override { m_sender.TransportLost(); }

    TDiskSource m_files;
    TBlockSender m_sender;
};

} // namespace telvora
