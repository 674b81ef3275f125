#include "transfer/transfer_window.h"

#include "common/qt_text.h"
#include "common/window_placement.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace telvora {

namespace {

// A light grey close-up of a computer case with its cooling slots, drawn
// here: black text stays readable on it.
QPixmap CasePicture(int width, int height) {
    QPixmap picture(width, height);
    QPainter painter(&picture);
    QLinearGradient light(0, 0, 0, height);
    light.setColorAt(0.0, QColor(0xE4, 0xE2, 0xDC));
    light.setColorAt(1.0, QColor(0xC8, 0xC6, 0xC0));
    painter.fillRect(picture.rect(), light);
    // Slots along the right, as on the top of the case.
    for (int y = 6; y < height - 6; y += 7) {
        painter.fillRect(width - 86, y, 80, 3, QColor(0xA8, 0xA6, 0xA0));
        painter.fillRect(width - 86, y + 3, 80, 1, QColor(0xF2, 0xF0, 0xEA));
    }
    return picture;
}

QFont LabelFont() {
    QFont font(QStringLiteral("Terminal"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(12);
    return font;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                 int width) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(left, top, width, TTransferWindow::kRowHeight);
    label->setFont(LabelFont());
    // A file name is shown as it is: never as markup, never with a mnemonic.
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    return label;
}

} // namespace

TTransferWindow::TCaptions TTransferWindow::CaptionsFor(TTransferKind kind) {
    switch (kind) {
    case TTransferKind::ReceiveZmodem:
        return {QStringLiteral("ZmodemDownload"), QStringLiteral("ZMODEM Download"),
                QStringLiteral("Bytes RX     :"), QStringLiteral("Rate         :"),
                QStringLiteral("RX Errors    :"), TRow::Rate};
    case TTransferKind::SendZmodem:
        return {QStringLiteral("ZmodemUpload"),   QStringLiteral("ZMODEM Upload"),
                QStringLiteral("Bytes TX     :"), QStringLiteral("Rate         :"),
                QStringLiteral("TX Errors    :"), TRow::Rate};
    case TTransferKind::SendBlocks:
        return {QStringLiteral("Upload"), QStringLiteral("Upload Files"),
                QStringLiteral("Bytes TX     :"), QStringLiteral("Blocks TX    :"),
                QStringLiteral("TX Errors    :")};
    case TTransferKind::ReceiveFile:
    case TTransferKind::ReceiveBatch:
    case TTransferKind::ReceiveStreamedBatch:
        break;
    }
    return {QStringLiteral("Protocol"), QStringLiteral("Download Files"),
            QStringLiteral("Bytes RX     :"), QStringLiteral("Blocks RX    :"),
            QStringLiteral("RX Errors    :")};
}

TTransferWindow::TTransferWindow(QWidget* parent, const TCaptions& captions)
    : QDialog(parent), m_second(captions.second) {
    BuildWindow(captions);
    m_applyTimer.setSingleShot(true);
    connect(&m_applyTimer, &QTimer::timeout, this, &TTransferWindow::ApplyPending);
    m_sinceApply.start();
}

void TTransferWindow::BuildWindow(const TCaptions& captions) {
    setObjectName(captions.objectName);
    setWindowTitle(captions.title);
    // A tool window without a close box: the button is the only way out.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kClientWidth, kClientHeight);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(0, 0, kClientWidth, kClientHeight);
    image->setPixmap(CasePicture(kClientWidth, kClientHeight));
    AddLabel(this, "Label1", QStringLiteral("Filename     :"), 8, 5, 113);
    AddLabel(this, "Label3", captions.bytes, 8, 29, 113);
    AddLabel(this, "Label4", captions.blocks, 8, 45, 113);
    AddLabel(this, "Label5", captions.errors, 8, 61, 113);
    AddLabel(this, "Label7", QStringLiteral("Time Left    :"), 8, 77, 113);
    AddLabel(this, "Label8", QStringLiteral("Progress     :"), 8, 95, 113);
    AddLabel(this, "Label6", QStringLiteral("Status       :"), 8, 113, 113);
    constexpr int kValueWidth = kClientWidth - 128 - 8;
    lFilename = AddLabel(this, "lFilename", {}, 128, 5, kValueWidth);
    lBytes = AddLabel(this, "lBytes", {}, 128, 29, 233);
    lBlocks = AddLabel(this, "lBlocks", {}, 128, 45, 113);
    lErrors = AddLabel(this, "lErrors", {}, 128, 61, 113);
    lTimeLeft = AddLabel(this, "lTimeLeft", {}, 128, 77, 113);
    lStatus = AddLabel(this, "lStatus", {}, 128, 113, kValueWidth);
    pProgress = new QProgressBar(this);
    pProgress->setObjectName(QStringLiteral("pProgress"));
    pProgress->setGeometry(128, 95, 233, kRowHeight);
    pProgress->setRange(0, 100);
    pProgress->setFont(LabelFont());
    BitBtn1 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(368, 72, 75, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TTransferWindow::BitBtn1Click);
}

void TTransferWindow::Begin() {
    m_latest = TTransferProgress{};
    m_running = true;
    BitBtn1->setText(QStringLiteral("Cancel"));
    m_rate = TTransferRate{};
    ShowShare(m_latest);
    CentreOnScreen(*this);
}

void TTransferWindow::BitBtn1Click() {
    if (BitBtn1->text() == QStringLiteral("Close")) {
        QDialog::reject();
        return;
    }
    Q_EMIT CancelAsked();
    // A question open meanwhile needs no answer any more.
    DropQuestion();
}

void TTransferWindow::reject() {
    // Escape presses the button: a running transfer is cancelled, not left.
    BitBtn1Click();
}

void TTransferWindow::Show(const TTransferProgress& progress) {
    m_latest = progress;
    // Measured as the news comes, not when the window next shows it.
    m_rate.Count(progress.fileName, progress.bytes, TTransferRate::TClock::now());
    m_running = !progress.ended;
    if (progress.ended) {
        // The sender has gone: nobody waits for an answer any more.
        DropQuestion();
    }
    // An ending goes out at once; other changes wait for the timer on its way.
    if (!progress.ended && m_applyTimer.isActive()) {
        return;
    }
    ApplyPending();
}

void TTransferWindow::ApplyPending() {
    const TTransferProgress progress = m_latest;
    const qint64 since = m_sinceApply.elapsed();
    if (!progress.ended && since < kShowIntervalMs) {
        if (!m_applyTimer.isActive()) {
            m_applyTimer.start(static_cast<int>(kShowIntervalMs - since));
        }
        return; // the timer shows the latest
    }
    m_applyTimer.stop();
    m_sinceApply.restart();
    Apply(progress);
}

void TTransferWindow::Apply(const TTransferProgress& progress) {
    const QString name = FileNameFromSystem(progress.fileName);
    // A path too long for the row keeps its start and its file name.
    lFilename->setText(
        lFilename->fontMetrics().elidedText(name, Qt::ElideMiddle, lFilename->width()));
    lFilename->setToolTip(name);
    lStatus->setText(FromUtf8(progress.status));
    QString bytes = QString::number(progress.bytes);
    if (progress.totalBytes >= 0) {
        bytes += QStringLiteral(" of ") + QString::number(progress.totalBytes);
    }
    lBytes->setText(bytes);
    if (m_second == TRow::Rate) {
        lBlocks->setText(
            QStringLiteral("%1 bytes/s")
                .arg(static_cast<qint64>(std::llround(m_rate.BytesPerSecond().value_or(0)))));
    } else {
        lBlocks->setText(QString::number(progress.blocks));
    }
    ShowShare(progress);
    lErrors->setText(QString::number(progress.errorCount));
    BitBtn1->setText(progress.ended ? QStringLiteral("Close") : QStringLiteral("Cancel"));
    Q_EMIT ProgressShown(progress);
}

QString TTransferWindow::TimeText(double seconds) {
    const auto whole = static_cast<qint64>(std::ceil(std::max(seconds, 0.0)));
    const QLatin1Char zero('0');
    if (whole < 3600) {
        return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, zero);
    }
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg((whole / 60) % 60, 2, 10, zero)
        .arg(whole % 60, 2, 10, zero);
}

