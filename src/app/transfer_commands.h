#pragma once

#include "transfer/transfer_request.h"

#include <QObject>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QFileDialog;
class QWidget;

namespace telvora {

class TChooseDir;
class TSession;
class TTransferWindow;

// The Download and Upload menus' commands: their dialogs, and the download
// and upload windows (made hidden at start and reused), which show the
// session's transfer, whoever started it, and ask the session to cancel it.
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
    // dialog: X-Modem sends one file, Y-Modem and ZMODEM the files in this order. False
    // when no line runs, a transfer runs, or a file cannot be read (the user
    // is told).
    bool SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths);
    // ZMODEM: the files the sender names into the folder, existing ones
    // treated as ExistingFiles says; the files sent in this order.
    bool ReceiveZmodem(const std::string& folder);
    bool SendZmodem(const std::vector<std::string>& paths);

    // Y-Modem-G: the files a streaming batch names into the folder.
    bool ReceiveStreamedBatch(const std::string& folder);

    // The menus' entries: the save dialog (X-Modem), the folder chooser
    // (batches), the open dialog (uploads).
    void SaveFileClick();
    void ChooseFolderClick();
    void UploadClick(TSendProtocol protocol);
    void ZmodemDownloadClick();
    void StreamedBatchClick();
    void ZmodemUploadClick();

    TTransferWindow* Protocol() const { return m_protocol; }
    TTransferWindow* Upload() const { return m_upload; }
    TTransferWindow* ZmodemDownload() const { return m_zmodemDownload; }
    TTransferWindow* ZmodemUpload() const { return m_zmodemUpload; }
    TChooseDir* ChooseDir() const { return m_chooseDir; }
    // Every transfer window: downloads and uploads, blocks and ZMODEM.
    std::array<TTransferWindow*, 4> TransferWindows() const;

private:
    bool ReceiveInto(TTransferKind kind, const std::string& where);
    // Starts the transfer and shows its window until the user closes it.
    bool Run(const TTransferRequest& request);
    TTransferWindow& WindowFor(TTransferKind kind) const;
    void Started(const TTransferRequest& request);
    void Asks(const QString& path);
    // The folder chooser, whose choice also becomes the download folder.
    bool ChooseFolder(std::string& folder);
    std::vector<std::string> ChooseUploads(bool several);

    QWidget& m_window;
    TSession& m_session;
    TTransferWindow* m_protocol;
    TTransferWindow* m_upload;
    TTransferWindow* m_zmodemDownload;
    TTransferWindow* m_zmodemUpload;
    // The window of the running or last transfer.
    TTransferWindow* m_current = nullptr;
    // Set while Run starts a transfer: it shows the window itself.
    bool m_starting = false;
    TChooseDir* m_chooseDir;
    QFileDialog* m_saveDialog = nullptr;
    QFileDialog* m_openDialog = nullptr;
};

} // namespace telvora
