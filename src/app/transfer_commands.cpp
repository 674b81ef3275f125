#include "app/transfer_commands.h"

#include "app/file_dialogs.h"
#include "app/session.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "connection/live_connection.h"
#include "transfer/choose_dir.h"
#include "transfer/protocol.h"
#include "transfer/upload.h"
#include "transfer/zmodem_download.h"
#include "transfer/zmodem_upload.h"

#include <QStandardPaths>

#include <algorithm>

namespace telvora {

TTransferCommands::TTransferCommands(QWidget& window, TSession& session)
    : QObject(&window), m_window(window), m_session(session), m_protocol(new TProtocol(&window)),
      m_upload(new TUpload(&window)), m_zmodemDownload(new TZmodemDownload(&window)),
      m_zmodemUpload(new TZmodemUpload(&window)), m_chooseDir(new TChooseDir(&window)),
      m_downloadFolder(
          FileNameToSystem(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))) {
    // Outside the line's own step: the transfer window runs its own loop.
    connect(&m_session, &TSession::RemoteSendStarted, this, &TTransferCommands::RemoteSendStarted,
            Qt::QueuedConnection);
}

bool TTransferCommands::ReceiveFile(const std::string& path) {
    return Receive(false, path);
}

bool TTransferCommands::ReceiveBatch(const std::string& folder) {
    return Receive(true, folder);
}

bool TTransferCommands::Receive(bool batch, const std::string& where) {
    return RunTransfer(*m_protocol,
                       [&](TLiveConnection* line, const std::function<void()>& endTransferMode) {
                           if (batch) {
                               m_protocol->StartBatch(line, where, endTransferMode);
                           } else {
                               m_protocol->StartSingle(line, where, endTransferMode);
                           }
                       });
}

bool TTransferCommands::SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths) {
    if (protocol == TSendProtocol::Zmodem) {
        return SendZmodem(paths);
    }
    return RunTransfer(*m_upload,
                       [&](TLiveConnection* line, const std::function<void()>& endTransferMode) {
                           m_upload->Start(line, protocol, paths, endTransferMode);
                       });
}

bool TTransferCommands::ReceiveZmodem(const std::string& folder) {
    return RunTransfer(*m_zmodemDownload,
                       [&](TLiveConnection* line, const std::function<void()>& endTransferMode) {
                           m_zmodemDownload->Start(line, folder, m_existing, endTransferMode);
                       });
}

bool TTransferCommands::SendZmodem(const std::vector<std::string>& paths) {
    return RunTransfer(*m_zmodemUpload,
                       [&](TLiveConnection* line, const std::function<void()>& endTransferMode) {
                           m_zmodemUpload->Start(line, paths, endTransferMode);
                       });
}

void TTransferCommands::RemoteSendStarted() {
    // One transfer at a time: with another one running, or when this one
    // cannot begin, what the line held goes to the screen.
    if (TransferRunning() || !ReceiveZmodem(m_downloadFolder)) {
        m_session.DeclineRemoteSend();
    }
}

std::array<TTransferWindow*, 4> TTransferCommands::TransferWindows() const {
    return {m_protocol, m_upload, m_zmodemDownload, m_zmodemUpload};
}

bool TTransferCommands::TransferRunning() const {
    const auto windows = TransferWindows();
    return std::any_of(windows.begin(), windows.end(),
                       [](const TTransferWindow* window) { return window->Running(); });
}

bool TTransferCommands::RunTransfer(TTransferWindow& window, const TStart& start) {
    if (TransferRunning()) {
        return false;
    }
    TLiveConnection* line =
        m_session.TakeLine(window.Sink(), [&window] { window.TransportLost(); });
    if (line == nullptr) {
        return false;
    }
    try {
        start(line, [this] { m_session.ReleaseLine(); });
    } catch (const std::exception& failure) {
        m_session.ReleaseLine();
        window.TransportLost();
        ShowMessage(&m_window, FromUtf8(failure.what()));
        return false;
    }
    window.exec();
    return true;
}

void TTransferCommands::UploadClick(TSendProtocol protocol) {
    const std::vector<std::string> chosen = ChooseUploads(protocol == TSendProtocol::YModem);
    if (!chosen.empty()) {
        SendFiles(protocol, chosen);
    }
}

void TTransferCommands::ZmodemUploadClick() {
    const std::vector<std::string> chosen = ChooseUploads(true);
    if (!chosen.empty()) {
        SendZmodem(chosen);
    }
}

std::vector<std::string> TTransferCommands::ChooseUploads(bool several) {
    QFileDialog& dialog = KeptFileDialog(m_openDialog, &m_window, "OpenDialog1",
                                         QStringLiteral("Upload"), QFileDialog::AcceptOpen);
    dialog.setWindowTitle(several ? QStringLiteral("Files To Upload")
                                  : QStringLiteral("File To Upload"));
    dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    return ChosenFiles(dialog);
}

void TTransferCommands::SaveFileClick() {
    // A save dialog asks before an existing file is replaced.
    QFileDialog& dialog = KeptFileDialog(m_saveDialog, &m_window, "SaveDialog1",
                                         QStringLiteral("Save File As"), QFileDialog::AcceptSave);
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        ReceiveFile(chosen.front());
    }
}

void TTransferCommands::ChooseFolderClick() {
    std::string folder;
    if (ChooseFolder(folder)) {
        ReceiveBatch(folder);
    }
}

void TTransferCommands::ZmodemDownloadClick() {
    std::string folder;
    if (ChooseFolder(folder)) {
        ReceiveZmodem(folder);
    }
}

bool TTransferCommands::ChooseFolder(std::string& folder) {
    if (m_chooseDir->exec() != QDialog::Accepted) {
        return false;
    }
    folder = FileNameToSystem(m_chooseDir->SelectedFolder());
    m_downloadFolder = folder;
    return true;
}

} // namespace telvora
