#include "transfer/transfer_window.h"

#include "common/qt_text.h"
#include "common/window_placement.h"
#include "connection/live_connection.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>

#include <vector>

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
    label->setGeometry(left, top, width, 12);
    label->setFont(LabelFont());
    label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    return label;
}

} // namespace

// The bytes of the live line while a transfer runs, handed to its state
// machine. The line is taken before the state machine starts: what comes in
// between (the start of a board's send that waited for the download) is kept
// and handed on first once it has started.
class TTransferWindow::TStartingSink : public TChunkSink {
public:
    explicit TStartingSink(std::function<std::size_t(const std::uint8_t*, std::size_t)> receive)
        : m_receive(std::move(receive)) {}

    int ReceiveChunk(const std::uint8_t* data, int count) override {
        {
            std::lock_guard lock(m_mutex);
            if (!m_started) {
                m_early.insert(m_early.end(), data, data + count);
                return count;
            }
        }
        return static_cast<int>(m_receive(data, static_cast<std::size_t>(count)));
    }
    // A new transfer: nothing goes on until it has started.
    void Reset() {
        std::lock_guard lock(m_mutex);
        m_started = false;
        m_early.clear();
    }
    // Under the lock, so that bytes arriving meanwhile wait behind these.
    void Started() {
        std::lock_guard lock(m_mutex);
        m_started = true;
        if (!m_early.empty()) {
            m_receive(m_early.data(), m_early.size());
            m_early.clear();
        }
    }

private:
    std::function<std::size_t(const std::uint8_t*, std::size_t)> m_receive;
    std::mutex m_mutex;
    bool m_started = false;            // guarded by m_mutex
    std::vector<std::uint8_t> m_early; // guarded by m_mutex
};

TTransferWindow::TTransferWindow(QWidget* parent, const TCaptions& captions)
    : QDialog(parent), m_blockTimer([this] { Tick(); }), m_second(captions.second) {
    BuildWindow(captions);
    m_applyTimer.setSingleShot(true);
    connect(&m_applyTimer, &QTimer::timeout, this, &TTransferWindow::ApplyPending);
    m_sinceApply.start();
}

TTransferWindow::~TTransferWindow() {
    m_ui.ShutDown();
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
    image->setPixmap(CasePicture(450, 102));
    AddLabel(this, "Label1", QStringLiteral("Filename     :"), 8, 5, 113);
    AddLabel(this, "Label3", captions.bytes, 8, 29, 113);
    AddLabel(this, "Label4", captions.blocks, 8, 45, 113);
    AddLabel(this, "Label5", captions.errors, 8, 61, 113);
    AddLabel(this, "Label6", QStringLiteral("Status       :"), 8, 88, 113);
    lFilename = AddLabel(this, "lFilename", {}, 128, 5, 377);
    lBytes = AddLabel(this, "lBytes", {}, 128, 29, 233);
    lBlocks = AddLabel(this, "lBlocks", {}, 128, 45, 113);
    lErrors = AddLabel(this, "lErrors", {}, 128, 61, 113);
    lStatus = AddLabel(this, "lStatus", {}, 128, 88, 233);
    BitBtn1 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(368, 72, 75, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TTransferWindow::BitBtn1Click);
}

void TTransferWindow::SetSink(
    std::function<std::size_t(const std::uint8_t*, std::size_t)> receive) {
    m_sink = std::make_shared<TStartingSink>(std::move(receive));
}

std::shared_ptr<TChunkSink> TTransferWindow::Sink() const {
    return m_sink;
}

void TTransferWindow::Started() {
    m_sink->Started();
}

void TTransferWindow::Begin(TLiveConnection* line, std::function<void()> endTransferMode) {
    m_sink->Reset();
    m_line = line;
    m_endTransferMode = std::move(endTransferMode);
    BitBtn1->setText(QStringLiteral("Cancel"));
    m_sampleFile.clear();
    m_sampleBytes = 0;
    m_rate = QStringLiteral("0 bytes/s");
    m_sinceSample.start();
    CentreOnScreen(*this);
}