void TTransferWindow::ShowShare(const TTransferProgress& progress) {
    const std::optional<int> percent = PercentDone(progress);
    // Without a size (an X-Modem download) there is no share to show.
    pProgress->setEnabled(percent.has_value());
    pProgress->setTextVisible(percent.has_value());
    pProgress->setValue(percent.value_or(0));
    QString left;
    if (percent && *percent == 100) {
        left = TimeText(0);
    } else if (const std::optional<double> rate = m_rate.BytesPerSecond();
               percent && rate && *rate > 0 && !progress.ended) {
        left = TimeText(static_cast<double>(progress.totalBytes - progress.bytes) / *rate);
    }
    lTimeLeft->setText(left);
}

void TTransferWindow::DropQuestion() {
    if (m_question != nullptr) {
        m_question->reject();
    }
}

std::optional<TExistingFile> TTransferWindow::AskExisting(const QString& path) {
    if (m_question != nullptr || !m_running) {
        return std::nullopt;
    }
    QMessageBox question(QMessageBox::Question, QStringLiteral("File Exists"),
                         path + QStringLiteral(" is already there. What should happen to it and to "
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
    // The time the question was open is no part of the rate.
    m_rate.Rebase();
    const QAbstractButton* clicked = question.clickedButton();
    // Taken down without an answer (the transfer ended or was cancelled).
    if (clicked == nullptr || !m_running) {
        return std::nullopt;
    }
    return static_cast<TExistingFile>(clicked->property("choice").toInt());
}

} // namespace telvora
