#pragma once

#include "transfer/send_protocol.h"
#include "transfer/zmodem/zmodem_receiver.h"

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
class TZmodemDownload;
class TZmodemUpload;

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
    // dialog: X-Modem sends one file, Y-Modem and ZMODEM the files in this order. False
    // when no line runs, a transfer runs, or a file cannot be read (the user
    // is told).
    bool SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths);
    // ZMODEM: the files the sender names into the folder, existing ones
    // treated as ExistingFiles says; the files sent in this order.
    bool ReceiveZmodem(const std::string& folder);
    bool SendZmodem(const std::vector<std::string>& paths);

    // What a ZMODEM download does with a file that is already there: Ask
    // (the window, once per transfer), or a fixed choice (the command line).
    void SetExistingFiles(TExistingFile existing) { m_existing = existing; }
    TExistingFile ExistingFiles() const { return m_existing; }
    // Where a ZMODEM send the other side begins goes: the last folder
    // chosen in the Download menu, the command line's, or the user's
    // download folder.
    void SetDownloadFolder(const std::string& folder) { m_downloadFolder = folder; }
    const std::string& DownloadFolder() const { return m_downloadFolder; }

    // The menus' entries: the save dialog (X-Modem), the folder chooser
    // (batches), the open dialog (uploads).
    void SaveFileClick();
    void ChooseFolderClick();
    void UploadClick(TSendProtocol protocol);
    void ZmodemDownloadClick();
    void ZmodemUploadClick();

    TProtocol* Protocol() const { return m_protocol; }
    TUpload* Upload() const { return m_upload; }
    TZmodemDownload* ZmodemDownload() const { return m_zmodemDownload; }
    TZmodemUpload* ZmodemUpload() const { return m_zmodemUpload; }
    TChooseDir* ChooseDir() const { return m_chooseDir; }
    // Every transfer window: downloads and uploads, blocks and ZMODEM.
    std::array<TTransferWindow*, 4> TransferWindows() const;

private:
    bool Receive(bool batch, const std::string& where);
    // The other side began a ZMODEM send: taken into the download folder,
    // or declined when another transfer runs or it cannot start.
    void RemoteSendStarted();
    // The folder chooser, whose choice also becomes the download folder.
    bool ChooseFolder(std::string& folder);
    std::vector<std::string> ChooseUploads(bool several);
    bool TransferRunning() const;
    // Runs the prepared transfer window until the user closes it; start
    // prepares it over the line, with the step that gives the line back
    // when the transfer ends, and raises when it cannot begin (the user is
    // told).
    using TStart =
        std::function<void(TLiveConnection* line, const std::function<void()>& endTransferMode)>;
    bool RunTransfer(TTransferWindow& window, const TStart& start);

    QWidget& m_window;
    TSession& m_session;
    TProtocol* m_protocol;
    TUpload* m_upload;
    TZmodemDownload* m_zmodemDownload;
    TZmodemUpload* m_zmodemUpload;
    TChooseDir* m_chooseDir;
    QFileDialog* m_saveDialog = nullptr;
    QFileDialog* m_openDialog = nullptr;
    TExistingFile m_existing = TExistingFile::Ask;
    std::string m_downloadFolder;
};

} // namespace telvora
