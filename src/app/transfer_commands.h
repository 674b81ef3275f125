#pragma once

#include "transfer/send_protocol.h"

#include <QObject>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

namespace telvora {

class TChooseDir;
class TLiveConnection;
class TProtocol;
class TSession;
class TTransferWindow;
class TUpload;

// The Download and Upload menus' commands: their dialogs, the download and
// upload windows (made hidden at start and reused), and running one
// transfer over the session's live line at a time.
class TTransferCommands : public QObject {
    Q_OBJECT

public:
    // The window is the parent of the transfer windows and dialogs.
    TTransferCommands(QWidget& window, TSession& session);

    // Downloads over the live line, as the Download menu starts them after
    // its dialog: into one file, or the files a batch names into a folder.
    // The transfer window is shown modally until the user closes it (or
    // until it is closed for them). False when no line runs or the file
    // cannot be created (the user is told).
    bool ReceiveFile(const std::string& path);
    bool ReceiveBatch(const std::string& folder);
    // An upload over the live line, as the Upload menu starts it after its
    // dialog: X-Modem sends one file, Y-Modem the files in this order. False
    // when no line runs, a transfer runs, or a file cannot be read (the user
    // is told).
    bool SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths);

    // The menus' entries: the save dialog (X-Modem), the folder chooser
    // (batches), the open dialog (uploads).
    void SaveFileClick();
    void ChooseFolderClick();
    void UploadClick(TSendProtocol protocol);

    TProtocol* Protocol() const { return m_protocol; }
    TUpload* Upload() const { return m_upload; }
    TChooseDir* ChooseDir() const { return m_chooseDir; }
    // The download and the upload window.
    std::array<TTransferWindow*, 2> TransferWindows() const;

private:
    bool Receive(bool batch, const std::string& where);
    bool TransferRunning() const;
    // Runs the prepared transfer window until the user closes it; start
    // prepares it and raises when it cannot begin (the user is told).
    bool RunTransfer(TTransferWindow& window, const std::function<void(TLiveConnection*)>& start);

    QWidget& m_window;
    TSession& m_session;
    TProtocol* m_protocol;
    TUpload* m_upload;
    TChooseDir* m_chooseDir;
    QFileDialog* m_saveDialog = nullptr;
    QFileDialog* m_openDialog = nullptr;
};

} // namespace telvora
