#include "transfer/zmodem_download.h"

#include "common/qt_text.h"

#include <QMessageBox>
#include <QPushButton>

namespace telvora {

TZmodemDownload::TZmodemDownload(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("ZmodemDownload"), QStringLiteral("ZMODEM Download"),
                               QStringLiteral("Bytes RX     :"), QStringLiteral("Rate         :"),
                               QStringLiteral("RX Errors    :"), TRow::Rate}),
      m_receiver(*this, m_files) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        return m_receiver.ReceiveChunk(data, count);
    });
    // Asked with the receiver's lock held, on any thread: the question
    // waits for this thread.
    m_receiver.SetAskExisting(
        [this](const std::string& path) { m_ask.Post([this, path] { AskExisting(path); }); });
}

TZmodemDownload::~TZmodemDownload() {
    m_ask.ShutDown();
    TransportLost();
}

void TZmodemDownload::Start(TLiveConnection* line, const std::string& folder,
                            TExistingFile existing, std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_receiver.Start(folder, existing);
    Started();
}

void TZmodemDownload::UserCancel() {
    DropQuestion();
    m_receiver.UserCancel();
}

void TZmodemDownload::LineLost() {
    DropQuestion();
    m_receiver.TransportLost();
}

void TZmodemDownload::DropQuestion() {
    if (m_question != nullptr) {
        m_question->reject();
    }
}

void TZmodemDownload::AskExisting(const std::string& path) {
    if (!m_receiver.WaitingForChoice() || m_question != nullptr) {
        return;
    }
    QMessageBox question(QMessageBox::Question, QStringLiteral("File Exists"),
                         FileNameFromSystem(path) +
                             QStringLiteral(" is already there. What should happen to it and to "
                                            "every other file of this transfer that is?"),
                         QMessageBox::NoButton, this);
    question.setObjectName(QStringLiteral("ExistingFileQuestion"));
    const std::pair<TExistingFile, QString> answers[] = {
        {TExistingFile::Resume, QStringLiteral("Resume")},
        {TExistingFile::Overwrite, QStringLiteral("Overwrite")},
        {TExistingFile::Rename, QStringLiteral("Rename")},
        {TExistingFile::Skip, QStringLiteral("Skip")}};
    for (const auto& [choice, caption] : answers) {
        QPushButton* button = question.addButton(caption, QMessageBox::AcceptRole);
        button->setObjectName(caption);
        button->setProperty("choice", static_cast<int>(choice));
    }
    question.setEscapeButton(question.buttons().constLast());
    m_question = &question;
    question.exec();
    m_question = nullptr;
    const QAbstractButton* clicked = question.clickedButton();
    // Closed without an answer (the transfer was cancelled meanwhile): skip.
    const TExistingFile choice =
        clicked != nullptr ? static_cast<TExistingFile>(clicked->property("choice").toInt())
                           : TExistingFile::Skip;
    m_receiver.Choose(choice);
}

} // namespace telvora
