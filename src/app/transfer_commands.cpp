#include "app/transfer_commands.h"

#include "app/file_dialogs.h"
#include "app/session.h"
#include "common/qt_text.h"
#include "transfer/choose_dir.h"
#include "transfer/transfer_window.h"

#include <QApplication>

namespace telvora {

namespace {

TTransferWindow* MakeWindow(QWidget& parent, TTransferKind kind) {
    return new TTransferWindow(&parent, TTransferWindow::CaptionsFor(kind));
}

} // namespace

TTransferCommands::TTransferCommands(QWidget& window, TSession& session)
    : QObject(&window), m_window(window), m_session(session),
      m_protocol(MakeWindow(window, TTransferKind::ReceiveFile)),
      m_upload(MakeWindow(window, TTransferKind::SendBlocks)),
      m_zmodemDownload(MakeWindow(window, TTransferKind::ReceiveZmodem)),
      m_zmodemUpload(MakeWindow(window, TTransferKind::SendZmodem)),
      m_chooseDir(new TChooseDir(&window)) {
    for (TTransferWindow* transfer : TransferWindows()) {
        connect(transfer, &TTransferWindow::CancelAsked, &m_session, &TSession::CancelTransfer);
    }
    connect(&m_session, &TSession::TransferStarted, this, &TTransferCommands::Started);
    connect(&m_session, &TSession::TransferProgress, this,
            [this](const TTransferProgress& progress) {
                if (m_current != nullptr) {
                    m_current->Show(progress);
                }
            });
    connect(&m_session, &TSession::TransferAlert, this, [] { QApplication::beep(); });
    // Outside the step that reported it: the question runs its own loop.
    connect(&m_session, &TSession::TransferAsks, this, &TTransferCommands::Asks,
            Qt::QueuedConnection);
}

bool TTransferCommands::ReceiveFile(const std::string& path) {
    return ReceiveInto(TTransferKind::ReceiveFile, path);
}

bool TTransferCommands::ReceiveBatch(const std::string& folder) {
    return ReceiveInto(TTransferKind::ReceiveBatch, folder);
}

bool TTransferCommands::ReceiveStreamedBatch(const std::string& folder) {
    return ReceiveInto(TTransferKind::ReceiveStreamedBatch, folder);
}

bool TTransferCommands::ReceiveZmodem(const std::string& folder) {
    return ReceiveInto(TTransferKind::ReceiveZmodem, folder);
}

bool TTransferCommands::ReceiveInto(TTransferKind kind, const std::string& where) {
    TTransferRequest request;
    request.kind = kind;
    request.where = where;
    request.existing = m_session.ExistingFiles();
    return Run(request);
}

bool TTransferCommands::SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths) {
    TTransferRequest request;
    request.kind =
        protocol == TSendProtocol::Zmodem ? TTransferKind::SendZmodem : TTransferKind::SendBlocks;
    request.protocol = protocol;
    request.files = paths;
    return Run(request);
}

bool TTransferCommands::SendZmodem(const std::vector<std::string>& paths) {
    return SendFiles(TSendProtocol::Zmodem, paths);
}

std::array<TTransferWindow*, 4> TTransferCommands::TransferWindows() const {
    return {m_protocol, m_upload, m_zmodemDownload, m_zmodemUpload};
}

TTransferWindow& TTransferCommands::WindowFor(TTransferKind kind) const {
    switch (kind) {
    case TTransferKind::SendBlocks:
        return *m_upload;
    case TTransferKind::ReceiveZmodem:
        return *m_zmodemDownload;
    case TTransferKind::SendZmodem:
        return *m_zmodemUpload;
    case TTransferKind::ReceiveFile:
    case TTransferKind::ReceiveBatch:
    case TTransferKind::ReceiveStreamedBatch:
        break;
    }
    return *m_protocol;
}

bool TTransferCommands::Run(const TTransferRequest& request) {
    m_starting = true;
    const bool started = m_session.StartTransfer(request);
    m_starting = false;
    if (!started) {
        return false;
    }
    WindowFor(request.kind).exec();
    return true;
}

void TTransferCommands::Started(const TTransferRequest& request) {
    m_current = &WindowFor(request.kind);
    // The last transfer's window, ended and still open, would stand modal
    // in front of this one's Cancel.
    for (TTransferWindow* window : TransferWindows()) {
        if (window != m_current && window->isVisible()) {
            window->done(QDialog::Accepted);
        }
    }
    m_current->Begin();
    if (m_starting) {
        return;
    }
    // Begun by the board or the command line: shown without a loop of its
    // own, so that the step that started it goes on.
    if (!m_current->isVisible()) {
        m_current->open();
    }
}

void TTransferCommands::Asks(const QString& path) {
    if (m_current == nullptr) {
        return;
    }
    if (const std::optional<TExistingFile> choice = m_current->AskExisting(path)) {
        m_session.AnswerExisting(*choice);
    }
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

void TTransferCommands::StreamedBatchClick() {
    std::string folder;
    if (ChooseFolder(folder)) {
        ReceiveStreamedBatch(folder);
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
    m_session.SetDownloadFolder(folder);
    return true;
}

} // namespace telvora
