#include "transfer/zmodem_upload.h"

namespace telvora {

TZmodemUpload::TZmodemUpload(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("ZmodemUpload"), QStringLiteral("ZMODEM Upload"),
                               QStringLiteral("Bytes TX     :"), QStringLiteral("Rate         :"),
                               QStringLiteral("TX Errors    :"), TRow::Rate}),
      m_sender(*this, m_files), m_pumper([this] { PumpWhileDue(); }) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        const std::size_t taken = m_sender.ReceiveChunk(data, count);
        // A reply may have opened the window for more data.
        PumpSoon();
        return taken;
    });
}

TZmodemUpload::~TZmodemUpload() {
    StopPumping();
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
    {
        std::lock_guard lock(m_pumpMutex);
        m_pumpDue = true;
    }
    m_pumpWake.notify_one();
}

void TZmodemUpload::PumpWhileDue() {
    for (;;) {
        {
            std::unique_lock lock(m_pumpMutex);
            m_pumpWake.wait(lock, [this] { return m_pumpDue || m_pumpStop; });
            if (m_pumpStop) {
                return;
            }
            m_pumpDue = false;
        }
        // The sender's lock is free between two bursts, so a reply or a
        // cancel gets its turn; the stream window stops the bursts anyway
        // once the receiver is that far behind.
        while (m_sender.Pump()) {
            std::lock_guard lock(m_pumpMutex);
            if (m_pumpStop) {
                return;
            }
        }
    }
}

void TZmodemUpload::StopPumping() {
    {
        std::lock_guard lock(m_pumpMutex);
        m_pumpStop = true;
    }
    m_pumpWake.notify_one();
    if (m_pumper.joinable()) {
        m_pumper.join();
    }
}

} // namespace telvora