void TTransferWindow::TransportLost() {
    LineLost();
    // Nothing can be on its way to the line any more: the state machine
    // sends under its lock, and has stopped sending.
    m_line = nullptr;
}

void TTransferWindow::BitBtn1Click() {
    if (BitBtn1->text() == QStringLiteral("Close")) {
        QDialog::reject();
        return;
    }
    UserCancel();
}

void TTransferWindow::reject() {
    // Escape presses the button: a running transfer is cancelled, not left.
    BitBtn1Click();
}

void TTransferWindow::Send(const std::uint8_t* bytes, std::size_t count) {
    if (m_line != nullptr) {
        m_line->SendTransferBytes(bytes, static_cast<int>(count));
    }
}

void TTransferWindow::ShowProgress(const TTransferProgress& progress) {
    {
        std::lock_guard lock(m_progressMutex);
        m_pending = progress;
        // An ending goes out at once, in order with what the line reports
        // next (its own end); other changes wait for the one on its way.
        if (m_applyQueued && !progress.ended) {
            return;
        }
        m_applyQueued = true;
    }
    m_ui.RunOrPost([this] { ApplyPending(); });
}

void TTransferWindow::ApplyPending() {
    TTransferProgress progress;
    {
        std::lock_guard lock(m_progressMutex);
        progress = m_pending;
        const qint64 since = m_sinceApply.elapsed();
        if (!progress.ended && since < kShowIntervalMs) {
            if (!m_applyTimer.isActive()) {
                m_applyTimer.start(static_cast<int>(kShowIntervalMs - since));
            }
            return; // still queued: the timer shows the latest
        }
        m_applyQueued = false;
    }
    m_applyTimer.stop();
    m_sinceApply.restart();
    Apply(progress);
}

void TTransferWindow::Apply(const TTransferProgress& progress) {
    lFilename->setText(FileNameFromSystem(progress.fileName));
    lStatus->setText(FromUtf8(progress.status));
    QString bytes = QString::number(progress.bytes);
    if (progress.totalBytes >= 0) {
        bytes += QStringLiteral(" of ") + QString::number(progress.totalBytes);
    }
    lBytes->setText(bytes);
    lBlocks->setText(m_second == TRow::Rate ? RateText(progress)
                                            : QString::number(progress.blocks));
    lErrors->setText(QString::number(progress.errorCount));
    BitBtn1->setText(progress.ended ? QStringLiteral("Close") : QStringLiteral("Cancel"));
    Q_EMIT ProgressShown(progress);
}

QString TTransferWindow::RateText(const TTransferProgress& progress) {
    // Measured over a second or more, and afresh for each file: a resumed
    // file's first count holds what was already there.
    constexpr qint64 kSampleMs = 1000;
    if (progress.fileName != m_sampleFile || progress.bytes < m_sampleBytes) {
        m_sampleFile = progress.fileName;
        m_sampleBytes = progress.bytes;
        m_sinceSample.restart();
        return m_rate;
    }
    const qint64 elapsed = m_sinceSample.elapsed();
    if (elapsed >= kSampleMs) {
        m_rate =
            QStringLiteral("%1 bytes/s").arg((progress.bytes - m_sampleBytes) * 1000 / elapsed);
        m_sampleBytes = progress.bytes;
        m_sinceSample.restart();
    }
    return m_rate;
}

void TTransferWindow::Alert() {
    m_ui.RunOrPost([] { QApplication::beep(); });
}

void TTransferWindow::EndTransferMode() {
    m_ui.RunOrPost([this] {
        if (m_endTransferMode) {
            m_endTransferMode();
        }
    });
}

void TTransferWindow::ArmTimer(int intervalMs) {
    m_blockTimer.Arm(intervalMs);
}

void TTransferWindow::DisableTimer() {
    m_blockTimer.Disable();
}

} // namespace telvora
