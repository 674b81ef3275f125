#include "app/transfer_commands.h"

#include "app/file_dialogs.h"
#include "app/session.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "connection/live_connection.h"
#include "transfer/choose_dir.h"
#include "transfer/protocol.h"
#include "transfer/upload.h"

namespace telvora {

TTransferCommands::TTransferCommands(QWidget& window, TSession& session)
    : QObject(&window), m_window(window), m_session(session), m_protocol(new TProtocol(&window)),
      m_upload(new TUpload(&window)), m_chooseDir(new TChooseDir(&window)) {}

bool TTransferCommands::ReceiveFile(const std::string& path) {
    return Receive(false, path);
}

bool TTransferCommands::ReceiveBatch(const std::string& folder) {
    return Receive(true, folder);
}

bool TTransferCommands::Receive(bool batch, const std::string& where) {
    return RunTransfer(*m_protocol, [&](TLiveConnection* line) {
        auto endTransferMode = [this] { m_session.ReleaseLine(); };
        if (batch) {
            m_protocol->StartBatch(line, where, endTransferMode);
        } else {
            m_protocol->StartSingle(line, where, endTransferMode);
        }
    });
}

bool TTransferCommands::SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths) {
    return RunTransfer(*m_upload, [&](TLiveConnection* line) {
        m_upload->Start(line, protocol, paths, [this] { m_session.ReleaseLine(); });
    });
}

std::array<TTransferWindow*, 2> TTransferCommands::TransferWindows() const {
    return {m_protocol, m_upload};
}

bool TTransferCommands::TransferRunning() const {
    return m_protocol->Running() || m_upload->Running();
}

bool TTransferCommands::RunTransfer(TTransferWindow& window,
                                    const std::function<void(TLiveConnection*)>& start) {
    if (TransferRunning()) {
        return false;
    }
    TLiveConnection* line =
        m_session.TakeLine(window.Sink(), [&window] { window.TransportLost(); });
    if (line == nullptr) {
        return false;
    }
    try {
        start(line);
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
    const bool batch = protocol == TSendProtocol::YModem;
    QFileDialog& dialog = KeptFileDialog(m_openDialog, &m_window, "OpenDialog1",
                                         QStringLiteral("Upload"), QFileDialog::AcceptOpen);
    dialog.setWindowTitle(batch ? QStringLiteral("Files To Upload")
                                : QStringLiteral("File To Upload"));
    dialog.setFileMode(batch ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        SendFiles(protocol, chosen);
    }
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
    if (m_chooseDir->exec() != QDialog::Accepted) {
        return;
    }
    ReceiveBatch(FileNameToSystem(m_chooseDir->SelectedFolder()));
}

} // namespace telvora
