#include "transfer/zmodem_upload.h"

#include <QElapsedTimer>

namespace telvora {

TZmodemUpload::TZmodemUpload(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("ZmodemUpload"), QStringLiteral("ZMODEM Upload"),
                               QStringLiteral("Bytes TX     :"), QStringLiteral("Rate         :"),
                               QStringLiteral("TX Errors    :"), TRow::Rate}),
      m_sender(*this, m_files) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        m_sender.ReceiveChunk(data, count);
        // A reply may have opened the window for more data.
        PumpSoon();
    });
}

TZmodemUpload::~TZmodemUpload() {
    m_pump.ShutDown();
    TransportLost();
}

void TZmodemUpload::Start(TLiveConnection* line, const std::vector<std::string>& paths,
                          std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_sender.Start(paths);
    PumpSoon();
}

void TZmodemUpload::Tick() {
    m_sender.TimeoutTimer();
    PumpSoon();
}

void TZmodemUpload::PumpSoon() {
    if (m_sender.WantsToSend() && !m_pumpQueued.exchange(true)) {
        m_pump.Post([this] { PumpSlice(); });
    }
}

void TZmodemUpload::PumpSlice() {
    m_pumpQueued = false;
    QElapsedTimer slice;
    slice.start();
    while (m_sender.Pump() && slice.elapsed() < kSliceMs) {
    }
    PumpSoon();
}

} // namespace telvora
